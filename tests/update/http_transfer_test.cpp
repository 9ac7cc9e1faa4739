// The transfer engine's parsing, and whole transactions against a scripted responder on
// loopback that sends exactly the bytes each case needs.
#include "update/http_transfer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "resolve/socket_library.h"
#include "tests/support/temp_install.h"
#include "tests/update/scripted_responder.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "progress/transfer_status.h"

namespace {

using namespace update;
using namespace progress;
using namespace scripted;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- parsing

TEST(HttpParse, FindHeaderValueFindsNamesInAnyCaseAndAnywhere) {
    struct Case {
        const char* text;
        const char* name;
        int found;
        const char* value;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\ncontent-length: 1234\r\n", "content-length:", 1, "1234"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n", "content-length:", 1, "1234"},
        {"HTTP/1.0 200 OK\r\nCONTENT-LENGTH: 1234\r\n", "content-length:", 1, "1234"},
        {"x\r\ncOnTeNt-LeNgTh:   77   \r\n", "content-length:", 1, "77"},
        // Not anchored to line starts: inside another header's value, or in the body.
        {"X-Note: vd-filedate: 1\r\n\r\n", "vd-filedate:", 1, "1"},
        {"A: b\r\n\r\nbody vd-filedate: here", "vd-filedate:", 1, "here"},
        // An exact match wins over an earlier one in another case.
        {"VD-UPGRADE: Y\r\nvd-upgrade: N\r\n", "vd-upgrade:", 1, "N"},
        // The value stops at any byte below 0x20 or above 0x7F.
        {"vd-message: ab\tcd\r\n", "vd-message:", 1, "ab"},
        {"vd-message: ab\xC3\xA9\r\n", "vd-message:", 1, "ab"},
        {"vd-message:\r\n", "vd-message:", 1, ""},
        {"vd-messages: x", "vd-message:", 0, ""},
        {"", "vd-message:", 0, ""},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(FindHeaderValue(c.text, c.name, out, 500), c.found) << c.text;
        EXPECT_EQ(out, c.value) << c.text;
    }
    std::string out;
    ASSERT_EQ(
        FindHeaderValue("vd-message: " + std::string(600, 'm') + "\r\n", "vd-message:", out, 500),
        1);
    EXPECT_EQ(out.size(), 500u);
}

TEST(HttpParse, ParseHttpDateReadsBothFormsAndNeedsTheZone) {
    struct Case {
        const char* text;
        int result;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 1, "19941106", "084937"},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 1, "19941106", "084937"},
        {"Sun, 06 Nov 1994 08:49:37 ", 1, "19941106", "084937"},
        {"Thu, 10 Dec 2026 00:00:01 GMT", 1, "20261210", "000001"},
        {"Mon, 01 Jan 2024 23:59:58 GMT", 1, "20240101", "235958"},
        {"Tue, 15 Apr 2025 10:11:12 GMT", 1, "20250415", "101112"},
        {"Fri, 15 Aug 2025 10:11:12 GMT", 1, "20250815", "101112"},
        {"Sat, 14 Jun 2025 10:11:12 GMT", 1, "20250614", "101112"},
        {"Sat, 19 Jul 2025 10:11:12 GMT", 1, "20250719", "101112"},
        {"Sat, 01 Mar 2025 10:11:12 GMT", 1, "20250301", "101112"},
        {"Sat, 03 May 2025 10:11:12 GMT", 1, "20250503", "101112"},
        {"Sun, 06 Nov 1994 08:49:37", 0, "", ""},  // no zone
        {"Sun, 06 Nov 1994", 0, "", ""},
        {"", 0, "", ""},
        {"garbage", 0, "", ""},
    };
    for (const auto& c : cases) {
        std::string date = "x", time = "y";
        std::uint32_t dosDate = 7, dosTime = 7;
        int r = ParseHttpDate(c.text, &date, &time, &dosDate, &dosTime);
        EXPECT_EQ(r, c.result) << c.text;
        if (r) {
            EXPECT_EQ(date, c.date) << c.text;
            EXPECT_EQ(time, c.time) << c.text;
        } else {
            EXPECT_EQ(date, "x") << "nothing is written on failure: " << c.text;
            EXPECT_EQ(dosDate, 7u);
        }
    }
    // The DOS fields carry the header's own hour.
    std::uint32_t dosDate = 0, dosTime = 0;
    ASSERT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT", nullptr, nullptr, &dosDate, &dosTime),
              1);
    EXPECT_EQ(dosDate & 0xFFFF, (14u << 9) | (11u << 5) | 6u);
    EXPECT_EQ(dosTime & 0xFFFF, (8u << 11) | (49u << 5) | 18u);
}

TEST(HttpParse, TheHeadEndsAtCrLfCrLfElseAtLfLf) {
    EXPECT_EQ(FindHeadEnd("A: b\r\n\r\nbody"), 8u);
    EXPECT_EQ(FindHeadEnd("A: b\n\nbody"), 6u);
    EXPECT_EQ(FindHeadEnd("A: b\n\nx\r\n\r\n"), 11u);  // CR LF CR LF is looked for first
    EXPECT_EQ(FindHeadEnd("A: b\r\nB: c\r\n"), std::string_view::npos);
}

TEST(HttpParse, DownloadNamesArePlainNamesOutsideTheConsolesOwnFiles) {
    const char* accepted[] = {"VELDA.NOT",  "VELDA.YES",     "velda.not", "DNSRAW.YES",
                              "DNSRAW.NOT", "LIST-2026.NOT", "a b",       "x"};
    for (const char* name : accepted) EXPECT_EQ(IsAcceptableDownloadName(name), 1) << name;
    EXPECT_EQ(IsAcceptableDownloadName(std::string(64, 'A')), 1);

    // clang-format off
    const std::string refused[] = {
        "", ".", "..", "../VELDA.NOT", "sub/VELDA.NOT", "..\\USER.LST", "C:\\x",
        "USER.LST", "user.lst", "IPADDR.LST", "VeldaNOT.BIN", "veldayes.bin", "NONENOT.BIN",
        "NoneYES.BIN", "DNSHASH.DAT", "DNSHASH.TMP", "DNSRAW.TMP", "VeldaNOT.TMP", "UPDATE",
        "Strings.ini", "WSOCK32.DLL", "USER.LST.new", "VDpIpUI.dll", "VELDANA", "veldana-list",
        "tab\there", "del\x7f", "VELDA\xE9.NOT", std::string(65, 'A'),
    };
    // clang-format on
    for (const auto& name : refused) EXPECT_EQ(IsAcceptableDownloadName(name), 0) << name;
}

TEST(HttpParse, TheRequestHasExactlyTheDocumentedBytes) {
    const std::string block =
        "VD-VERSION: 4.50.005\r\nVD-SOURCE: PXM-QTX-Web\r\nVD-OSVERSION: 6.1\r\nVD-EMAILADDR: "
        "\r\n";
    EXPECT_EQ(
        BuildRequestText(false, "filedown/43", block),
        "GET /filedown/43 HTTP/1.0\r\n" + block + "User-Agent: Veldana\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(BuildRequestText(true, "http://updates.example/filedown/43", ""),
              "GET http://updates.example/filedown/43 HTTP/1.0\r\n"
              "User-Agent: Veldana\r\nAccept: */*\r\n\r\n");
}

TEST(HttpParse, LocalFileStampIsTheLastWriteTimeInUniversalTime) {
    testsupport::TempInstall install;
    std::string dir = install.programDir() + "/";
    install.writeFile(install.file("VELDA.NOT"), "list");
    // 1994-11-06 08:49:37 UTC; the DOS time keeps even seconds.
    ASSERT_TRUE(platform::SetFileWriteTime(install.file("VELDA.NOT"), 784111777));
    std::string date, time;
    GetLocalFileStamp(dir, "VELDA.NOT", date, time);
    EXPECT_EQ(date, "19941106");
    EXPECT_EQ(time, "084936");
    GetLocalFileStamp(dir, "MISSING.NOT", date, time);
    EXPECT_EQ(date, "");
    EXPECT_EQ(time, "");
}

// ---------------------------------------------------------------- transactions

struct Progress {
    ui::WPARAM wParam;
    ui::LPARAM lParam;
};
std::vector<Progress> g_progress;
std::function<void()> g_onProgress;

ui::LRESULT OwnerProc(ui::HWND hwnd, ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) {
    if (message == WM_TRANSFER_PROGRESS) {
        g_progress.push_back({wParam, lParam});
        if (g_onProgress) g_onProgress();
        return 0;
    }
    return ui::DefWindowProc(hwnd, message, wParam, lParam);
}

class HttpTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::ResetWindowLayer();
        ResetTransferStatus();
        ResetHttpTransfer();
        g_progress.clear();
        g_onProgress = nullptr;
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
        ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
        ws::WSADATA data{};
        ASSERT_EQ(resolve::Sockets().WSAStartup(0x0101, &data), 0);
        ui::RegisterClass(ui::WNDCLASS{"HttpTestOwner", OwnerProc});
        owner = ui::CreateWindowEx(0, "HttpTestOwner", "owner", ui::WS_OVERLAPPED, 0, 0, 10, 10, 0);
        request.owner = owner;
        request.serverHost = "127.0.0.1";
        request.downloadNumber = "43";
        request.version = "4.50.005";
        request.source = "PXM-QTX-Web";
        request.osVersion = "6.1";
        request.localPath = Dir();
        HttpTransfer().downloadFileName = "VELDA.NOT";
        // Long enough never to fire in a healthy test; the silent-server tests shorten it.
        HttpTransfer().inactivityMs = 20000;
    }
    void TearDown() override {
        g_onProgress = nullptr;
        if (resolve::SocketLibrary().SocketLibraryHandle) {
            resolve::Sockets().WSACleanup();
            resolve::UnloadSocketLibrary();
        }
        ResetHttpTransfer();
        ResetTransferStatus();
        ui::ResetWindowLayer();
    }

    std::string Dir() const { return install.programDir() + "/"; }
    TransferOutcome Run(ScriptedResponder& responder) {
        return RunTransfer(request, responder.port());
    }
    std::vector<std::string> ProgramFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(install.programDir()))
            if (e.is_regular_file()) names.push_back(e.path().filename().string());
        return names;
    }
    // Installs VELDA.NOT last written at `t` (UTC seconds).
    void InstallList(std::time_t t, const std::string& content = "installed") {
        install.writeFile(install.file("VELDA.NOT"), content);
        ASSERT_TRUE(platform::SetFileWriteTime(install.file("VELDA.NOT"), t));
    }
    static std::time_t WriteTime(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
    }

    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    ui::HWND owner = 0;
    TransferRequest request;
};

TEST_F(HttpTransferTest, ReceivesTheBodyIntoTheNamedFileAndStampsIt) {
    std::string body = Body(50000);
    S responder({S::Send(Head(body.size()) + body.substr(0, 1000)), S::Send(body.substr(1000))});
    EXPECT_EQ(Run(responder), kTransferReceived);
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), body);
    EXPECT_EQ(request.localPath, install.file("VELDA.NOT"));
    EXPECT_EQ(request.localDate, "19941106");
    EXPECT_EQ(request.localTime, "084937");
    // 08:49:37 UTC, to the even second below; the header's own hour.
    EXPECT_EQ(WriteTime(install.file("VELDA.NOT")), 784111776);
    EXPECT_FALSE(TransferStatus().TransferActive);
    EXPECT_EQ(responder.Request(),
              "GET /filedown/43 HTTP/1.0\r\nVD-VERSION: 4.50.005\r\nVD-SOURCE: PXM-QTX-Web\r\n"
              "VD-OSVERSION: 6.1\r\nVD-EMAILADDR: \r\nUser-Agent: Veldana\r\nAccept: */*\r\n\r\n");
}

TEST_F(HttpTransferTest, MidnightStampsKeepTheirDay) {
    std::string body = Body(10);
    S responder({S::Send(Head(10, "VELDA.NOT", "Sun, 06 Nov 1994 00:00:10 GMT") + body)});
    EXPECT_EQ(Run(responder), kTransferReceived);
    EXPECT_EQ(WriteTime(install.file("VELDA.NOT")), 784080010);
    std::string date, time;
    GetLocalFileStamp(Dir(), "VELDA.NOT", date, time);
    EXPECT_EQ(date, "19941106");
    EXPECT_EQ(time, "000010");
}

TEST_F(HttpTransferTest, ThroughAProxyTheRequestLineHoldsTheAbsoluteUrl) {
    S proxy({S::Send(Head(3) + "abc")});
    request.serverHost = "updates.example";  // never resolved: only the proxy is connected to
    request.proxyHost = "127.0.0.1";
    request.proxyPort = proxy.port();
    EXPECT_EQ(RunTransfer(request, 0), kTransferReceived);
    std::string sent = proxy.Request();
    EXPECT_EQ(sent.substr(0, sent.find("\r\n")), "GET http://updates.example/filedown/43 HTTP/1.0");
    EXPECT_EQ(sent.find("Host:"), std::string::npos);
}

TEST_F(HttpTransferTest, ResponsesThatMustFailOrPass) {
    struct Case {
        const char* what;
        std::string response;
        TransferOutcome outcome;
        const char* written;  // content of VELDA.NOT afterwards; nullptr: no file
    };
    std::string full = Head(5);
    std::string noFileDate = full;
    noFileDate.erase(noFileDate.find("vd-filedate"),
                     std::string("vd-filedate: 19941106\r\n").size());
    std::string lfHead =
        "HTTP/1.0 200 OK\nvd-message: OK\nContent-Length: 5\nvd-upgrade: N\n"
        "vd-filename: VELDA.NOT\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\n"
        "vd-filedate: 1\n\n";
    std::string upper =
        "HTTP/1.0 200 OK\r\nVD-MESSAGE: OK\r\nCONTENT-LENGTH: 5\r\nVd-Upgrade: N\r\n"
        "VD-FILENAME: VELDA.NOT\r\nLAST-MODIFIED: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "X-Info: vd-filedate: hidden in a value\r\n\r\n";
    std::string inBody = full;
    inBody.erase(inBody.find("vd-filedate"), std::string("vd-filedate: 19941106\r\n").size());
    const Case cases[] = {
        {"101 refused", "101 Switching\r\n" + full.substr(full.find("\r\n") + 2) + "12345",
         kTransferFailed, nullptr},
        {"blank and sign before 101", "  +101" + full + "12345", kTransferFailed, nullptr},
        {"vd-filedate missing", noFileDate + "12345", kTransferFailed, nullptr},
        {"Content-Length 0", Head(0), kTransferFailed, nullptr},
        {"Content-Length not a number", Head(5).replace(Head(5).find("Length: 5"), 9, "Length: x"),
         kTransferFailed, nullptr},
        {"head ended by LF LF", lfHead + "12345", kTransferReceived, "12345"},
        {"names in any case, one inside a value", upper + "12345", kTransferReceived, "12345"},
        {"a header name in the first body bytes", inBody + "vd-filedate: 1", kTransferReceived,
         "vd-fi"},
        {"404 status with all headers",
         Head(5, "VELDA.NOT", kServerDate, "N", "HTTP/1.0 404 Not Found") + "12345",
         kTransferReceived, "12345"},
        {"more body than Content-Length", full + "1234567890", kTransferReceived, "12345"},
        {"closed before the head ends", "HTTP/1.0 200 OK\r\nvd-message: OK\r\n", kTransferFailed,
         nullptr},
        {"closed before the body is complete", full + "123", kTransferFailed, "123"},
        {"no head end within 19,000 bytes", "X: " + std::string(20000, 'x'), kTransferFailed,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(install.file("VELDA.NOT"));
        request.localPath = Dir();
        S responder({S::Send(c.response)});
        EXPECT_EQ(Run(responder), c.outcome);
        if (c.written)
            EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), c.written);
        else
            EXPECT_FALSE(std::filesystem::exists(install.file("VELDA.NOT")));
    }
}

TEST_F(HttpTransferTest, AListOnTheServersDateIsCurrentAndItsBodyIsNotRead) {
    // Installed on the same day, earlier in the day than the server's copy.
    InstallList(784111777 - 3 * 3600);
    HttpTransfer().inactivityMs = 2000;  // a read of the missing body would end in outcome 0
    struct Case {
        std::string upgrade;
        TransferOutcome outcome;
    };
    for (const Case& c : {Case{"N", kTransferCurrent}, Case{"Y", kTransferUpgrade},
                          Case{"yes", kTransferUpgrade}}) {
        request.localPath = Dir();
        S responder({S::Send(Head(1000, "VELDA.NOT", kServerDate, c.upgrade)), S::Hold()});
        EXPECT_EQ(Run(responder), c.outcome) << c.upgrade;
        EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), "installed");
    }
    // A different day is received, and the upgrade notice rides on the received outcome.
    InstallList(784111777 - 86400);
    request.localPath = Dir();
    S responder({S::Send(Head(4, "VELDA.NOT", kServerDate, "y") + "new!")});
    EXPECT_EQ(Run(responder), kTransferUpgrade);
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), "new!");
}

TEST_F(HttpTransferTest, ADateThatDoesNotParseCountsAsCurrent) {
    HttpTransfer().inactivityMs = 2000;
    for (bool installed : {true, false}) {
        if (installed)
            InstallList(784111777 - 86400);
        else
            std::filesystem::remove(install.file("VELDA.NOT"));
        request.localPath = Dir();
        S responder({S::Send(Head(1000, "VELDA.NOT", "Sun, 06 Nov 1994 08:49:37")), S::Hold()});
        EXPECT_EQ(Run(responder), kTransferCurrent) << installed;
        EXPECT_EQ(std::filesystem::exists(install.file("VELDA.NOT")), installed);
    }
}

TEST_F(HttpTransferTest, ProgressMessagesCountDownTheBody) {
    std::string body = Body(1234);
    S responder(
        {S::Send(Head(1234) + body.substr(0, 234)), S::WaitSignal(), S::Send(body.substr(234))});
    g_onProgress = [&] { responder.Signal(); };
    EXPECT_EQ(Run(responder), kTransferReceived);
    ASSERT_EQ(g_progress.size(), 3u);
    const ui::WPARAM expected[] = {81, 0, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(g_progress[i].wParam, expected[i]) << i;
        EXPECT_EQ(g_progress[i].lParam, 1234) << i;
    }
}

TEST_F(HttpTransferTest, QuietUpdatesAndOwnerlessTransfersSendNoProgress) {
    for (int quiet : {1, 0}) {
        HttpTransfer().QuietUpdate = quiet;
        request.owner = quiet ? owner : 0;
        request.localPath = Dir();
        std::filesystem::remove(install.file("VELDA.NOT"));
        std::string body = Body(3000);
        S responder({S::Send(Head(3000) + body.substr(0, 100)), S::Send(body.substr(100))});
        EXPECT_EQ(Run(responder), kTransferReceived);
        EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), body);
    }
    EXPECT_TRUE(g_progress.empty());
}

TEST_F(HttpTransferTest, UnsafeFileNamesEndTheTransactionWithNothingWritten) {
    // clang-format off
    const std::string names[] = {
        "../VELDA.NOT", "/tmp/VELDA.NOT", "sub/VELDA.NOT", "..\\VELDA.NOT", "..", ".",
        "USER.LST", "ipaddr.lst", "VeldaNOT.BIN", "NoneYES.BIN", "DNSHASH.DAT", "DNSHASH.TMP",
        "DNSRAW.TMP", "UPDATE", "STRINGS.INI", "WSOCK32.DLL", "VELDA\x01.NOT", "VELDA\xE9.NOT",
        "VELDA.NOT\tx", std::string(65, 'N'), "",
    };
    // clang-format on
    install.writeFile(install.file("USER.LST"), "mine");
    auto before = ProgramFiles();
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        request.localPath = Dir();
        S responder({S::Send(Head(4, name) + "evil")});
        EXPECT_EQ(Run(responder), kTransferFailed);
        EXPECT_EQ(request.localPath, Dir());
        EXPECT_EQ(ProgramFiles(), before);
    }
    EXPECT_EQ(install.readFile(install.file("USER.LST")), "mine");
    EXPECT_FALSE(std::filesystem::exists(install.root() + "/VELDA.NOT"));
}

TEST_F(HttpTransferTest, AFileThatCannotBeReplacedIsLeftAlone) {
    // Read-only: nothing written, outcome 0.
    InstallList(784111777 - 86400, "read-only");
    ::chmod(install.file("VELDA.NOT").c_str(), 0444);
    S readOnly({S::Send(Head(3) + "new")});
    EXPECT_EQ(Run(readOnly), kTransferFailed);
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), "read-only");

    // A directory under the name.
    request.localPath = Dir();
    std::filesystem::create_directory(install.file("DNSRAW.NOT"));
    S directory({S::Send(Head(3, "DNSRAW.NOT") + "new")});
    EXPECT_EQ(Run(directory), kTransferFailed);
    EXPECT_TRUE(std::filesystem::is_directory(install.file("DNSRAW.NOT")));
}

TEST_F(HttpTransferTest, WriteFailuresAreNeverReportedAsReceived) {
    // File-changing steps of a receive into a new file: 1 create; the body goes out in
    // page-aligned pieces of at least 256 KiB, so for 700,000 bytes 2 and 3 are the pieces
    // written while it comes and 4 the rest at its end. A failed create leaves nothing, and
    // a failed write leaves no partial file either.
    std::string body = Body(700000);
    for (int failingStep : {1, 2, 3, 4}) {
        SCOPED_TRACE(failingStep);
        request.localPath = Dir();
        std::filesystem::remove(install.file("VELDA.NOT"));
        S responder({S::Send(Head(body.size()) + body.substr(0, 2000)), S::WaitSignal(),
                     S::Send(body.substr(2000))});
        g_onProgress = [&] { responder.Signal(); };
        platform::InjectFileFault(failingStep);
        EXPECT_EQ(Run(responder), kTransferFailed);
        platform::ClearFileFaults();
        responder.Signal();
        EXPECT_FALSE(std::filesystem::exists(install.file("VELDA.NOT")));
    }
    // Without a fault the same transfer is received whole.
    g_onProgress = nullptr;
    request.localPath = Dir();
    S responder({S::Send(Head(body.size()) + body)});
    EXPECT_EQ(Run(responder), kTransferReceived);
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), body);
}

TEST_F(HttpTransferTest, FailuresToConnect) {
    int port = 0;
    {
        // A port nobody listens on.
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        ::close(fd);
    }
    EXPECT_EQ(RunTransfer(request, port), kTransferFailed);
    request.serverHost = "";  // no address
    EXPECT_EQ(RunTransfer(request, port), kTransferFailed);
    EXPECT_FALSE(TransferStatus().TransferActive);
}

TEST_F(HttpTransferTest, ASilentServerIsCutOffByTheInactivityTimer) {
    HttpTransfer().inactivityMs = 150;
    S silent({S::Hold()});
    EXPECT_EQ(Run(silent), kTransferFailed);
    EXPECT_TRUE(silent.ClientHungUp());
    EXPECT_FALSE(std::filesystem::exists(install.file("VELDA.NOT")));

    // Silent in the middle of the body: incomplete, the partial file is left stamped for the
    // caller to delete.
    request.localPath = Dir();
    std::string body = Body(5000);
    S stalled({S::Send(Head(body.size()) + body.substr(0, 700)), S::Hold()});
    EXPECT_EQ(Run(stalled), kTransferFailed);
    EXPECT_TRUE(stalled.ClientHungUp());
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), body.substr(0, 700));
    EXPECT_EQ(HttpTransfer().timerId, 0u) << "the timer stops with the transaction";
}

TEST_F(HttpTransferTest, CancelInTheProgressWindowStopsTheBody) {
    ShowTransferStatus(std::nullopt, StatusLevel::kNew);
    ASSERT_NE(TransferStatus().window, 0u);
    std::string body = Body(100);
    S responder({S::Send(Head(10000000) + body), S::WaitSignal(), S::Drip()});
    bool clicked = false;
    g_onProgress = [&] {
        if (clicked) return;
        clicked = true;
        display.Click(TransferStatus().window, kCancelButtonId);
        responder.Signal();
    };
    EXPECT_EQ(Run(responder), kTransferCancelled);
    EXPECT_TRUE(TransferStatus().TransferCancelRequested);
    EXPECT_EQ(TransferStatus().window, 0u) << "Cancel closes the progress window";
    auto size = std::filesystem::file_size(install.file("VELDA.NOT"));
    EXPECT_GE(size, 100u);
    EXPECT_LT(size, 10000000u);
}

}  // namespace
