#include "policy/database_rebuild.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "dbbuild/database_build.h"
#include "dbbuild/dns_hash.h"
#include "platform/files.h"
#include "resolve/resolvers.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"

namespace policy {
namespace {

using namespace settings;

constexpr std::uint16_t kAllCategories = 65535;

bool SetBinChanged(const char* value) {
    return WriteSetting(kKeyBinChanged, {}, value) == 1;
}

// The last-write moment of a catalogue file; false when there is none.
bool Modified(int fileId, std::timespec& time) {
    return platform::ModificationTime(CatalogueFilePath(fileId), time);
}
bool Before(const std::timespec& a, const std::timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}
// True for a regular file with content at `path`, with its last-write moment in `modified`.
bool HasContent(const std::string& path, std::timespec& modified) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
    modified = st.st_mtim;
    return true;
}

// True when DNSHASH.DAT must be built anew: missing or empty, older than a raw name list,
// or not the one DNSDataFile names.
bool DnsHashIsStale() {
    std::string path;
    GetDnsHashPath(path);
    std::timespec built{};
    if (!HasContent(path, built)) return true;
    if (ReadSetting(kKeyDnsDataFile) != path) return true;
    for (int raw : {kFileDnsRawNot, kFileDnsRawYes}) {
        std::timespec listTime{};
        if (Modified(raw, listTime) && Before(built, listTime)) return true;
    }
    return false;
}

// Takes away the temporary files that a killed or failed build left beside the databases:
// the ones ReserveTemporaryFile names, and the fixed names of earlier versions.
void RemoveLeftoverTemporaries() {
    std::string dnsHash;
    GetDnsHashPath(dnsHash);
    const std::string targets[] = {CatalogueFilePath(kFileNoneNotBin),
                                   CatalogueFilePath(kFileNoneYesBin),
                                   CatalogueFilePath(kFileVeldaNotBin),
                                   CatalogueFilePath(kFileVeldaYesBin), dnsHash};
    std::string directory;
    GetProgramDirectory(directory);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        const bool leftover = std::any_of(std::begin(targets), std::end(targets), [&](const auto& t) {
            const std::string fixed = std::filesystem::path(dbbuild::TemporaryName(t)).filename();
            return name == fixed || dbbuild::IsTemporaryFileOf(t, name);
        });
        std::error_code ignored;
        if (leftover && !entry.is_directory(ignored)) platform::RemoveFile(entry.path().string());
    }
}

}  // namespace

int PublishDatabases(const Publication& publication) {
    if (!publication.databasesRebuilt && !publication.rebuildDnsHash) return 1;
    if (publication.rebuildDnsHash) {
        if (!SetBinChanged("0")) return 0;
        std::string path;
        GetDnsHashPath(path);
        std::string temp;
        bool built = dbbuild::ReserveTemporaryFile(path, temp) == 1;
        // The old DNSHASH.DAT serves until the new one, complete and flushed, takes its name.
        built = built && dbbuild::BuildDnsHash(temp, resolve::LookupOrResolve) == 1 &&
                platform::ReplaceFile(temp, path);
        if (built) platform::SyncDirectoryOf(path);
        if (!built && !temp.empty()) std::remove(temp.c_str());
        // Without a complete DNSHASH.DAT there is nothing to announce: the flag stays "0".
        std::timespec written{};
        if (!HasContent(path, written)) return 0;
        if (WriteSetting(kKeyDnsDataFile, {}, path) != 1) return 0;
    }
    return SetBinChanged("1") ? 1 : 0;
}

int RebuildDatabases(dbbuild::NoneDatabases none) {
    // Each build looks for every site entry as a file: the directories are listed once for
    // the whole rebuild.
    platform::FileSearchSnapshot directories;
    // DNSHASH.DAT's raw name lists are read on a helper thread meanwhile; a rebuild that
    // fails before the publication drops that work.
    dbbuild::StartRawNamePass();
    struct DropPass {
        ~DropPass() { dbbuild::DropRawNamePass(); }
    } dropPass;
    // Nothing is built unless the filter has first been told that a rebuild runs.
    if (!SetBinChanged("0")) return 0;
    const sitelists::SiteResolver resolver = resolve::LookupOrResolve;
    if (none == dbbuild::NoneDatabases::kBuilt) {
        if (!dbbuild::BuildDatabase(kFileNoneNotBin, kAllCategories, resolver)) return 0;
        if (!dbbuild::BuildDatabase(kFileNoneYesBin, kAllCategories, resolver)) return 0;
    }
    bool restricted = dbbuild::BuildDatabase(kFileVeldaNotBin, kAllCategories, resolver) == 1;
    bool approved = dbbuild::BuildDatabase(kFileVeldaYesBin, kAllCategories, resolver) == 1;
    if (restricted && approved)
        return PublishDatabases({.databasesRebuilt = true, .rebuildDnsHash = true});
    return 0;
}

int DatabaseIsStale(CategoryDatabase which) {
    const bool restricted = which == CategoryDatabase::kRestricted;
    int listSetting = restricted ? kKeyNotListReplacement : kKeyYesListReplacement;
    int database = restricted ? kFileVeldaNotBin : kFileVeldaYesBin;
    std::string listName = ReadTableSetting(listSetting);

    std::timespec built{};
    if (!HasContent(CatalogueFilePath(database), built)) return 1;
    int list = restricted ? kFileVeldaNot : kFileVeldaYes;
    if (!listName.empty()) {
        SetListName(listName);
        list = kFileNamedList;
    }
    // Moments, not days: a list replaced on the day of the last build counts too.
    std::timespec listTime{};
    if (Modified(list, listTime) && Before(built, listTime)) return 1;
    return 0;
}

int CheckDatabasesAtStartup() {
    RemoveLeftoverTemporaries();
    bool noneExist = OpenCatalogueFile(kFileNoneNotBin, kModeExists) > 0 &&
                     OpenCatalogueFile(kFileNoneYesBin, kModeExists) > 0;
    if (!noneExist) return RebuildDatabases(dbbuild::NoneDatabases::kBuilt);
    // A flag left at "0" is a rebuild that was interrupted or failed: it is done again.
    if (DatabaseIsStale(CategoryDatabase::kRestricted) ||
        DatabaseIsStale(CategoryDatabase::kApproved) || ReadSetting(kKeyBinChanged) != "1")
        return RebuildDatabases(dbbuild::NoneDatabases::kKept);
    if (DnsHashIsStale()) return PublishDatabases({.rebuildDnsHash = true});
    return 1;
}

}  // namespace policy
