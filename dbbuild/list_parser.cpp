#include "dbbuild/list_parser.h"

#include <algorithm>
#include <string>

#include "dbbuild/record_file.h"
#include "platform/files.h"
#include "platform/process_state.h"
#include "settings/file_catalogue.h"
#include "sitelists/site_entries.h"

namespace dbbuild {

using namespace dbread;

namespace {

constexpr std::uint16_t kSiteBlockBit = 0x1000;
constexpr std::uint16_t kAllCategories = 0xFFFF;
constexpr std::uint16_t kApprovedDomainCategories = 0xFEFE;
constexpr std::uint16_t kRestrictedDomainFlags =
    kFlagAdminOpposite | kFlagApprovedDomain | kFlagOpposite;                      // 0x0182
constexpr std::uint16_t kOppositeEntryFlags = kFlagAdminOpposite | kFlagOpposite;  // 0x0102
constexpr std::uint32_t kSentinelAddress = 0xFFFFFFFF;
constexpr std::string_view kSentinelName = "Z.Z.Z.Z.Z";

struct ListParserState {
    std::vector<std::uint8_t> list;  // the unscrambled list, exactly as long as the file
    ListLayout layout;
    int level = 1;
};
ListParserState g_parser;

std::span<const std::uint8_t> Section(ListSpan span) {
    return SectionBytes(g_parser.list, span);
}

// One site entry: a slot's text (hasSlot: its address word is read and replaced), or a
// line of a file that slot `index` names.
void PutSiteEntry(std::string_view text, sitelists::SiteList list, int index, bool hasSlot,
                  bool approving, const sitelists::SiteResolver& resolve) {
    if (text.empty()) return;
    const bool restriction = list == sitelists::SiteList::kRestricted;
    std::string host, path;
    sitelists::SplitUrl(text, host, path);
    std::vector<std::uint8_t> block;
    if (!path.empty()) {
        std::vector<std::uint8_t> key;
        MakePathKey(path, key);
        if (key.size() > kMaxListItemKey) return;
        AddPathItem(block, restriction ? kAllCategories : 0, key);
    }
    const bool ownSense = restriction != approving;
    const std::uint16_t categories = ownSense ? kAllCategories : 0;
    const std::uint16_t flags = ownSense ? 0 : kOppositeEntryFlags;

    sitelists::AddressList addresses{};
    if (resolve && resolve(text, addresses)) {
        if (hasSlot) sitelists::SetSiteAddress(list, index, addresses[0]);
        for (std::uint32_t a : addresses) {
            if (a == 0) break;
            RdbPutAddress(a, categories, flags, block);
        }
        return;
    }
    const std::uint32_t stored = hasSlot ? sitelists::SiteAddress(list, index) : 0;
    if (stored != 0) RdbPutAddress(stored, categories, flags, block);
}

bool IsDottedNumbers(std::string_view name) {
    unsigned value = 0;
    for (char c : name) {
        if (c >= '0' && c <= '9') {
            value = std::min(value * 10 + static_cast<unsigned>(c - '0'), 1000u);
        } else if (c == '.') {
            if (value > 255) return false;
            value = 0;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int CheckListHeader(std::string_view fileName, std::span<const std::uint8_t> content,
                    unsigned acceptedSet) {
    ListLayout layout;
    std::string why;
    if (!ReadListLayout(fileName, content, acceptedSet, layout, why)) return 0;
    g_parser.level = layout.level;
    return layout.report;
}

int LoadCategoryList(std::string_view name) {
    ReleaseCategoryList();
    if (name.empty()) return 0;
    settings::SetListName(name);
    const int fd =
        settings::OpenCatalogueFile(settings::kFileNamedList, settings::kModeReadDenyWrite);
    if (fd < 0) return 0;
    platform::FileHandle file(fd);
    const std::int64_t size = platform::FileSize(file.get());
    if (size < static_cast<std::int64_t>(kMinListFileSize) ||
        size > static_cast<std::int64_t>(kMaxListFileSize))
        return 0;
    std::vector<std::uint8_t> list(static_cast<std::size_t>(size));
    std::uint8_t more = 0;
    if (!platform::ReadExact(file.get(), list) || platform::ReadSome(file.get(), {&more, 1}) != 0)
        return 0;
    file.reset();

    sitelists::UnscrambleSiteList(list);
    ListLayout layout;
    std::string why;
    if (!ReadListLayout(name, list, kBuildListKinds, layout, why)) return 0;
    g_parser.list = std::move(list);
    g_parser.layout = std::move(layout);
    g_parser.level = g_parser.layout.level;
    return 1;
}

int PutListAddresses(std::uint16_t flags, bool siteBlockMode) {
    const auto section =
        Section(siteBlockMode ? g_parser.layout.siteBlocks : g_parser.layout.addresses);
    std::vector<std::uint8_t> siteBlockKey;
    if (siteBlockMode) MakePathKey("!SLBLOCK!", siteBlockKey);
    std::vector<std::uint8_t> block;
    std::string why;
    std::size_t pos = 0;
    ListRecord record;
    int count = 0;
    while (ReadListRecord(section, pos, record, why) == ListRead::kEntry) {
        ++count;
        block.clear();
        std::uint16_t categories = record.categories;
        if (categories == 0) {
            std::size_t at = 0;
            ListPathItem item;
            while (NextPathItem(record.items, at, item)) {
                AddPathItem(block, item.categories, item.key);
                categories |= item.categories;
            }
        } else if (siteBlockMode) {
            AddPathItem(block, kSiteBlockBit, siteBlockKey);
            categories |= kSiteBlockBit;
        }
        RdbPutAddress(record.address, categories, flags, block);
    }
    return count;
}

void PutListAliases() {
    const auto section = Section(g_parser.layout.aliases);
    std::string why;
    std::size_t pos = 0;
    ListAlias alias;
    while (ReadListAlias(section, pos, alias, why) == ListRead::kEntry)
        for (std::size_t i = 0; i < alias.aliases.size() / 4; ++i)
            RdbAddAlias(alias.canonical, ListAliasAt(alias, i));
}

void PutSiteEntries(bool approving, const sitelists::SiteResolver& resolve) {
    const sitelists::SiteWalk walk{
        .lists = {sitelists::SiteList::kRestricted, sitelists::SiteList::kApproved},
        .emptySlot = sitelists::EmptySlot::kSkipped,
        .filePaths = sitelists::FilePaths::kRecorded,
    };
    sitelists::ForEachSiteEntry(walk, [&](const sitelists::SiteEntry& entry) {
        if (entry.kind == sitelists::EntryKind::kFileSlot) return;
        const bool hasSlot = entry.kind == sitelists::EntryKind::kSite;
        PutSiteEntry(entry.text, entry.list, entry.index, hasSlot, approving, resolve);
    });
}

std::string DomainKey(std::string_view name) {
    if (IsDottedNumbers(name)) return std::string(name);
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    std::vector<std::string_view> labels;
    for (std::size_t start = 0;;) {
        const std::size_t dot = name.find('.', start);
        labels.push_back(name.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    std::string key;
    key.reserve(name.size() + 1);
    for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
        key.append(*label);
        key.push_back('.');
    }
    key.pop_back();
    // A leading '.' of the name (an empty first label) would end the key with '.'.
    if (!key.empty() && key.back() == '.') key.pop_back();
    return key;
}

void PutDomains() {
    for (int i = 0; i < sitelists::kDomainRecords; ++i) {
        const std::string name = sitelists::DomainPart(i);
        if (name.empty()) continue;
        const std::string key = DomainKey(name);
        if (key.empty()) continue;
        const bool approved = sitelists::DomainKindAt(i) != 0;
        RdbPutName(key, approved ? kApprovedDomainCategories : 0,
                   approved ? kFlagApprovedDomain : kRestrictedDomainFlags);
    }
}

void PutSentinels() {
    std::vector<std::uint8_t> key, block;
    MakePathKey("TEST", key);
    AddPathItem(block, 0, key);
    RdbPutAddress(kSentinelAddress, kAllCategories, 0, block);
    RdbPutName(kSentinelName, kAllCategories, kFlagApprovedDomain);
}

int MakePathKey(std::string_view text, std::vector<std::uint8_t>& out) {
    out = PathKeyForLevel(g_parser.level, text);
    return static_cast<int>(out.size());
}

int ListFormatLevel() {
    return g_parser.level;
}
void SetListFormatLevel(int level) {
    g_parser.level = level;
}
const ListLayout& LoadedListLayout() {
    return g_parser.layout;
}

void ReleaseCategoryList() {
    g_parser.list = {};
    g_parser.layout = ListLayout{};
}

void ResetListParser() {
    g_parser = ListParserState{};
}
namespace {
const platform::StateReset kResetListParser{platform::StateLayer::kDbbuild, &ResetListParser};
}  // namespace

}  // namespace dbbuild
