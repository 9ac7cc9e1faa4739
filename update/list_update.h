// The list update: VELDA.NOT, VELDA.YES, DNSRAW.YES and DNSRAW.NOT fetched from the update
// servers (primary, secondary, mirror: strings 13, 18, 19) through the transfer engine,
// installed under their own names only when all four fetches succeeded, then the databases
// rebuilt and one message shown (none when the update runs automatically, except the
// notice of a newer program). Also the identification of a list file by its header, the
// UPDATE marker, and the storing of the Headquarters dialog's list selection.
#pragma once

#include <string>
#include <string_view>

#include "ui/types.h"

namespace update {

// Sent to the main window when a newer program was announced: it shows the upgrade icon.
constexpr ui::UINT WM_SHOW_UPGRADE_ICON = 0x0400 + 200;

// Fetch results: -1 skipped (a replacement list is set), 0 failed, 1 received, 3 current.
struct ListUpdateState {
    ui::HWND mainWindow = 0;  // owner of every transfer (progress messages, timer)
    bool fetchInProgress = false;
};
ListUpdateState& ListUpdate();
void ResetListUpdate();

void UpdateAllLists(ui::HWND owner, int automatic);
int UpdateOneList(ui::HWND owner, int stringId, std::string& receivedPath, std::string_view fileName);
int FetchListFile(ui::HWND owner, int number, std::string& receivedPath, std::string_view fileName);
void ReportListFailure(ui::HWND owner, std::string_view fileName, int restrictedTextId,
                       int approvedTextId);
void AnnounceNewerProgram();
// 1: the installed file of that name holds a restricted list, 2 an approved list, 0 missing
// or invalid.
int IdentifyListFile(std::string_view fileName);
void SelectListForPeriod(ui::HWND window, int selection);

}  // namespace update
