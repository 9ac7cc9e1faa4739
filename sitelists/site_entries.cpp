#include "sitelists/site_entries.h"

#include <algorithm>
#include <string>

#include "platform/files.h"
#include "settings/file_catalogue.h"
#include "sitelists/line_reader.h"

namespace sitelists {
namespace {

constexpr std::size_t kSiteLineSize = 128;  // lines of at most 127 characters

// A slot whose text names a file: records the path when asked, then its lines. False when
// the text names no file.
bool VisitFileSlot(const SiteWalk& walk, const SiteEntry& slot,
                   const std::function<void(const SiteEntry&)>& visit) {
    std::string path(slot.text);
    if (!settings::ResolveFilePath(path)) return false;
    if (walk.filePaths == FilePaths::kRecorded && path.size() <= kMaxSiteName) {
        auto name = SiteListImage().subspan(SiteNameOffset(slot.list, slot.index), kSlotSize);
        std::fill(name.begin(), name.end(), 0);
        std::copy(path.begin(), path.end(), name.begin());
    }
    const int file = OpenLineFile(path);
    if (file == 0) return true;  // unreadable: no entries
    SiteEntry entry = slot;
    entry.kind = EntryKind::kFileSlot;
    visit(entry);
    entry.kind = EntryKind::kFileLine;
    std::string line;
    while (ReadLine(file, line, kSiteLineSize) > 0) {
        entry.text = line;
        visit(entry);
    }
    CloseLineFile(file);
    return true;
}

}  // namespace

int SplitUrl(std::string_view text, std::string& host, std::string& path) {
    std::size_t start = text.find("://");
    start = start == std::string_view::npos ? 0 : start + 3;
    std::size_t end = text.find_first_of("/:", start);
    host = std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
    path.clear();
    if (end != std::string_view::npos) {
        std::size_t slash = text.find('/', end);
        if (slash != std::string_view::npos) path = std::string(text.substr(slash + 1));
    }
    return 1;
}

void StripScheme(std::string& text) {
    if (text.size() < 3) return;
    std::size_t at = text.find("://");
    if (at != std::string::npos) text = text.substr(at + 3);
}

void ForEachSiteEntry(const SiteWalk& walk, const std::function<void(const SiteEntry&)>& visit) {
    // Every entry is first looked for as a file, in the same directories.
    platform::FileSearchSnapshot directories;
    for (SiteList list : walk.lists) {
        for (int index = 0; index < kEntriesPerList; ++index) {
            const std::string text = SiteName(list, index);
            if (text.empty()) {
                if (walk.emptySlot == EmptySlot::kSkipped) continue;
                if (index >= kSlotsPerBlock) break;
                index = kSlotsPerBlock - 1;  // on to block 2
                continue;
            }
            const SiteEntry slot{list, index, EntryKind::kSite, text};
            if (!VisitFileSlot(walk, slot, visit)) visit(slot);
        }
    }
}

}  // namespace sitelists
