// The console's main window (class ProxyPClass): always minimized, its system menu is the
// command menu; a one-minute timer keeps the period in force current; it turns the transfer
// engine's progress messages into progress texts and runs the shutdown.
#pragma once

#include <string>

#include "ui/types.h"

namespace shell {

constexpr ui::UINT WM_CLOSE_CONSOLE = 1035;  // any local process may send it
constexpr ui::UINT kCommandOpenHeadquarters = 1510;
constexpr ui::UINT kCommandAutoDownload = 4011;
constexpr ui::UINT kCommandUpdateLists = 4000;
constexpr ui::UINT kCommandProxySetup = 8100;
constexpr ui::UINT kCommandUninstall = 102;
constexpr ui::UINT kCommandHelp = 1163;
constexpr ui::UINT kCommandAbout = 1022;
constexpr ui::UINT kMainTimerId = 1;
constexpr ui::UINT kMainTimerPeriodMs = 60000;

// The exit status of the console: what a scheduled "veldana /qr" tells its watcher.
enum class ExitStatus : int {
    kOk = 0,
    kStopped = 1,              // start-up failed or ended early (also a usage error)
    kStoreNotWritable = 2,     // the policy could not be published
    kDatabaseBuildFailed = 3,  // a database could not be built or published
    kDownloadFailed = 4,       // a download was due and did not install the lists
    kBusy = 5,                 // another console holds the installation, or it cannot be used
};

// The main window's state. The timer-busy flag and the Headquarters-open flag and window,
// which the dialogs share, are in dialogs::Console().
struct ShellState {
    ui::HWND mainWindow = 0;
    bool quickRun = false;
    bool windowCreated = false;
    bool uninstallRequest = false;
    // The open request went to the console already running; this one ends with status 0.
    bool handedOver = false;
    ui::HICON currentIcon = 0;
    ui::HICON defaultIcon = 0;
    ui::HICON upgradeIcon = 0;
    // The first failure of the start-up work and what it was; kOk when there was none.
    ExitStatus exitStatus = ExitStatus::kOk;
    std::string failure;
};
// Records a failure of the start-up work; the first one sets the exit status.
void ReportStartupFailure(ExitStatus status, std::string text);
ShellState& Shell();
void ResetShell();

// Registers ProxyPClass; FALSE when that fails.
ui::BOOL RegisterMainWindowClass();
// Creates the minimized main window with its system menu; 0 on failure.
ui::HWND CreateMainWindow();
ui::LRESULT MainWindowProc(ui::HWND hwnd, ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam);
// Ends the console as the end of a session does (SIGTERM, SIGINT): query end session, end
// session, then the message loop ends once the work in hand returns to it.
void EndSession();
// The progress text for a progress message: done percent of `size` bytes of `name`.
std::string ProgressText(const std::string& name, int done, long size);

}  // namespace shell
