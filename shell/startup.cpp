#include "shell/startup.h"

#include <cstdio>

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

bool IsQuickRun(const std::string& commandLine) {
    return commandLine.size() == 3 && commandLine[0] == '/' &&
           (commandLine[1] | 0x20) == 'q' && (commandLine[2] | 0x20) == 'r';
}

int ProgramEntry(const std::string& commandLine) {
    ShellState& shell = Shell();
    shell.quickRun = IsQuickRun(commandLine);
    // Resolving and database builds show their progress in the transfer progress window.
    progress::InstallProgressWindow();

    // The policy values reach the filter first, whatever else start-up does.
    policy::PublishPolicy({.values = true});

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
    return failed ? 0 : 1;
}

}  // namespace shell
