#include "shell/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/locations.h"
#include "platform/registry.h"
#include "policy/policy.h"
#include "progress/transfer_status.h"
#include "resolve/dns_client.h"
#include "settings/filter_registration.h"
#include "shell/main_window.h"
#include "sitelists/site_list.h"
#include "ui/gdi.h"
#include "ui/messages.h"
#include "ui/terminal_display.h"
#include "ui/window.h"

namespace shell {
namespace {

// How long a second console waits for the first to finish its start-up work.
constexpr int kLockWaitMs = 120 * 1000;

}  // namespace


bool IsQuickRun(const std::string& commandLine) {
    return commandLine.size() == 3 && commandLine[0] == '/' &&
           (commandLine[1] | 0x20) == 'q' && (commandLine[2] | 0x20) == 'r';
}

int ProgramEntry(const std::string& commandLine) {
    ShellState& shell = Shell();
    shell.quickRun = IsQuickRun(commandLine);
    // Resolving and database builds show their progress in the transfer progress window.
    progress::InstallProgressWindow();

    // One console at a time does the start-up work of an installation: two rebuilds of the
    // same databases would take each other's files away.
    const std::string directory = platform::ProgramDirectory();
    platform::CreateDirectories(directory);
    platform::FileHandle lock = platform::LockDirectory(directory, kLockWaitMs);
    if (!lock.valid()) {
        if (errno == EWOULDBLOCK)
            std::fprintf(stderr,
                         "veldana: another veldana is doing the start-up work of %s; not "
                         "waiting longer than %d seconds for it\n",
                         directory.c_str(), kLockWaitMs / 1000);
        else
            std::fprintf(stderr, "veldana: the program directory %s cannot be used: %s\n",
                         directory.c_str(), std::strerror(errno));
        shell.exitStatus = ExitStatus::kBusy;
        return 0;
    }

    // The policy values reach the filter first, whatever else start-up does.
    if (!policy::PublishPolicy({.values = true}))
        ReportStartupFailure(ExitStatus::kStoreNotWritable,
                             "the policy could not be published: the registry store cannot be "
                             "written (" + platform::RegistryError() + ")");

    if (!shell.quickRun) {
        if (!settings::RegisterFilterAtStartup(commandLine, policy::Policy().policy.redirectPage))
            return 0;
        std::fprintf(stderr,
                     "veldana: the policy is published; the console window has no display in "
                     "this build yet, so the console ends here (run \"veldana /qr\" for the "
                     "start-up work).\n");
        return 1;
    }

    // Quick run has no window to show: message boxes are asked on the terminal, or
    // answered with their default button.
    ui::TerminalDisplay display;
    shell.defaultIcon = ui::LoadIconResource("SURFICON");
    shell.upgradeIcon = ui::LoadIconResource("SURFICON3");
    shell.currentIcon = shell.defaultIcon;
    sitelists::ResetSiteLists();

    bool failed = !RegisterMainWindowClass();
    if (!failed) {
        resolve::LoadDnsServers();
        sitelists::LoadSiteList();
        CreateMainWindow();
        failed = !shell.windowCreated;
    }
    if (!failed) {
        ui::MSG msg;
        while (ui::GetMessage(msg)) {
            ui::TranslateMessage(msg);
            ui::DispatchMessage(msg);
        }
    }
    ui::UnregisterClass("ProxyPClass");
    if (shell.exitStatus != ExitStatus::kOk)
        std::fprintf(stderr, "veldana: %s\n", shell.failure.c_str());
    return failed ? 0 : 1;
}

int ExitStatusOf(int programEntryResult) {
    const ExitStatus status = Shell().exitStatus;
    if (status != ExitStatus::kOk) return static_cast<int>(status);
    return programEntryResult == 1 ? 0 : static_cast<int>(ExitStatus::kStopped);
}

}  // namespace shell
