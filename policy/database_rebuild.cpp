#include "policy/database_rebuild.h"

#include <sys/stat.h>

#include <cstdio>

#include "dbbuild/database_build.h"
#include "dbbuild/dns_hash.h"
#include "platform/files.h"
#include "policy/policy.h"
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

void PublishDatabases(int databasesRebuilt, int rebuildDnsHash) {
    if (!databasesRebuilt && !rebuildDnsHash) return;
    if (rebuildDnsHash) {
        SetBinChanged("0");
        std::string path;
        GetDnsHashPath(path);
        std::string temp = dbbuild::TemporaryName(path);
        if (dbbuild::BuildDnsHash(temp)) {
            platform::RemoveFile(path);
            if (!platform::ReplaceFile(temp, path)) std::remove(temp.c_str());
        } else {
            std::remove(temp.c_str());
        }
        WriteSetting(kKeyDnsDataFile, {}, path);
    }
    SetBinChanged("1");
}

int RebuildDatabases(int includeNoneDatabases) {
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
    if (includeNoneDatabases == 1) {
        if (!dbbuild::BuildDatabase(kFileNoneNotBin, kAllCategories)) return 0;
        if (!dbbuild::BuildDatabase(kFileNoneYesBin, kAllCategories)) return 0;
    }
    bool restricted = dbbuild::BuildDatabase(kFileVeldaNotBin, kAllCategories) == 1;
    bool approved = dbbuild::BuildDatabase(kFileVeldaYesBin, kAllCategories) == 1;
    if (restricted && approved) {
        PublishPolicy(0, 1, 1);
        return 1;
    }
    SetBinChanged("0");
    return 0;
}

int DatabaseIsStale(int which) {
    int listSetting = which == 0 ? kKeyNotListReplacement : kKeyYesListReplacement;
    int database = which == 0 ? kFileVeldaNotBin : kFileVeldaYesBin;
    std::string listName = ReadTableSetting(listSetting);

    int databaseDate = OpenCatalogueFile(database, kModeDate);
    if (databaseDate < 0) return 1;
    int listDate;
    if (listName.empty()) {
        listDate = OpenCatalogueFile(which == 0 ? kFileVeldaNot : kFileVeldaYes, kModeDate);
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
        RebuildDatabases(1);
        return;
    }
    if (DatabaseIsStale(0) || DatabaseIsStale(1)) RebuildDatabases(0);
}

}  // namespace policy
