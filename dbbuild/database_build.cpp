#include "dbbuild/database_build.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "dbbuild/list_parser.h"
#include "dbbuild/record_file.h"
#include "platform/files.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "ui/progress.h"

namespace dbbuild {
namespace {

struct DatabaseKind {
    int fileId;
    int listSetting;  // 0: no list
    const char* standardList;
    bool approving;
    int noneLevel;  // format level of a database without a list
};

constexpr DatabaseKind kDatabases[] = {
    {settings::kFileVeldaNotBin, settings::kKeyNotListReplacement, "VELDA.NOT", false, 0},
    {settings::kFileVeldaYesBin, settings::kKeyYesListReplacement, "VELDA.YES", true, 0},
    {settings::kFileNoneNotBin, 0, nullptr, false, 3},
    {settings::kFileNoneYesBin, 0, nullptr, true, 1},
};

constexpr std::uint16_t kSiteBlockBit = 0x1000;
constexpr std::uint16_t kApprovedListFlags = 0x0002;

// The restoring half of the build: cursor, progress window, engine and list.
struct BuildScope {
    BuildScope() { ui::SetWaitCursor(true); }
    ~BuildScope() {
        ReleaseCategoryList();
        ui::CloseProgress();
        ui::SetWaitCursor(false);
    }
    BuildScope(const BuildScope&) = delete;
    BuildScope& operator=(const BuildScope&) = delete;
};

bool FillDatabase(const DatabaseKind& kind, const std::string& listName, std::uint16_t mask,
                  const sitelists::SiteResolver& resolve) {
    // The list is loaded (not yet inserted) before the sentinels, so that the sentinel's
    // path key takes this database's format level, not the one the previous build left.
    if (kind.listSetting != 0) {
        if (!LoadCategoryList(listName)) return false;
    } else {
        SetListFormatLevel(kind.noneLevel);
    }
    PutSentinels();
    if (kind.listSetting != 0) {
        if (!kind.approving) {
            PutListAddresses(0, false);
            if (mask & kSiteBlockBit) PutListAddresses(0, true);
        } else {
            PutListAddresses(kApprovedListFlags, false);
        }
        if (ListFormatLevel() >= 2) PutListAliases();
    }
    PutSiteEntries(kind.approving, resolve);
    PutDomains();
    return true;
}

}  // namespace

std::string TemporaryName(const std::string& path) {
    // The first '.' of the file name, not of the whole path: a '.' in a directory name
    // must not send the file elsewhere or give two databases one temporary name.
    std::size_t name = path.find_last_of('/');
    name = name == std::string::npos ? 0 : name + 1;
    std::size_t dot = path.find('.', name);
    return dot == std::string::npos ? path + "TMP" : path.substr(0, dot + 1) + "TMP";
}

int ReserveTemporaryFile(const std::string& path, std::string& temp) {
    const int fd = platform::CreateUniqueFile(TemporaryName(path) + "-", temp);
    if (fd < 0) return 0;
    ::close(fd);
    return 1;
}

bool IsTemporaryFileOf(const std::string& path, std::string_view name) {
    std::string base = TemporaryName(path);
    const std::size_t slash = base.find_last_of('/');
    if (slash != std::string::npos) base.erase(0, slash + 1);
    base += '-';
    if (name.size() != base.size() + platform::kUniqueSuffixLength || !name.starts_with(base)) return false;
    for (char c : name.substr(base.size()))
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

int BuildDatabase(int fileId, std::uint16_t categoryMask, const sitelists::SiteResolver& resolve) {
    const DatabaseKind* kind = nullptr;
    for (const auto& k : kDatabases)
        if (k.fileId == fileId) kind = &k;
    if (!kind) return 0;

    BuildScope scope;
    std::string finalPath = settings::CatalogueFilePath(fileId);
    if (platform::WriteDeniedAt(finalPath)) return 0;  // in use: left as it is
    ui::OpenProgress(resources::FormatText("Creating %s database ... \r\nPlease Wait!", finalPath));

    std::string listName;
    if (kind->listSetting != 0) {
        listName = settings::ReadTableSetting(kind->listSetting);
        if (listName.empty()) listName = kind->standardList;
        settings::SetListName(listName);
        int date = settings::OpenCatalogueFile(settings::kFileNamedList, settings::kModeDate);
        char text[16];
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(date));
        settings::WriteSetting(settings::kKeyCompiledListDate, {}, text);
    }

    std::string temp;
    if (!ReserveTemporaryFile(finalPath, temp)) return 0;
    bool ok = RdbCreate(temp, kBuildPathDataSize, kBuildAddressCapacity, kBuildNameCapacity) == 1;
    if (ok) ok = FillDatabase(*kind, listName, categoryMask, resolve);
    if (ok) {
        ui::SetProgressText(resources::FormatText("Building %s database ... \r\nPlease Wait!", finalPath));
        ok = RdbBuildIndexes(0, categoryMask) == 1;
    }
    ok = RdbClose() == 1 && ok;  // flushed to disk
    // The old database serves until the new one, complete, takes its name.
    if (ok) ok = !platform::WriteDeniedAt(finalPath) && platform::ReplaceFile(temp, finalPath);
    if (ok) platform::SyncDirectoryOf(finalPath);
    if (!ok) std::remove(temp.c_str());
    return ok ? 1 : 0;
}

}  // namespace dbbuild
