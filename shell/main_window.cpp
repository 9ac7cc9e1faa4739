#include "shell/main_window.h"

#include <cstdio>

#include "dialogs/about_box.h"
#include "dialogs/console.h"
#include "dialogs/headquarters.h"
#include "platform/files.h"
#include "platform/process_state.h"
#include "policy/database_rebuild.h"
#include "policy/policy.h"
#include "progress/transfer_status.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/filter_registration.h"
#include "settings/settings_store.h"
#include "ui/dialog.h"
#include "ui/help.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "update/download_schedule.h"
#include "update/http_transfer.h"
#include "update/list_update.h"

namespace shell {
namespace {

using namespace ui;

ShellState g_shell;

constexpr int kTitleString = 2;           // "Veldana - Proxy"
constexpr int kHeadquartersString = 2311;  // "Head&quarters"
constexpr int kAutoDownloadString = 1718;
constexpr int kUpdateListsString = 2314;
constexpr int kProxySetupString = 8200;
constexpr int kUninstallString = 2025;  // "&Uninstall %s"
constexpr int kHelpString = 2315;
constexpr int kAboutString = 2316;
constexpr int kWinsockInUseString = 3104;
constexpr int kUninstallWarningString = 3005;
constexpr UINT kMainHelpContext = 117;

// The update's rebuild of the databases, which lives above the update.
int RebuildAfterUpdate(dbbuild::NoneDatabases none) { return policy::RebuildDatabases(none); }

void UpdateLists(HWND owner, update::UpdateStart start) {
    using update::UpdateOutcome;
    switch (update::UpdateAllLists(owner, start, RebuildAfterUpdate)) {
        case UpdateOutcome::kNotFetched:
            ReportStartupFailure(ExitStatus::kDownloadFailed,
                                 "the category lists were due for download, and no update "
                                 "server gave them; nothing was installed");
            break;
        case UpdateOutcome::kInstallFailed:
            ReportStartupFailure(ExitStatus::kDownloadFailed,
                                 "the downloaded category lists could not be installed");
            break;
        case UpdateOutcome::kRebuildFailed:
            ReportStartupFailure(ExitStatus::kDatabaseBuildFailed,
                                 "the lists were installed, but the databases could not be "
                                 "built; the last good ones stay in use");
            break;
        default:
            break;
    }
}

bool AutoDownloadOn() { return settings::ReadSetting(settings::kKeyAutoDownload, {}, "1").starts_with("1"); }

void BuildSystemMenu(HWND hwnd) {
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    for (UINT position : {7u, 5u, 4u, 3u, 2u}) DeleteMenu(menu, position, MF_BYPOSITION);
    ModifyMenu(menu, SC_RESTORE, MF_BYCOMMAND | MF_STRING, SC_RESTORE,
               resources::LoadStr(kHeadquartersString));
    AppendMenu(menu, MF_SEPARATOR, 0);
    AppendMenu(menu, MF_STRING | (AutoDownloadOn() ? MF_CHECKED : MF_UNCHECKED), kCommandAutoDownload,
               resources::LoadStr(kAutoDownloadString));
    AppendMenu(menu, MF_STRING, kCommandUpdateLists, resources::LoadStr(kUpdateListsString));
    AppendMenu(menu, MF_SEPARATOR, 0);
    AppendMenu(menu, MF_STRING, kCommandProxySetup, resources::LoadStr(kProxySetupString));
    AppendMenu(menu, MF_SEPARATOR, 0);
    AppendMenu(menu, MF_STRING, kCommandUninstall,
               resources::FormatText(resources::LoadStr(kUninstallString), resources::LoadStr(kTitleString)));
    AppendMenu(menu, MF_SEPARATOR, 0);
    AppendMenu(menu, MF_STRING, kCommandHelp, resources::LoadStr(kHelpString));
    AppendMenu(menu, MF_STRING, kCommandAbout, resources::LoadStr(kAboutString));
}

void OnCreate(HWND hwnd) {
    g_shell.windowCreated = true;
    SetTimer(hwnd, kMainTimerId, kMainTimerPeriodMs);
    PostMessage(hwnd, WM_TIMER, 0, 0);
    if (settings::OpenCatalogueFile(settings::kFileUpdateMarker, settings::kModeExists) > 0) {
        g_shell.currentIcon = g_shell.upgradeIcon;
        settings::WriteSetting(settings::kKeyUpgradeSeen, {}, "0");
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    if (update::CheckDownloadDue())
        UpdateLists(0, AutoDownloadOn() ? update::UpdateStart::kAutomatic
                                        : update::UpdateStart::kByAdministrator);
    else if (!policy::CheckDatabasesAtStartup())
        ReportStartupFailure(ExitStatus::kDatabaseBuildFailed,
                             "the databases could not all be built and published; the last "
                             "good ones stay in use");
    if (g_shell.quickRun) {
        KillTimer(hwnd, kMainTimerId);
        DestroyWindow(hwnd);
        PostQuitMessage(0);
    }
}

void OnTimer() {
    dialogs::ConsoleState& console = dialogs::Console();
    if (console.timerBusy) return;
    console.timerBusy = true;
    if (update::CheckDownloadDue() && AutoDownloadOn()) UpdateLists(0, update::UpdateStart::kAutomatic);
    if (console.headquartersOpen)
        dialogs::RefreshPeriod(console.headquartersWindow);
    else
        policy::Policy().policy.leisureNow = policy::IsLeisureTimeNow();
    console.timerBusy = false;
}

void OpenHeadquarters(HWND hwnd) {
    dialogs::ConsoleState& console = dialogs::Console();
    console.headquartersOpen = true;
    policy::Policy().policy.leisureNow = policy::IsLeisureTimeNow();
    dialogs::RunHeadquartersDialog(hwnd);
    console.headquartersOpen = false;
}

void OnCommand(HWND hwnd, UINT command) {
    switch (command) {
        case kCommandAutoDownload: {
            HMENU menu = GetSystemMenu(hwnd, FALSE);
            if (AutoDownloadOn()) {
                CheckMenuItem(menu, kCommandAutoDownload, MF_BYCOMMAND | MF_UNCHECKED);
                settings::WriteSetting(settings::kKeyAutoDownload, {}, "0");
            } else {
                CheckMenuItem(menu, kCommandAutoDownload, MF_BYCOMMAND | MF_CHECKED);
                settings::WriteSetting(settings::kKeyAutoDownload, {}, "1");
            }
            return;
        }
        case kCommandUpdateLists:
            update::CheckDownloadDue();
            UpdateLists(hwnd, update::UpdateStart::kByAdministrator);
            return;
        case kCommandOpenHeadquarters:
            OpenHeadquarters(hwnd);
            return;
        case kCommandProxySetup:
            dialogs::RunProxyDialog(hwnd);
            return;
        case kCommandAbout:
            dialogs::RunAboutBox(hwnd);
            return;
        case kCommandHelp:
            WinHelp(hwnd, dialogs::kHelpFile, kMainHelpContext);
            return;
        case kCommandUninstall:
            g_shell.uninstallRequest = true;
            SendMessage(hwnd, WM_CLOSE, 0, 0);
            return;
        default:
            return;
    }
}

// The uninstall steps of the shutdown: the socket library must not be in use, and the
// administrator confirms; Cancel leaves everything in place.
void Uninstall() {
    using namespace settings;
    const std::string caption = resources::LoadStr(resources::kMessageCaptionString);
    if (OpenCatalogueFile(kFileSocketLibrary, kModeExists) > 0) {
        const int handle = OpenCatalogueFile(kFileSocketLibrary, kModeReadWrite);
        if (handle < 0)
            MessageBox(0, resources::LoadStr(kWinsockInUseString), caption, MB_OK | MB_ICONEXCLAMATION);
        else
            platform::CloseFile(handle);
    }
    if (MessageBox(0, resources::LoadStr(kUninstallWarningString), caption,
                   MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL)
        g_shell.uninstallRequest = false;
    if (!g_shell.uninstallRequest) return;
    RemoveFilterAndSettings();
    StartUninstaller();
    for (int file : {kFileVeldaNotBin, kFileVeldaYesBin, kFileNoneNotBin, kFileNoneYesBin})
        OpenCatalogueFile(file, kModeDelete);
}

LRESULT Shutdown(HWND hwnd, WPARAM exitValue) {
    if (g_shell.uninstallRequest) Uninstall();
    settings::OpenCatalogueFile(settings::kFileIvdIni, settings::kModeDelete);
    KillTimer(hwnd, kMainTimerId);
    DestroyWindow(hwnd);
    g_shell.mainWindow = 0;
    PostQuitMessage(static_cast<int>(exitValue));
    return 0;
}

void OnProgress(WPARAM remainingPercent, LPARAM size) {
    const std::string& name = update::HttpTransfer().downloadFileName;
    if (name.empty()) return;
    int done = 100 - static_cast<int>(remainingPercent);
    auto& status = progress::TransferStatus();
    status.percentage = done;
    progress::ShowTransferStatus(ProgressText(name, done, static_cast<long>(size)),
                                 status.window == 0 ? progress::StatusLevel::kNew
                                                    : progress::StatusLevel::kSame);
}

}  // namespace

ShellState& Shell() { return g_shell; }
void ResetShell() { g_shell = ShellState{}; }

void EndSession() {
    const HWND main = g_shell.mainWindow;
    if (main && SendMessage(main, WM_QUERYENDSESSION, 0, 0)) SendMessage(main, WM_ENDSESSION, TRUE, 0);
    PostQuitMessage(0);
}

void ReportStartupFailure(ExitStatus status, std::string text) {
    if (!g_shell.quickRun || g_shell.exitStatus != ExitStatus::kOk) return;
    g_shell.exitStatus = status;
    g_shell.failure = std::move(text);
}
namespace {
const platform::StateReset kResetShell{platform::StateLayer::kShell, &ResetShell};
}  // namespace

std::string ProgressText(const std::string& name, int done, long size) {
    char text[256];
    if (size >= 1000000) {
        std::string format = resources::LoadStr(5618);
        std::snprintf(text, sizeof text, format.c_str(), name.c_str(), done, static_cast<int>(size / 1000000),
                      static_cast<int>(size / 1000 % 1000), static_cast<int>(size % 1000));
    } else if (size >= 1000) {
        std::string format = resources::LoadStr(5617);
        std::snprintf(text, sizeof text, format.c_str(), name.c_str(), done,
                      static_cast<int>(size / 1000), static_cast<int>(size % 1000));
    } else {
        std::string format = resources::LoadStr(5616);
        std::snprintf(text, sizeof text, format.c_str(), name.c_str(), done, static_cast<int>(size));
    }
    return text;
}

LRESULT MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            g_shell.mainWindow = hwnd;
            dialogs::Console().mainWindow = hwnd;
            update::ListUpdate().mainWindow = hwnd;
            OnCreate(hwnd);
            return 0;
        case WM_TIMER:
            OnTimer();
            return 0;
        case WM_PAINT: {
            if (!IsIconic(hwnd)) return DefWindowProc(hwnd, message, wParam, lParam);
            PAINTSTRUCT ps;
            HDC hdc = BeginPaint(hwnd, ps);
            if (g_shell.currentIcon) DrawIcon(hdc, 0, 0, g_shell.currentIcon);
            EndPaint(hwnd, ps);
            return 0;
        }
        case WM_QUERYOPEN:
            if (!dialogs::Console().headquartersOpen)
                PostMessage(hwnd, WM_COMMAND, kCommandOpenHeadquarters, 0);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) >= 0xF000) return DefWindowProc(hwnd, message, wParam, lParam);
            OnCommand(hwnd, static_cast<UINT>(wParam));
            return 0;
        case WM_COMMAND:
            OnCommand(hwnd, static_cast<UINT>(wParam));
            return 0;
        case update::WM_TRANSFER_PROGRESS:
            OnProgress(wParam, lParam);
            return 0;
        case update::WM_SHOW_UPGRADE_ICON:
            g_shell.currentIcon = g_shell.upgradeIcon;
            InvalidateRect(hwnd, nullptr, TRUE);
            UpdateWindow(hwnd);
            return 0;
        case WM_CLOSE:
        case WM_QUIT:
        case WM_CLOSE_CONSOLE:
            return Shutdown(hwnd, wParam);
        case WM_QUERYENDSESSION:
            return 1;
        case WM_ENDSESSION:
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

BOOL RegisterMainWindowClass() {
    WNDCLASS wc;
    wc.className = "ProxyPClass";
    wc.proc = MainWindowProc;
    wc.icon = g_shell.defaultIcon;
    wc.background = GetStockObject(WHITE_BRUSH);
    return RegisterClass(wc);
}

HWND CreateMainWindow() {
    std::string title = resources::LoadStr(kTitleString);
    HWND hwnd = CreateWindowEx(0, "ProxyPClass", title, WS_OVERLAPPEDWINDOW, 0, 0, 32, 32, 0);
    if (!IsWindow(hwnd)) return 0;
    BuildSystemMenu(hwnd);
    ShowWindow(hwnd, SW_SHOWMINIMIZED);
    SetWindowText(hwnd, title);
    UpdateWindow(hwnd);
    return hwnd;
}

}  // namespace shell
