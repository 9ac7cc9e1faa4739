#include "policy/database_rebuild.h"

#include <sys/stat.h>

#include <cstdio>

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

void SetBinChanged(const char* value) {
    WriteSetting(kKeyBinChanged, {}, value);
}

}  // namespace

void PublishDatabases(const Publication& publication) {
    if (!publication.databasesRebuilt && !publication.rebuildDnsHash) return;
    if (publication.rebuildDnsHash) {
        SetBinChanged("0");
        std::string path;
        GetDnsHashPath(path);
        std::string temp = dbbuild::TemporaryName(path);
        if (dbbuild::BuildDnsHash(temp, resolve::LookupOrResolve)) {
            platform::RemoveFile(path);
            if (!platform::ReplaceFile(temp, path)) std::remove(temp.c_str());
        } else {
            std::remove(temp.c_str());
        }
        WriteSetting(kKeyDnsDataFile, {}, path);
    }
    SetBinChanged("1");
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
    SetBinChanged("0");
    const sitelists::SiteResolver resolver = resolve::LookupOrResolve;
    if (none == dbbuild::NoneDatabases::kBuilt) {
        if (!dbbuild::BuildDatabase(kFileNoneNotBin, kAllCategories, resolver)) return 0;
        if (!dbbuild::BuildDatabase(kFileNoneYesBin, kAllCategories, resolver)) return 0;
    }
    bool restricted = dbbuild::BuildDatabase(kFileVeldaNotBin, kAllCategories, resolver) == 1;
    bool approved = dbbuild::BuildDatabase(kFileVeldaYesBin, kAllCategories, resolver) == 1;
    if (restricted && approved) {
        PublishPolicy({.databasesRebuilt = true, .rebuildDnsHash = true});
        return 1;
    }
    SetBinChanged("0");
    return 0;
}

int DatabaseIsStale(CategoryDatabase which) {
    const bool restricted = which == CategoryDatabase::kRestricted;
    int listSetting = restricted ? kKeyNotListReplacement : kKeyYesListReplacement;
    int database = restricted ? kFileVeldaNotBin : kFileVeldaYesBin;
    std::string listName = ReadTableSetting(listSetting);

    int databaseDate = OpenCatalogueFile(database, kModeDate);
    if (databaseDate < 0) return 1;
    int listDate;
    if (listName.empty()) {
        listDate = OpenCatalogueFile(restricted ? kFileVeldaNot : kFileVeldaYes, kModeDate);
    } else {
        SetListName(listName);
        listDate = OpenCatalogueFile(kFileNamedList, kModeDate);
    }
    if (listDate >= 1 && databaseDate < listDate) return 1;

    struct stat st {};
    if (::stat(CatalogueFilePath(database).c_str(), &st) != 0 || st.st_size == 0) return 1;
    return 0;
}

void CheckDatabasesAtStartup() {
    bool noneExist = OpenCatalogueFile(kFileNoneNotBin, kModeExists) > 0 &&
                     OpenCatalogueFile(kFileNoneYesBin, kModeExists) > 0;
    if (!noneExist) {
        RebuildDatabases(dbbuild::NoneDatabases::kBuilt);
        return;
    }
    if (DatabaseIsStale(CategoryDatabase::kRestricted) ||
        DatabaseIsStale(CategoryDatabase::kApproved))
        RebuildDatabases(dbbuild::NoneDatabases::kKept);
}

}  // namespace policy
