// The console as a running program: it stays up, a second start hands over to it, another
// process closes it, signals end it cleanly, a killed console's socket does not block the
// next, and its timer downloads the lists when they fall due.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"
#include "update/download_schedule.h"

extern char** environ;

namespace {

using testsupport::BuiltProgram;
using testsupport::RunCommand;
using namespace std::chrono_literals;

std::string Q(const std::string& s) { return "'" + s + "'"; }

// A console started in the background, its output in a file; killed if still running at
// the end.
class Console {
  public:
    Console(const std::string& outputFile, std::vector<std::string> prefix = {}) {
        std::vector<std::string> args = std::move(prefix);
        args.push_back(BuiltProgram("veldana"));
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        if (posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    ~Console() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status once it has ended within `wait`; nothing while it runs.
    std::optional<int> Ended(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }
    void Signal(int sig) { ::kill(pid_, sig); }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class ConsoleTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    std::string veldana = BuiltProgram("veldana");

    std::string socketPath() const { return install.file("veldana.sock"); }
    std::string ivdIni() const { return install.windowsDir() + "/IVD.INI"; }
    bool Exists(const std::string& path) const {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }
    // Waits until the console listens (its socket is there).
    bool Listening(Console& console) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (console.Ended(0ms)) return false;
            if (Exists(socketPath()) &&
                RunCommand("grep -q 'the console runs' " + Q(install.root() + "/console.out")) == 0)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    std::string Output() const { return install.readFile(install.root() + "/console.out"); }
};

TEST_F(ConsoleTest, ItRunsASecondStartHandsOverAndACloseRequestEndsIt) {
    Console console(install.root() + "/console.out");
    ASSERT_TRUE(Listening(console)) << Output();
    EXPECT_FALSE(console.Ended(300ms)) << "it keeps running";
    struct stat st;
    ASSERT_EQ(::stat(socketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u) << "any local process may ask";

    std::string out, err;
    EXPECT_EQ(RunCommand(veldana, &out, &err), 0) << err;
    EXPECT_EQ(err, "") << "the second console only hands over";
    EXPECT_FALSE(console.Ended(200ms)) << "the first keeps running";

    // Something to delete: every shutdown removes IVD.INI.
    install.writeFile(ivdIni(), "[x]\n");
    EXPECT_EQ(RunCommand(veldana + " /close", &out, &err), 0) << err;
    // /close returns once the console has let go of the installation.
    EXPECT_EQ(console.Ended(2s), 0) << Output();
    EXPECT_FALSE(Exists(ivdIni()));
    EXPECT_FALSE(Exists(socketPath()));

    EXPECT_EQ(RunCommand(veldana + " /CLOSE", &out, &err), 5);
    EXPECT_NE(err.find("no console is running"), std::string::npos) << err;
}

// SIGTERM and SIGINT end the console as the end of a session does: promptly, with status 0,
// its socket removed, and without the shutdown's work (IVD.INI stays).
TEST_F(ConsoleTest, SignalsEndItAsTheEndOfASessionDoes) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        install.writeFile(ivdIni(), "[x]\n");
        Console console(install.root() + "/console.out");
        ASSERT_TRUE(Listening(console)) << Output();
        console.Signal(sig);
        EXPECT_EQ(console.Ended(10s), 0) << Output();
        EXPECT_FALSE(Exists(socketPath()));
        EXPECT_TRUE(Exists(ivdIni()));
    }
}

// A console killed outright leaves its socket behind; the next one starts all the same, and
// a third hands over to it.
TEST_F(ConsoleTest, ASocketLeftByAKilledConsoleDoesNotBlockTheNext) {
    {
        Console killed(install.root() + "/console.out");
        ASSERT_TRUE(Listening(killed)) << Output();
        killed.Signal(SIGKILL);
        ASSERT_TRUE(killed.Ended(5s));
    }
    ASSERT_TRUE(Exists(socketPath())) << "the stale socket is there";
    std::filesystem::remove(install.root() + "/console.out");

    Console next(install.root() + "/console.out");
    ASSERT_TRUE(Listening(next)) << Output();
    std::string err;
    EXPECT_EQ(RunCommand(veldana, nullptr, &err), 0) << err;
    EXPECT_FALSE(next.Ended(200ms));
    EXPECT_EQ(RunCommand(veldana + " /close", nullptr, &err), 0) << err;
    EXPECT_EQ(next.Ended(5s), 0);
}

// Many consoles started at once: exactly one keeps running, every other hands over and ends
// with 0.
TEST_F(ConsoleTest, ConsolesStartedAtOnceLeaveExactlyOneRunning) {
    std::vector<std::unique_ptr<Console>> consoles;
    for (int i = 0; i < 6; ++i)
        consoles.push_back(std::make_unique<Console>(install.root() + "/console" +
                                                     std::to_string(i) + ".out"));
    // Every one but the first to listen hands over, the others waiting for it if need be.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    int running = 0;
    do {
        running = 0;
        for (auto& c : consoles) running += !c->Ended(0ms);
        std::this_thread::sleep_for(20ms);
    } while (running > 1 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(running, 1);
    EXPECT_TRUE(std::none_of(consoles.begin(), consoles.end(),
                             [](auto& c) { return c->Ended(0ms).value_or(0) != 0; }))
        << "each ends with 0";
    std::string err;
    EXPECT_EQ(RunCommand(veldana + " /close", nullptr, &err), 0) << err;
    for (auto& c : consoles) EXPECT_TRUE(c->Ended(5s));
}

// The lists fall due while the console runs: its timer fetches them. The clock runs sixty
// times fast from a minute before midnight, so that the next day (the seventh since the last
// download) begins a second after the start.
TEST_F(ConsoleTest, ItsTimerDownloadsTheListsWhenTheyFallDue) {
    if (RunCommand("command -v faketime >/dev/null") != 0) GTEST_SKIP() << "no faketime";
    testsupport::PeerDir served;
    testsupport::UpdateServerPeer server;
    auto makeList = [&](const std::string& name, const std::string& source) {
        const std::string out = served.path() + "/" + name;
        EXPECT_EQ(testsupport::MakeListFile(source, out), 0);
        return out;
    };
    const std::string notList = makeList("VELDA.NOT", "kind restricted\naddress 192.0.2.10 0x0001\n");
    const std::string yesList = makeList("VELDA.YES", "kind approved\naddress 198.51.100.1 0x0200\n");
    const std::string rawYes =
        served.WriteFile("DNSRAW.YES", testsupport::RawNameList("good.example", 0x01646433));
    const std::string rawNot =
        served.WriteFile("DNSRAW.NOT", testsupport::RawNameList("bad.example", 0x0909090a));
    ASSERT_TRUE(server.Start({{"43", notList, "VELDANOT.RCV", "N"},
                              {"16", yesList, "VELDAYES.RCV", "N"},
                              {"22", rawYes, "RAWYES.RCV", "N"},
                              {"21", rawNot, "RAWNOT.RCV", "N"}}))
        << server.Output();
    install.writeFile(install.file("STRINGS.INI"),
                      "[strings]\n13=127.0.0.1:" + std::to_string(server.port()) + "\n");

    // Fetched six days before the faked day: not due on it, due the day after.
    std::string day;
    ASSERT_EQ(RunCommand("date +%F", &day), 0);
    day.pop_back();
    const std::string sixDaysBefore = std::to_string(update::DayNumber() - 6);
    settings::WriteSetting(settings::kKeyNotDownloadDay, {}, sixDaysBefore);
    settings::WriteSetting(settings::kKeyYesDownloadDay, {}, sixDaysBefore);
    install.writeFile(install.file("VELDA.NOT"), install.readFile(notList));
    install.writeFile(install.file("VELDA.YES"), install.readFile(yesList));

    // faketime preloads a library: a sanitizer build must be told that its runtime need not
    // come first. File dates stay real.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanBefore = asan ? asan : "";
    ::setenv("ASAN_OPTIONS", ("verify_asan_link_order=0:" + asanBefore).c_str(), 1);
    ::setenv("NO_FAKE_STAT", "1", 1);
    Console console(install.root() + "/console.out",
                    {"/usr/bin/faketime", "-f", "@" + day + " 23:59:00 x60"});
    ::unsetenv("NO_FAKE_STAT");
    ::setenv("ASAN_OPTIONS", asanBefore.c_str(), 1);
    ASSERT_TRUE(Listening(console)) << Output();
    EXPECT_EQ(server.Log(), "") << "nothing is due at the start";

    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline &&
           server.Log().find("/filedown/21") == std::string::npos)
        std::this_thread::sleep_for(50ms);
    EXPECT_NE(server.Log().find("/filedown/43"), std::string::npos) << server.Log();
    EXPECT_NE(server.Log().find("/filedown/21"), std::string::npos) << server.Log();
    EXPECT_FALSE(console.Ended(0ms)) << Output();

    std::string err;
    EXPECT_EQ(RunCommand(veldana + " /close", nullptr, &err), 0) << err;
    EXPECT_EQ(console.Ended(10s), 0) << Output();
    EXPECT_EQ(install.readFile(install.file("DNSRAW.NOT")), install.readFile(rawNot));
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
}

}  // namespace
