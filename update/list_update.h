// The list update: VELDA.NOT, VELDA.YES, DNSRAW.YES and DNSRAW.NOT fetched from the update
// servers (primary, secondary, mirror: strings 13, 18, 19) through the transfer engine,
// installed under their own names only when all four fetches succeeded, then the databases
// rebuilt and one message shown (none when the update runs automatically, except the
// notice of a newer program). Also the identification of a list file by its header and the
// UPDATE marker.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "dbbuild/database_build.h"
#include "ui/types.h"

namespace update {

// Sent to the main window when a newer program was announced: it shows the upgrade icon.
constexpr ui::UINT WM_SHOW_UPGRADE_ICON = 0x0400 + 200;

// Results of UpdateOneList and FetchListFile.
enum FetchResult : int {
    kFetchSkipped = -1,  // a replacement list is set
    kFetchFailed = 0,
    kFetchReceived = 1,
    kFetchCurrent = 3,  // the installed file is current
};

struct ListUpdateState {
    ui::HWND mainWindow = 0;  // owner of every transfer (progress messages, timer)
    bool fetchInProgress = false;
};
ListUpdateState& ListUpdate();
void ResetListUpdate();

// Who started an update: an automatic one is quiet unless its owner is the active window.
enum class UpdateStart { kByAdministrator, kAutomatic };
// How an update ended: its closing message, and the console's exit status.
enum class UpdateOutcome {
    kNotFetched,     // a list could not be fetched
    kInstalled,      // every list is installed and the databases are rebuilt
    kAllCurrent,     // every list was current
    kInstallFailed,  // a fetched list could not take its name
    kRebuildFailed,
    kBusy,     // another network job runs: nothing done
    kSkipped,  // a replacement list is set: nothing done
};
// The rebuild of the databases once the lists are installed, passed in by the caller (it
// lives above this module): 1 when every database was built and published.
using DatabaseRebuild = std::function<int(dbbuild::NoneDatabases)>;

UpdateOutcome UpdateAllLists(ui::HWND owner, UpdateStart start, const DatabaseRebuild& rebuild);
int UpdateOneList(ui::HWND owner, int stringId, std::string& receivedPath, std::string_view fileName);
int FetchListFile(ui::HWND owner, int number, std::string& receivedPath, std::string_view fileName);
void ReportListFailure(ui::HWND owner, std::string_view fileName, int restrictedTextId,
                       int approvedTextId);
void AnnounceNewerProgram();
// 1: the installed file of that name holds a restricted list, 2 an approved list, 0 missing
// or invalid.
int IdentifyListFile(std::string_view fileName);

}  // namespace update
