// veldana-update-server on its own, and the transfer engine against real peers on loopback:
// veldana-update-server, nginx serving the update contract, nginx standing where a proxy
// would be, and tinyproxy in front of veldana-update-server.
#include "tests/support/http_peers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "resolve/socket_library.h"
#include "tests/support/temp_install.h"
#include "tools/update_server.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "update/http_transfer.h"
#include "progress/transfer_status.h"

namespace {

using namespace testsupport;
using namespace updateserver;

// ---------------------------------------------------------------- the server's core

TEST(UpdateServerParse, RequestHeads) {
    std::string manyHeaders;
    for (int i = 0; i < 200; ++i) manyHeaders += "A: b\r\n";
    struct Case {
        const char* what;
        std::string bytes;
        ParseResult result;
    };
    const Case cases[] = {
        {"HTTP/1.0 without Host", "GET /filedown/43 HTTP/1.0\r\nVD-VERSION: 4.50\r\n\r\n",
         ParseResult::kComplete},
        {"LF line ends", "GET /filedown/43 HTTP/1.0\nA: b\n\n", ParseResult::kComplete},
        {"empty lines before the request line", "\r\n\r\nGET / HTTP/1.1\r\n\r\n",
         ParseResult::kComplete},
        {"no end yet", "GET /filedown/43 HTTP/1.0\r\nA: b\r\n", ParseResult::kIncomplete},
        {"nothing yet", "", ParseResult::kIncomplete},
        {"two words", "GET /filedown/43\r\n\r\n", ParseResult::kBad},
        {"four words", "GET / x HTTP/1.0\r\n\r\n", ParseResult::kBad},
        {"bad version", "GET / HTTP/10\r\n\r\n", ParseResult::kBad},
        {"header without colon", "GET / HTTP/1.0\r\nnocolon\r\n\r\n", ParseResult::kBad},
        {"space before colon", "GET / HTTP/1.0\r\nA : b\r\n\r\n", ParseResult::kBad},
        {"folded header", "GET / HTTP/1.0\r\nA: b\r\n c\r\n\r\n", ParseResult::kBad},
        {"control byte in value", std::string("GET / HTTP/1.0\r\nA: b\x01\r\n\r\n"),
         ParseResult::kBad},
        {"zero byte in target", std::string("GET /\0 HTTP/1.0\r\n\r\n", 20), ParseResult::kBad},
        {"too many headers", "GET / HTTP/1.0\r\n" + manyHeaders + "\r\n", ParseResult::kBad},
        {"head too large", "GET / HTTP/1.0\r\nA: " + std::string(20000, 'x'),
         ParseResult::kTooLarge},
    };
    for (const auto& c : cases) {
        HttpRequest r;
        std::size_t length = 0;
        EXPECT_EQ(ParseRequestHead(c.bytes, r, length), c.result) << c.what;
    }
    HttpRequest r;
    std::size_t length = 0;
    std::string bytes = "GET http://h/filedown/43 HTTP/1.0\r\nVD-SOURCE:  x y \r\n\r\nrest";
    ASSERT_EQ(ParseRequestHead(bytes, r, length), ParseResult::kComplete);
    EXPECT_EQ(length, bytes.size() - 4);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "http://h/filedown/43");
    EXPECT_EQ(r.version, "HTTP/1.0");
    ASSERT_EQ(r.headers.size(), 1u);
    EXPECT_EQ(r.headers[0].second, "x y");
}

TEST(UpdateServerParse, DownloadNumbers) {
    struct Case {
        const char* target;
        const char* number;
    };
    const Case cases[] = {
        {"/filedown/43", "43"},
        {"http://updates.example/filedown/16", "16"},
        {"HTTP://updates.example:8080/filedown/22", "22"},
        {"/filedown/", ""},
        {"/filedown/4x", ""},
        {"/filedown/43/", ""},
        {"/FILEDOWN/43", ""},
        {"/other/43", ""},
        {"http://updates.example", ""},
        {"http:///filedown/43", ""},
        {"/filedown/1234567890123456", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DownloadNumber(c.target), c.number) << c.target;
}

TEST(UpdateServerParse, CommandLineAndConfigFile) {
    PeerDir dir;
    std::string conf = dir.WriteFile("server.conf",
                                     "# a mirror\n"
                                     "listen 0.0.0.0:8081\n"
                                     "file 43=/srv/lists/VELDA.NOT\n"
                                     "file 16=/srv/lists/approved.bin\n"
                                     "name 16=VELDA.YES\n"
                                     "message Lists of today\n"
                                     "rate 250000\n"
                                     "head-timeout 4\n"
                                     "min-rate 512\n"
                                     "max-connections 20000\n"
                                     "max-per-address 200\n"
                                     "user veldana-mirror\n");
    ServerConfig config;
    std::string error;
    ASSERT_TRUE(ParseArguments({"--config", conf, "--upgrade", "Y"}, config, error)) << error;
    EXPECT_EQ(config.listenHost, "0.0.0.0");
    EXPECT_EQ(config.listenPort, 8081);
    EXPECT_EQ(config.files["43"].name, "VELDA.NOT");
    EXPECT_EQ(config.files["16"].path, "/srv/lists/approved.bin");
    EXPECT_EQ(config.files["16"].name, "VELDA.YES");
    EXPECT_EQ(config.message, "Lists of today");
    EXPECT_EQ(config.upgrade, "Y");
    EXPECT_EQ(config.rateBytesPerSecond, 250000u);
    EXPECT_EQ(config.headSeconds, 4);
    EXPECT_EQ(config.minRateBytesPerSecond, 512u);
    EXPECT_EQ(config.maxConnections, 20000);
    EXPECT_EQ(config.maxPerAddress, 200);
    EXPECT_EQ(config.user, "veldana-mirror");

    const std::vector<std::vector<std::string>> bad = {
        {"--bogus", "1"},
        {"--listen", "8080"},
        {"--listen", "h:99999"},
        {"--file", "x=/a"},
        {"--file", "43"},
        {"--name", "44=X"},
        {"--file"},
        {"--config", "/nonexistent"},
        {"stray"},
        {"--idle", "0"},
        {"--rate", "-1"},
        {"--rate", "fast"},
        {"--head-timeout", "0"},
        {"--max-connections", "0"},
        {"--max-per-address", "x"},
        {"--workers", "65"},
        {"--user", ""},
    };
    for (const auto& args : bad) {
        ServerConfig c;
        EXPECT_FALSE(ParseArguments(args, c, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    ServerConfig c;
    EXPECT_FALSE(ParseConfigText("message two\x01lines\n", c, error));
}

TEST(UpdateServerParse, ResponsesCarryTheContractOnlyForServedFiles) {
    PeerDir dir;
    std::string path = dir.WriteFile("list.bin", "0123456789");
    ASSERT_TRUE(platform::SetFileWriteTime(path, 784111777));
    ServerConfig config;
    config.files["43"] = ServedFile{path, "VELDA.NOT"};
    config.message = "hello";

    HttpRequest get{"GET", "/filedown/43", "HTTP/1.0", {}};
    Response ok = BuildResponse(config, get, 0);
    EXPECT_EQ(ok.status, 200);
    EXPECT_TRUE(ok.body.valid());
    EXPECT_EQ(ok.bodyLength, 10u);
    for (const char* line : {"HTTP/1.0 200 OK\r\n", "\r\nContent-Length: 10\r\n",
                             "\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n",
                             "\r\nvd-message: hello\r\n", "\r\nvd-upgrade: N\r\n",
                             "\r\nvd-filename: VELDA.NOT\r\n", "\r\nvd-filedate: 19941106\r\n"})
        EXPECT_NE(ok.head.find(line), std::string::npos) << line;
    EXPECT_EQ(ok.head.substr(ok.head.size() - 4), "\r\n\r\n");

    HttpRequest head{"HEAD", "http://x/filedown/43", "HTTP/1.0", {}};
    Response h = BuildResponse(config, head, 0);
    EXPECT_EQ(h.status, 200);
    EXPECT_FALSE(h.body.valid());

    struct Case {
        HttpRequest request;
        int status;
    };
    const Case refused[] = {
        {{"GET", "/filedown/44", "HTTP/1.0", {}}, 404},
        {{"GET", "/", "HTTP/1.0", {}}, 404},
        {{"POST", "/filedown/43", "HTTP/1.0", {}}, 405},
    };
    for (const auto& c : refused) {
        Response r = BuildResponse(config, c.request, 0);
        EXPECT_EQ(r.status, c.status) << c.request.target;
        EXPECT_EQ(r.head.find("vd-"), std::string::npos) << r.head;
        EXPECT_FALSE(r.body.valid());
    }
    std::filesystem::remove(path);
    EXPECT_EQ(BuildResponse(config, get, 0).status, 404) << "a configured file that is gone";
}

TEST(UpdateServerParse, LogLinesEscapeWhatTheClientSent) {
    HttpRequest r{"GET",
                  "/filedown/43\"\x1b",
                  "HTTP/1.0",
                  {{"VD-VERSION", "4.50.005"}, {"User-Agent", "Veldana"}, {"vd-source", "a\"b"}}};
    std::string line = LogLine(784111777, "127.0.0.1:5", r, 200, 10);
    EXPECT_EQ(line,
              "1994-11-06T08:49:37Z 127.0.0.1:5 \"GET /filedown/43\\x22\\x1B HTTP/1.0\" 200 10 "
              "VD-VERSION=\"4.50.005\" vd-source=\"a\\x22b\"");
}

// ---------------------------------------------------------------- the server as a process

TEST(UpdateServer, ServesTheContractOverTheWire) {
    PeerDir dir;
    std::string path = dir.WriteFile("VELDA.NOT", "restricted list bytes");
    ASSERT_TRUE(platform::SetFileWriteTime(path, 784111777));
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", path, "VELDA.NOT"}}, {"--upgrade", "Y"}));

    std::string direct = Exchange(server.port(),
                                  "GET /filedown/43 HTTP/1.0\r\nVD-VERSION: 4.50.005\r\n"
                                  "VD-SOURCE: PXM-QTX-Web\r\nVD-OSVERSION: 6.1\r\n"
                                  "VD-EMAILADDR: \r\nUser-Agent: Veldana\r\nAccept: */*\r\n\r\n").bytes;
    EXPECT_EQ(direct.substr(0, 17), "HTTP/1.0 200 OK\r\n");
    EXPECT_NE(direct.find("\r\nvd-upgrade: Y\r\n"), std::string::npos);
    EXPECT_NE(direct.find("\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"),
              std::string::npos);
    EXPECT_EQ(direct.substr(direct.size() - 21), "restricted list bytes");

    std::string absolute =
        Exchange(server.port(), "GET http://mirror.example/filedown/43 HTTP/1.0\r\n\r\n").bytes;
    EXPECT_EQ(absolute.substr(absolute.size() - 21), "restricted list bytes");

    std::string unknown = Exchange(server.port(), "GET /filedown/44 HTTP/1.0\r\n\r\n").bytes;
    EXPECT_EQ(unknown.substr(0, 12), "HTTP/1.0 404");
    EXPECT_EQ(unknown.find("vd-"), std::string::npos);

    std::string garbage =
        Exchange(server.port(), std::string("\x16\x03\x01\x00\xff garbage\r\n\r\n", 18)).bytes;
    EXPECT_EQ(garbage.substr(0, 12), "HTTP/1.0 400");

    EXPECT_EQ(server.Stop(), 0) << "SIGTERM ends the server cleanly";
    std::string log = server.Log();
    EXPECT_NE(log.find("\"GET /filedown/43 HTTP/1.0\" 200 21 VD-VERSION=\"4.50.005\" "
                       "VD-SOURCE=\"PXM-QTX-Web\" VD-OSVERSION=\"6.1\" VD-EMAILADDR=\"\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"GET http://mirror.example/filedown/43 HTTP/1.0\" 200 21"),
              std::string::npos);
    EXPECT_NE(log.find("\"GET /filedown/44 HTTP/1.0\" 404 0"), std::string::npos);
}

TEST(UpdateServer, RateSpreadsABodyOverTimeAndStopEndsItEarly) {
    PeerDir dir;
    std::string body(60000, 'b');
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", dir.WriteFile("VELDA.NOT", body), "VELDA.NOT"},
                              {"16", dir.WriteFile("VELDA.YES", std::string(2000000, 'y')),
                               "VELDA.YES"}},
                             {"--rate", "100000"}));
    auto start = std::chrono::steady_clock::now();
    std::string answer = Exchange(server.port(), "GET /filedown/43 HTTP/1.0\r\n\r\n").bytes;
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_GE(answer.size(), body.size());
    EXPECT_EQ(answer.substr(answer.size() - body.size()), body);
    // Six pieces of 10,000 bytes, a tenth of a second apart.
    EXPECT_GE(took, std::chrono::milliseconds(450));

    // A transfer that would take 20 s does not hold up SIGTERM (Stop waits 5 s, then kills).
    std::thread client([&] { Exchange(server.port(), "GET /filedown/16 HTTP/1.0\r\n\r\n"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(server.Stop(), 0);
    client.join();
}

TEST(UpdateServer, ShutsDownWhileAClientHoldsAConnection) {
    PeerDir dir;
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", dir.WriteFile("VELDA.NOT", "x"), "VELDA.NOT"}}));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(server.port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::send(fd, "GET /filedown/43 HTTP/1.0\r\n", 27, 0);  // and never ends its head
    EXPECT_EQ(server.Stop(), 0);
    ::close(fd);
}

// ---------------------------------------------------------------- the engine against peers

ui::LRESULT PlainProc(ui::HWND h, ui::UINT m, ui::WPARAM w, ui::LPARAM l) {
    return ui::DefWindowProc(h, m, w, l);
}

class HttpPeersTest : public ::testing::Test {
  protected:
    static constexpr std::time_t kServed = 1709212456;  // 2024-02-29 13:14:16 UTC

    void SetUp() override {
        ui::ResetWindowLayer();
        progress::ResetTransferStatus();
        update::ResetHttpTransfer();
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
        ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
        ws::WSADATA data{};
        ASSERT_EQ(resolve::Sockets().WSAStartup(0x0101, &data), 0);
        ui::RegisterClass(ui::WNDCLASS{"HttpPeersOwner", PlainProc});
        request.owner =
            ui::CreateWindowEx(0, "HttpPeersOwner", "owner", ui::WS_OVERLAPPED, 0, 0, 10, 10, 0);
        request.serverHost = "127.0.0.1";
        request.downloadNumber = "43";
        request.version = "4.50.005";
        request.source = "PXM-QTX-Web";
        request.osVersion = "6.1";
        update::HttpTransfer().downloadFileName = "VELDA.NOT";
        served = peerDir.WriteFile("list-43.bin", std::string(70000, 'L') + "end");
        ASSERT_TRUE(platform::SetFileWriteTime(served, kServed));
        ::chmod(served.c_str(), 0644);
    }
    void TearDown() override {
        if (resolve::SocketLibrary().SocketLibraryHandle) {
            resolve::Sockets().WSACleanup();
            resolve::UnloadSocketLibrary();
        }
        update::ResetHttpTransfer();
        progress::ResetTransferStatus();
        ui::ResetWindowLayer();
    }
    update::TransferOutcome Fetch(int port) {
        request.localPath = install.programDir() + "/";
        return update::RunTransfer(request, port);
    }
    // The received file is the served one, stamped with its time.
    void ExpectReceived() {
        std::string got = install.file("VELDA.NOT");
        EXPECT_EQ(install.readFile(got), ReadWholeFile(served));
        struct stat st {};
        ASSERT_EQ(::stat(got.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, kServed);
        EXPECT_EQ(request.localDate, "20240229");
        EXPECT_EQ(request.localTime, "131416");
    }

    TempInstall install;
    ui::HeadlessDisplay display;
    update::TransferRequest request;
    PeerDir peerDir;
    std::string served;
};

TEST_F(HttpPeersTest, FromTheUpdateServer) {
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", served, "VELDA.NOT"}}));
    EXPECT_EQ(Fetch(server.port()), update::kTransferReceived);
    ExpectReceived();
    // Now installed with the server's date: current, and the notice of a newer program.
    EXPECT_EQ(Fetch(server.port()), update::kTransferCurrent);
    UpdateServerPeer upgrading;
    ASSERT_TRUE(upgrading.Start({{"43", served, "VELDA.NOT"}}, {"--upgrade", "Y"}));
    EXPECT_EQ(Fetch(upgrading.port()), update::kTransferUpgrade);

    request.downloadNumber = "99";
    EXPECT_EQ(Fetch(server.port()), update::kTransferFailed) << "404 carries no contract";
    server.Stop();
    EXPECT_NE(server.Log().find("\"GET /filedown/43 HTTP/1.0\" 200 70003 VD-VERSION=\"4.50.005\" "
                                "VD-SOURCE=\"PXM-QTX-Web\" VD-OSVERSION=\"6.1\" VD-EMAILADDR=\"\""),
              std::string::npos)
        << server.Log();
}

TEST_F(HttpPeersTest, FromTheUpdateServerStandingAsTheProxy) {
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", served, "VELDA.NOT"}}));
    request.serverHost = "updates.example";
    request.proxyHost = "127.0.0.1";
    request.proxyPort = server.port();
    EXPECT_EQ(Fetch(0), update::kTransferReceived);
    ExpectReceived();
    server.Stop();
    EXPECT_NE(server.Log().find("\"GET http://updates.example/filedown/43 HTTP/1.0\" 200"),
              std::string::npos)
        << server.Log();
}

TEST_F(HttpPeersTest, FromNginx) {
    if (NginxPeer::Program().empty()) GTEST_SKIP() << "nginx is not installed";
    NginxPeer nginx;
    ASSERT_TRUE(nginx.Start({{"43", served, "VELDA.NOT", "N"}})) << nginx.ErrorLog();
    EXPECT_EQ(Fetch(nginx.port()), update::kTransferReceived);
    ExpectReceived();
    EXPECT_EQ(Fetch(nginx.port()), update::kTransferCurrent);
    EXPECT_NE(
        nginx.AccessLog().find("GET /filedown/43 HTTP/1.0|4.50.005|PXM-QTX-Web|6.1||-|Veldana"),
        std::string::npos)
        << nginx.AccessLog();

    // nginx answers absolute URLs, so it stands where a proxy would be.
    std::filesystem::remove(install.file("VELDA.NOT"));
    request.serverHost = "updates.example";
    request.proxyHost = "127.0.0.1";
    request.proxyPort = nginx.port();
    EXPECT_EQ(Fetch(0), update::kTransferReceived);
    ExpectReceived();
    EXPECT_NE(nginx.AccessLog().find("GET http://updates.example/filedown/43 HTTP/1.0|4.50.005"),
              std::string::npos)
        << nginx.AccessLog();
}

TEST_F(HttpPeersTest, ThroughTinyproxyToTheUpdateServer) {
    if (TinyproxyPeer::Program().empty()) GTEST_SKIP() << "tinyproxy is not installed";
    UpdateServerPeer server;
    ASSERT_TRUE(server.Start({{"43", served, "VELDA.NOT"}}));
    TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.Log();
    request.serverHost = "127.0.0.1:" + std::to_string(server.port());
    request.proxyHost = "127.0.0.1";
    request.proxyPort = proxy.port();
    EXPECT_EQ(Fetch(0), update::kTransferReceived);
    ExpectReceived();
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/filedown/43";
    EXPECT_NE(proxy.Log().find("GET " + url + " HTTP/1.0"), std::string::npos) << proxy.Log();
    server.Stop();
    // The proxy passed the product headers on.
    EXPECT_NE(server.Log().find("VD-VERSION=\"4.50.005\" VD-SOURCE=\"PXM-QTX-Web\""),
              std::string::npos)
        << server.Log();
}

}  // namespace
