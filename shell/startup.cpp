#include "shell/startup.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/files.h"
#include "platform/locations.h"
#include "platform/registry.h"
#include "resources/help.h"
#include "policy/policy.h"
#include "progress/transfer_status.h"
#include "resolve/dns_client.h"
#include "settings/filter_registration.h"
#include "shell/instance.h"
#include "shell/main_window.h"
#include "sitelists/site_list.h"
#include "ui/gdi.h"
#include "ui/messages.h"
#include "ui/terminal_display.h"
#include "ui/web_display.h"
#include "ui/window.h"

namespace shell {
namespace {

// How long a second console waits for the first to finish its start-up work.
constexpr int kLockWaitMs = 120 * 1000;
// How long a console that lost the race to listen waits for the winner to answer.
constexpr int kHandOverWaitMs = 5000;
// How long a second console waits for the running one to take its open request.
constexpr int kOpenAnswerWaitMs = 30 * 1000;
// How long "veldana /close" waits for the console to end.
constexpr int kCloseWaitMs = 60 * 1000;

bool IsCloseRequest(const std::string& commandLine) {
    if (commandLine.size() != 6 || commandLine[0] != '/') return false;
    for (std::size_t i = 1; i < 6; ++i)
        if ((commandLine[i] | 0x20) != "/close"[i]) return false;
    return true;
}

// "veldana /close": asks the console running on this installation to close, and waits
// until it has ended.
int CloseRunningConsole(const std::string& directory) {
    ShellState& shell = Shell();
    switch (SendToRunningConsole(directory, InstanceRequest::kClose, kCloseWaitMs)) {
        case HandOver::kDone:
            if (WaitForConsoleEnd(directory, kCloseWaitMs)) {
                shell.handedOver = true;
                return 0;
            }
            std::fprintf(stderr, "veldana: the console on %s took the close request but has not "
                                 "ended after %d seconds\n",
                         directory.c_str(), kCloseWaitMs / 1000);
            break;
        case HandOver::kNoConsole:
            std::fprintf(stderr, "veldana: no console is running on %s\n", directory.c_str());
            break;
        case HandOver::kFailed:
            std::fprintf(stderr, "veldana: the console on %s did not answer the close request\n",
                         directory.c_str());
            break;
    }
    shell.exitStatus = ExitStatus::kBusy;
    return 0;
}

// A request from another process, for the main window. One that comes before the window
// exists waits for it.
std::optional<InstanceRequest> g_pendingRequest;

void PostRequest(InstanceRequest request) {
    const ui::HWND main = Shell().mainWindow;
    if (!main) {
        g_pendingRequest = request;
        return;
    }
    if (request == InstanceRequest::kOpen)
        ui::PostMessage(main, ui::WM_QUERYOPEN, 1, 0);
    else
        ui::PostMessage(main, WM_CLOSE_CONSOLE, 0, 0);
}

// SIGTERM and SIGINT end the console as the end of a session does; they are read from a
// signal descriptor in the GUI thread's wait, so that whatever is being written is
// finished first.
class SessionSignals {
  public:
    SessionSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
        fd_.reset(::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC));
        if (fd_.valid()) ui::WatchDescriptor(fd_.get(), [this] { Read(); });
    }
    ~SessionSignals() {
        if (fd_.valid()) ui::UnwatchDescriptor(fd_.get());
        fd_.reset();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SessionSignals(const SessionSignals&) = delete;
    SessionSignals& operator=(const SessionSignals&) = delete;

  private:
    void Read() {
        signalfd_siginfo info;
        bool ending = false;
        while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            ending = true;
        if (ending && !ended_) {
            ended_ = true;
            EndSession();
        }
    }
    sigset_t set_{}, previous_{};
    platform::FileHandle fd_;
    bool ended_ = false;
};

// Where the browser display listens: VELDANA_WEB_LISTEN ("host:port"; "none" for no
// browser display), else any free port on the loopback address.
std::string BrowserDisplayAddress() {
    const char* listen = std::getenv("VELDANA_WEB_LISTEN");
    return listen && *listen ? listen : "127.0.0.1:0";
}

// The browser display of the running console: the administrator opens the URL it prints,
// which is also in "veldana.url" in the program directory, readable by its owner only.
void StartBrowserDisplay(const std::string& directory, std::optional<ui::WebDisplay>& web) {
    const std::string listen = BrowserDisplayAddress();
    if (listen == "none") return;
    ui::WebDisplayOptions options;
    options.listen = listen;
    options.help = [](std::string_view file, ui::UINT context) -> std::optional<ui::WebHelpPage> {
        const auto target = resources::FindHelpTarget(file, context);
        if (!target) return std::nullopt;
        const auto page = resources::FindHelpPage(target->page);
        if (!page) return std::nullopt;
        return ui::WebHelpPage{target->page, std::string(page->html), target->anchor};
    };
    options.helpPage = [](std::string_view name) -> std::optional<std::string> {
        const auto page = resources::FindHelpPage(name);
        return page ? std::optional<std::string>(std::string(page->html)) : std::nullopt;
    };
    options.terminal = ::isatty(STDIN_FILENO) ? "/dev/tty" : "";
    web.emplace(std::move(options));
    if (!web->Started()) {
        std::fprintf(stderr, "veldana: the browser display could not start on %s (%s); the "
                             "console runs without it\n",
                     listen.c_str(), web->Error().c_str());
        web.reset();
        return;
    }
    const std::string url = web->Url();
    const std::string file = directory + "/veldana.url";
    const std::string line = url + "\n";
    if (!platform::WriteFileAtomically(file, std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()),
                                       platform::FileAccess::kOwnerOnly))
        std::fprintf(stderr, "veldana: cannot write %s: %s\n", file.c_str(), std::strerror(errno));
    std::printf("veldana: open %s in a browser (also in %s)\n", url.c_str(), file.c_str());
    std::fflush(stdout);
}

}  // namespace


bool IsQuickRun(const std::string& commandLine) {
    return commandLine.size() == 3 && commandLine[0] == '/' &&
           (commandLine[1] | 0x20) == 'q' && (commandLine[2] | 0x20) == 'r';
}

int ProgramEntry(const std::string& commandLine) {
    ShellState& shell = Shell();
    shell.quickRun = IsQuickRun(commandLine);
    g_pendingRequest.reset();
    // Resolving and database builds show their progress in the transfer progress window.
    progress::InstallProgressWindow();
    const std::string directory = platform::ProgramDirectory();
    if (IsCloseRequest(commandLine)) return CloseRunningConsole(directory);

    // A console runs on this installation already: it opens Headquarters, this one ends.
    if (SendToRunningConsole(directory, InstanceRequest::kOpen, kOpenAnswerWaitMs) == HandOver::kDone) {
        shell.handedOver = true;
        return 0;
    }
    platform::CreateDirectories(directory);
    InstanceListener listener;
    if (!shell.quickRun) {
        std::string error;
        switch (listener.Listen(directory, PostRequest, error)) {
            case InstanceListener::Outcome::kListening:
                break;
            case InstanceListener::Outcome::kAnotherRuns: {
                // Another console started at the same moment and listens, or is about to.
                const auto deadline = std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(kHandOverWaitMs);
                while (std::chrono::steady_clock::now() < deadline) {
                    if (SendToRunningConsole(directory, InstanceRequest::kOpen, kOpenAnswerWaitMs) == HandOver::kDone) {
                        shell.handedOver = true;
                        return 0;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                error = "another console holds " + directory + " and does not answer";
                [[fallthrough]];
            }
            case InstanceListener::Outcome::kFailed:
                std::fprintf(stderr, "veldana: %s\n", error.c_str());
                shell.exitStatus = ExitStatus::kBusy;
                return 0;
        }
    }

    // One console at a time does the start-up work of an installation: two rebuilds of the
    // same databases would take each other's files away. A running console keeps the lock:
    // its timer rebuilds too.
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

    // The display: one the caller installed (a test's), else the browser display for the
    // running console, else (quick run, or no browser display wanted or possible) the
    // terminal: message boxes asked there, or answered with their default button.
    // The signals are blocked before any thread starts (the browser display's server), so
    // that only the signal descriptor ever takes them.
    std::optional<SessionSignals> signals;
    if (!shell.quickRun) signals.emplace();
    std::optional<ui::WebDisplay> web;
    std::optional<ui::TerminalDisplay> terminal;
    if (!ui::CurrentDisplay() && !shell.quickRun) StartBrowserDisplay(directory, web);
    if (!ui::CurrentDisplay()) terminal.emplace();

    if (!shell.quickRun &&
        !settings::RegisterFilterAtStartup(commandLine, policy::Policy().policy.redirectPage))
        return 0;

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
        if (!failed && g_pendingRequest) PostRequest(*g_pendingRequest);
        if (!failed && !shell.quickRun)
            std::fprintf(stderr, "veldana: the console runs on %s; \"veldana /close\" ends it\n",
                         directory.c_str());
    }
    if (!failed) {
        ui::MSG msg;
        while (ui::GetMessage(msg)) {
            ui::TranslateMessage(msg);
            ui::DispatchMessage(msg);
        }
    }
    ui::UnregisterClass("ProxyPClass");
    // The page's address dies with the console.
    if (web) platform::RemoveFile(directory + "/veldana.url");
    if (shell.exitStatus != ExitStatus::kOk)
        std::fprintf(stderr, "veldana: %s\n", shell.failure.c_str());
    return failed ? 0 : 1;
}

int ExitStatusOf(int programEntryResult) {
    if (Shell().handedOver) return static_cast<int>(ExitStatus::kOk);
    const ExitStatus status = Shell().exitStatus;
    if (status != ExitStatus::kOk) return static_cast<int>(status);
    return programEntryResult == 1 ? 0 : static_cast<int>(ExitStatus::kStopped);
}

}  // namespace shell
