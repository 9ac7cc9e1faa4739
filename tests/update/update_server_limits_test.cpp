// veldana-update-server as an Internet-facing mirror meets it: clients that trickle their
// request head or read their body a byte at a time, from many addresses and from one, more
// connections than it will serve, a list replaced while it is being sent, links out of the
// served folder, a reload on SIGHUP, and the switch away from root.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"
#include "tools/update_server.h"

namespace {

using namespace testsupport;
using updateserver::ParseArguments;
using updateserver::ServerConfig;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kConsoleRequest =
    "GET /filedown/43 HTTP/1.0\r\nVD-VERSION: 4.50.005\r\nVD-SOURCE: PXM-QTX-Web\r\n"
    "User-Agent: Veldana\r\nAccept: */*\r\n\r\n";

// One whole request from 127.0.0.`from`, a console's unless given.
Answer Get(int port, const std::string& request = kConsoleRequest, int from = 1) {
    return Exchange(port, request, from);
}

std::string Body(const Answer& a) {
    std::size_t end = a.bytes.find("\r\n\r\n");
    return end == std::string::npos ? "" : a.bytes.substr(end + 4);
}

// Whether the server has closed the connection (after any answer it sent, read and dropped).
bool Closed(int fd) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) continue;
        return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

// Sends one more byte of an endless header to each socket every `everyMs`, until stopped.
class Trickle {
  public:
    Trickle(std::vector<int> fds, int everyMs) : fds_(std::move(fds)) {
        for (int fd : fds_) ::send(fd, "GET /filedown/43 HTTP/1.0\r\nX-Slow: ", 35, MSG_NOSIGNAL);
        thread_ = std::thread([this, everyMs] {
            while (!stop_) {
                for (int fd : fds_) ::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                std::this_thread::sleep_for(milliseconds(everyMs));
            }
        });
    }
    ~Trickle() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_) ::close(fd);
    }
    const std::vector<int>& fds() const { return fds_; }

  private:
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(UpdateServerLimits, TricklingHeadsAreDroppedAtTheDeadlineAndNeverHoldUpAConsole) {
    PeerDir dir;
    const std::string list(100000, 'L');
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", dir.WriteFile("VELDA.NOT", list), "VELDA.NOT"}},
                             {"--head-timeout", "2", "--max-per-address", "8"}));
    // 300 trickling clients from 60 addresses (5 each, under the cap), and 40 from one
    // address, of which 8 are let in and the rest told 503.
    std::vector<int> fds;
    for (int from = 2; from < 62; ++from)
        for (int i = 0; i < 5; ++i) fds.push_back(ConnectFrom(from, server.port()));
    for (int i = 0; i < 40; ++i) fds.push_back(ConnectFrom(99, server.port()));
    for (int fd : fds) ASSERT_GE(fd, 0);
    auto attackStart = Clock::now();
    Trickle trickle(fds, 200);

    // While they trickle, and across their deadline, a console is served at once.
    int served = 0;
    while (Clock::now() - attackStart < milliseconds(3000)) {
        Answer a = Get(server.port());
        EXPECT_LT(a.seconds, 1.0);
        EXPECT_EQ(Body(a), list);
        ++served;
        std::this_thread::sleep_for(milliseconds(150));
    }
    EXPECT_GE(served, 5);

    // Every trickling connection is gone soon after its deadline, though it kept sending.
    std::size_t open = 0;
    for (int i = 0; i < 40; ++i) {
        open = 0;
        for (int fd : trickle.fds()) open += Closed(fd) ? 0 : 1;
        if (open == 0) break;
        std::this_thread::sleep_for(milliseconds(100));
    }
    EXPECT_EQ(open, 0u) << "connections still open " << 
        std::chrono::duration<double>(Clock::now() - attackStart).count() << " s after they began";
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    EXPECT_EQ(CountOccurrences(log, "dropped: no whole request head in 2 s"), 308u) << log.substr(0, 2000);
    EXPECT_NE(log.find("over the per-address cap"), std::string::npos);
}

TEST(UpdateServerLimits, SlowReadersAreDroppedUnderTheMinimumRate) {
    PeerDir dir;
    const std::string big(24 << 20, 'B');
    const std::string list(50000, 'L');
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", dir.WriteFile("VELDA.NOT", list), "VELDA.NOT"},
                              {"16", dir.WriteFile("VELDA.YES", big), "VELDA.YES"}},
                             {"--idle", "1", "--min-rate", "200000"}));
    // 20 clients, 10 from addresses of their own and 10 from one address, ask for the big
    // file and read 512 bytes a tenth of a second.
    std::vector<int> slow;
    for (int i = 0; i < 20; ++i) {
        int fd = ConnectFrom(i < 10 ? 2 + i : 50, server.port(), 4096);
        ASSERT_GE(fd, 0);
        ::send(fd, "GET /filedown/16 HTTP/1.0\r\n\r\n", 29, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    std::atomic<bool> stop{false};
    std::thread readers([&] {
        char buffer[512];
        while (!stop) {
            for (int fd : slow) ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            std::this_thread::sleep_for(milliseconds(100));
        }
    });
    auto start = Clock::now();
    while (Clock::now() - start < milliseconds(3500)) {
        Answer a = Get(server.port());
        EXPECT_LT(a.seconds, 1.0);
        EXPECT_EQ(Body(a), list);
        std::this_thread::sleep_for(milliseconds(200));
    }
    stop = true;
    readers.join();
    // Read on at full speed: what the server had sent before it dropped them, and no more.
    for (int fd : slow) {
        Answer a = ReadToEnd(fd, 5000);
        EXPECT_LT(Body(a).size(), big.size());
        ::close(fd);
    }
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    EXPECT_EQ(CountOccurrences(log, "\"GET /filedown/16 HTTP/1.0\" 200"), 20u);
    EXPECT_EQ(CountOccurrences(log, "under the minimum of 200000)"), 20u) << log;
}

TEST(UpdateServerLimits, ClientsOverACapAreToldToComeBackAndOthersAreServed) {
    PeerDir dir;
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", dir.WriteFile("VELDA.NOT", "list"), "VELDA.NOT"}},
                             {"--max-per-address", "3", "--max-connections", "5",
                              "--retry-after", "7"}));
    auto hold = [&](int from) {
        int fd = ConnectFrom(from, server.port());
        EXPECT_GE(fd, 0);
        return fd;
    };
    std::vector<int> held = {hold(7), hold(7), hold(7)};
    std::this_thread::sleep_for(milliseconds(200));  // let the server count them

    struct Case {
        const char* what;
        int from;
        const char* status;
    };
    auto expect = [&](const Case& c) {
        Answer a = Get(server.port(), kConsoleRequest, c.from);
        // The connection counts until the server has seen the client close it.
        std::this_thread::sleep_for(milliseconds(100));
        EXPECT_EQ(a.bytes.substr(0, 12), c.status) << c.what;
        EXPECT_FALSE(a.reset) << c.what << ": the answer must end with a close, not a reset";
        if (std::string(c.status) == "HTTP/1.0 503") {
            EXPECT_NE(a.bytes.find("\r\nRetry-After: 7\r\n"), std::string::npos) << a.bytes;
        }
    };
    expect({"a fourth from the address at its cap", 7, "HTTP/1.0 503"});
    expect({"another address", 8, "HTTP/1.0 200"});
    held.push_back(hold(8));
    held.push_back(hold(9));
    std::this_thread::sleep_for(milliseconds(200));
    expect({"a sixth connection in all", 10, "HTTP/1.0 503"});
    ::close(held[0]);
    std::this_thread::sleep_for(milliseconds(200));
    expect({"a place freed", 10, "HTTP/1.0 200"});
    expect({"the address below its cap again", 7, "HTTP/1.0 200"});
    for (std::size_t i = 1; i < held.size(); ++i) ::close(held[i]);
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    EXPECT_NE(log.find("1 over the per-address cap"), std::string::npos) << log;
    EXPECT_NE(log.find("1 over the total cap"), std::string::npos) << log;
}

TEST(UpdateServerLimits, AListReplacedMidTransferLeavesThatTransferWhole) {
    PeerDir dir;
    const std::string before(300000, 'o'), after(200000, 'n');
    std::string path = dir.WriteFile("VELDA.NOT", before);
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", path, "VELDA.NOT"}}, {"--rate", "150000"}));
    Answer running;
    std::thread client([&] { running = Get(server.port()); });
    std::this_thread::sleep_for(milliseconds(500));
    std::string temp = dir.WriteFile("VELDA.NOT.new", after);
    ASSERT_EQ(std::rename(temp.c_str(), path.c_str()), 0);
    client.join();
    EXPECT_NE(running.bytes.find("\r\nContent-Length: 300000\r\n"), std::string::npos);
    EXPECT_EQ(Body(running), before);
    EXPECT_GT(running.seconds, 1.0) << "the rename came while the body was being sent";
    EXPECT_EQ(Body(Get(server.port())), after);
}

TEST(UpdateServerLimits, ServesOnlyRegularFilesBeneathTheirFolder) {
    PeerDir dir, outside;
    std::string secret = outside.WriteFile("secret", "not for clients");
    std::string inside = dir.WriteFile("approved.bin", "approved list");
    namespace fs = std::filesystem;
    const std::string d = dir.path();
    fs::create_symlink(secret, d + "/abs-link-out");
    fs::create_symlink("../" + fs::path(outside.path()).filename().string() + "/secret",
                       d + "/rel-link-out");
    fs::create_symlink("approved.bin", d + "/rel-link-in");
    ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0644), 0);
    fs::create_directory(d + "/folder");

    struct Case {
        const char* number;
        const char* name;
        const char* status;
        const char* body;
        const char* note;
    };
    const Case cases[] = {
        {"1", "approved.bin", "HTTP/1.0 200", "approved list", ""},
        {"2", "rel-link-in", "HTTP/1.0 200", "approved list", ""},
        {"3", "abs-link-out", "HTTP/1.0 404", nullptr, "a link out of its folder"},
        {"4", "rel-link-out", "HTTP/1.0 404", nullptr, "a link out of its folder"},
        {"5", "pipe", "HTTP/1.0 404", nullptr, "not a regular file"},
        {"6", "folder", "HTTP/1.0 404", nullptr, "not a regular file"},
    };
    std::vector<ContractFile> files;
    for (const auto& c : cases) files.push_back({c.number, d + "/" + c.name, "VELDA.NOT"});
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start(files));
    for (const auto& c : cases) {
        Answer a = Get(server.port(), std::string("GET /filedown/") + c.number + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(a.bytes.substr(0, 12), c.status) << c.name;
        EXPECT_LT(a.seconds, 1.0) << c.name;
        if (c.body) {
            EXPECT_EQ(Body(a), c.body) << c.name;
        } else {
            EXPECT_EQ(a.bytes.find("not for clients"), std::string::npos) << c.name;
        }
    }
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    for (const auto& c : cases) {
        if (!*c.note) continue;
        EXPECT_NE(log.find(std::string("/") + c.name + ": " + c.note + ")"), std::string::npos)
            << c.name << "\n" << log;
    }
}

void WriteAtomically(const std::string& path, const std::string& text) {
    {
        std::ofstream out(path + ".tmp", std::ios::trunc);
        out << text;
    }
    std::rename((path + ".tmp").c_str(), path.c_str());
}

TEST(UpdateServerLimits, SighupReadsTheFileListAgainAndKeepsItWhenTheNewOneIsBad) {
    PeerDir dir;
    std::string a = dir.WriteFile("first.bin", "first list");
    std::string b = dir.WriteFile("second.bin", "second list");
    std::string conf = dir.path() + "/mirror.conf";
    WriteAtomically(conf, "file 43=" + a + "\nname 43=VELDA.NOT\nmessage first\n");
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({}, {"--config", conf}));
    Answer first = Get(server.port());
    EXPECT_EQ(Body(first), "first list");
    EXPECT_NE(first.bytes.find("\r\nvd-message: first\r\n"), std::string::npos);

    auto reloadUntil = [&](const std::string& body) {
        ::kill(server.process().pid(), SIGHUP);
        Answer got;
        for (int i = 0; i < 40; ++i) {
            got = Get(server.port());
            if (Body(got) == body) break;
            std::this_thread::sleep_for(milliseconds(50));
        }
        return got;
    };
    WriteAtomically(conf, "file 43=" + b + "\nname 43=VELDA.NOT\nmessage second\nlisten 0.0.0.0:81\n");
    Answer second = reloadUntil("second list");
    EXPECT_EQ(Body(second), "second list");
    EXPECT_NE(second.bytes.find("\r\nvd-message: second\r\n"), std::string::npos);

    WriteAtomically(conf, "file 43=" + a + "\nbogus line\n");
    ::kill(server.process().pid(), SIGHUP);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(Body(Get(server.port())), "second list");
    EXPECT_TRUE(server.process().Running());
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    EXPECT_NE(log.find("reloaded: 1 file(s); a restart applies listen"), std::string::npos) << log;
    EXPECT_NE(log.find("reload failed, the old configuration stays: "), std::string::npos) << log;
}

// A line of /proc/PID/status ("Uid:", "CapEff:", ...), without its name.
std::string StatusField(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) {
            std::string value = line.substr(name.size() + 1);
            std::istringstream words(value);
            std::string word, joined;
            while (words >> word) joined += (joined.empty() ? "" : " ") + word;
            return joined;
        }
    return "?";
}

TEST(UpdateServerLimits, UserDropsRootForGoodAfterBinding) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch users";
    passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    PeerDir dir;
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", dir.WriteFile("VELDA.NOT", "list"), "VELDA.NOT"}},
                             {"--user", "nobody"}));
    EXPECT_EQ(Body(Get(server.port())), "list");
    pid_t pid = server.process().pid();
    std::string uid = std::to_string(nobody->pw_uid), gid = std::to_string(nobody->pw_gid);
    EXPECT_EQ(StatusField(pid, "Uid"), uid + " " + uid + " " + uid + " " + uid);
    EXPECT_EQ(StatusField(pid, "Gid"), gid + " " + gid + " " + gid + " " + gid);
    EXPECT_EQ(StatusField(pid, "CapEff"), "0000000000000000");
    EXPECT_EQ(StatusField(pid, "CapPrm"), "0000000000000000");
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_NE(server.Log().find("\"GET /filedown/43 HTTP/1.0\" 200 4"), std::string::npos)
        << "the log opened as root is still written";

    UpdateServerPeer unknown;
    EXPECT_FALSE(unknown.Start({}, {"--user", "no-such-user-here"}));
    EXPECT_NE(unknown.Output().find("no user no-such-user-here"), std::string::npos);
}

// A port below 1024 on 127.0.0.1 that is free now (we are root).
int FreeLowPort() {
    for (int port = 700; port < 1000; ++port) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (free) return port;
    }
    return 0;
}

TEST(UpdateServerLimits, AsAServiceItBindsALowPortWithTheCapabilityAndThenGivesItUp) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to start as the service manager would";
    passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    PeerDir dir;
    std::string list = dir.WriteFile("VELDA.NOT", "list");
    int port = FreeLowPort();
    ASSERT_GT(port, 0);
    // As systemd starts the unit: an unprivileged user with CAP_NET_BIND_SERVICE ambient.
    ChildProcess server;
    ASSERT_TRUE(server.Start({"/usr/bin/setpriv", "--reuid", std::to_string(nobody->pw_uid),
                              "--regid", std::to_string(nobody->pw_gid), "--clear-groups",
                              "--inh-caps", "+net_bind_service", "--ambient-caps",
                              "+net_bind_service", BuiltProgram("veldana-update-server"),
                              "--listen", "127.0.0.1:" + std::to_string(port), "--file",
                              "43=" + list},
                             dir.path() + "/output.txt"));
    ASSERT_TRUE(WaitForPort(port)) << ReadWholeFile(dir.path() + "/output.txt");
    EXPECT_EQ(Body(Get(port)), "list");
    for (const char* field : {"CapEff", "CapPrm", "CapAmb", "CapInh"})
        EXPECT_EQ(StatusField(server.pid(), field), "0000000000000000") << field;
    EXPECT_EQ(StatusField(server.pid(), "Uid").substr(0, std::to_string(nobody->pw_uid).size()),
              std::to_string(nobody->pw_uid));
    EXPECT_EQ(server.Stop(), 0);
}

// The service unit and the config example that deploy/update-server ships.
TEST(UpdateServerLimits, TheShippedServiceFilesAreValid) {
    const std::string deploy = std::string(VELDANA_SOURCE_DIR) + "/deploy/update-server";
    ServerConfig config;
    std::string error;
    ASSERT_TRUE(ParseArguments({"--config", deploy + "/update-server.conf"}, config, error)) << error;
    EXPECT_EQ(config.listenPort, 80);
    EXPECT_EQ(config.files.size(), 4u);
    EXPECT_EQ(config.files["43"].path, "/srv/veldana/lists/VELDA.NOT");

    if (::access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
    // The unit as installed, with its program where this tree built it.
    PeerDir dir;
    std::string unit = ReadWholeFile(deploy + "/veldana-update-server.service");
    const std::string program = "/usr/local/bin/veldana-update-server";
    ASSERT_NE(unit.find("ExecStart=" + program + " --config /etc/veldana/update-server.conf"),
              std::string::npos);
    unit.replace(unit.find(program), program.size(), BuiltProgram("veldana-update-server"));
    std::string path = dir.WriteFile("veldana-update-server.service", unit);
    std::string out, err;
    EXPECT_EQ(RunCommand("/usr/bin/systemd-analyze verify " + path, &out, &err), 0) << out << err;
    EXPECT_EQ(err, "") << "systemd finds nothing to warn about";
}

// A full disk under the log, and a second server started on the port of the first.
TEST(UpdateServerLimits, AFullLogIsReportedAndASecondServerOnThePortFails) {
    PeerDir dir;
    std::string list = dir.WriteFile("VELDA.NOT", "list");
    ChildProcess first;
    int port = FreeLoopbackPort();
    ASSERT_TRUE(first.Start({BuiltProgram("veldana-update-server"), "--listen",
                             "127.0.0.1:" + std::to_string(port), "--file", "43=" + list, "--log",
                             "/dev/full"},
                            dir.path() + "/first.txt"));
    ASSERT_TRUE(WaitForPort(port));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Body(Get(port)), "list") << "serving goes on";

    ChildProcess second;
    ASSERT_TRUE(second.Start({BuiltProgram("veldana-update-server"), "--listen",
                              "127.0.0.1:" + std::to_string(port), "--file", "43=" + list},
                             dir.path() + "/second.txt"));
    for (int i = 0; i < 200 && second.Running(); ++i) std::this_thread::sleep_for(milliseconds(25));
    EXPECT_FALSE(second.Running());
    EXPECT_NE(ReadWholeFile(dir.path() + "/second.txt").find("cannot listen: Address already in use"),
              std::string::npos);
    EXPECT_EQ(Body(Get(port)), "list") << "the first one serves on";

    EXPECT_EQ(first.Stop(), 0);
    std::string said = ReadWholeFile(dir.path() + "/first.txt");
    EXPECT_EQ(CountOccurrences(said, "cannot write the log /dev/full: No space left on device"), 1u) << said;
}

// With fewer descriptors than its caps need, the server serves as many connections as the
// limit leaves room for, refuses the rest with 503 and says so, instead of failing to accept.
TEST(UpdateServerLimits, TheTotalCapFitsTheDescriptorLimit) {
    if (::access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "no prlimit";
    PeerDir dir;
    std::string list = dir.WriteFile("VELDA.NOT", "list");
    int port = FreeLoopbackPort();
    ChildProcess server;
    // One worker keeps 264 descriptors spare for refused clients and 64 for itself.
    ASSERT_TRUE(server.Start({"/usr/bin/prlimit", "--nofile=360:360", "--",
                              BuiltProgram("veldana-update-server"), "--listen",
                              "127.0.0.1:" + std::to_string(port), "--file", "43=" + list,
                              "--workers", "1", "--max-per-address", "1000"},
                             dir.path() + "/output.txt"));
    ASSERT_TRUE(WaitForPort(port));
    // WaitForPort's own connection counts until the server has seen it close.
    std::this_thread::sleep_for(milliseconds(200));
    std::vector<int> held;
    for (int i = 0; i < 32; ++i) {
        held.push_back(ConnectFrom(2, port));
        ASSERT_GE(held.back(), 0) << std::strerror(errno);
    }
    std::this_thread::sleep_for(milliseconds(300));
    Answer refused = Get(port);
    EXPECT_EQ(refused.bytes.substr(0, 12), "HTTP/1.0 503") << ReadWholeFile(dir.path() + "/output.txt");
    ::close(held.back());
    held.pop_back();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(Body(Get(port)), "list");
    for (int fd : held) ::close(fd);
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_NE(ReadWholeFile(dir.path() + "/output.txt")
                  .find("the descriptor limit (360) leaves room for 32 connections, not 4096"),
              std::string::npos)
        << ReadWholeFile(dir.path() + "/output.txt");
}

}  // namespace
