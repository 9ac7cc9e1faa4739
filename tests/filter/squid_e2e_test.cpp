// The filter inside a real Squid on loopback: requests made with curl through the proxy to
// an nginx origin are passed or sent to the block page as the console's policy says, in
// work time and in leisure time (the helper's clock moved with libfaketime), for each access
// mode and list choice; HTTPS CONNECT to a blocked host is refused; a policy the console
// publishes takes effect without a restart of Squid; a rebuild in progress lets nothing
// through that was blocked before.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/filter/filter_fixture.h"
#include "tests/support/http_peers.h"

namespace {

using testsupport::BuiltProgram;
using testsupport::RunCommand;

constexpr const char* kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

std::string Q(const std::string& s) { return "'" + s + "'"; }

class SquidTest : public ::testing::Test {
  protected:
    // Each test runs in a process of its own, side by side: each gets its own addresses.
    void Start(int block) {
        for (const char* program : {"/usr/sbin/squid", "/usr/sbin/nginx", "/usr/bin/curl", kFakeTime})
            if (access(program, X_OK) != 0 && access(program, R_OK) != 0)
                GTEST_SKIP() << program << " is not installed";
        fixture = std::make_unique<filtertest::FilterInstallation>(std::string(VELDANA_DNS_NET) + std::to_string(236 + block) + ".");
        std::string why;
        if (!fixture->Available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(fixture->Build(why)) << why;
        fixture->SetPolicy("RedirectedSite", "http://block.example/stop.html");

        // Squid runs its helpers as the user proxy: everything they read must be readable.
        const std::string& root = fixture->install.root();
        for (const std::string& dir : {root, root + "/prog", root + "/prog/windows"}) chmod(dir.c_str(), 0755);
        dir = root + "/squid";
        std::filesystem::create_directories(dir);
        chmod(dir.c_str(), 0777);
        helper = root + "/veldana-filter";
        std::filesystem::copy_file(BuiltProgram("veldana-filter"), helper);
        chmod(helper.c_str(), 0755);
        SetClock("2026-12-07 10:00:00");  // a Monday, work time

        origin = std::string(VELDANA_DNS_NET) + std::to_string(238 + block) + ".10";
        ASSERT_TRUE(StartNginx()) << testsupport::ReadWholeFile(dir + "/nginx.err");
        ASSERT_TRUE(StartSquid()) << testsupport::ReadWholeFile(dir + "/cache.log");
    }

    void SetClock(const std::string& when) {
        const std::string path = dir + "/clock";
        fixture->install.writeFile(path + ".new", when + "\n");
        std::filesystem::rename(path + ".new", path);
        chmod(path.c_str(), 0644);
    }

    bool StartNginx() {
        std::filesystem::create_directories(dir + "/nginx-temp");
        std::string conf = "worker_processes 1;\ndaemon off;\npid " + dir + "/nginx.pid;\n"
                           "error_log " + dir + "/nginx.err;\nevents { worker_connections 64; }\n"
                           "http {\n    access_log off;\n";
        for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf += std::string("    ") + t + "_temp_path " + dir + "/nginx-temp/" + t + ";\n";
        conf += "    server {\n        listen " + origin + ":80;\n"
                "        location / { return 200 \"origin $host$uri\\n\"; }\n    }\n}\n";
        fixture->install.writeFile(dir + "/nginx.conf", conf);
        return nginx.Start({"/usr/sbin/nginx", "-c", dir + "/nginx.conf"}, dir + "/nginx.out");
    }

    bool StartSquid() {
        port = testsupport::FreeLoopbackPort();
        std::string out;
        // The filter's own lines, with the helper under a clock the test moves.
        RunCommand(helper + " squid-config --registry " + Q(fixture->install.registryPath()), &out);
        const std::string clocked = std::string("/usr/bin/env LD_PRELOAD=") + kFakeTime +
                                    " FAKETIME_TIMESTAMP_FILE=" + dir + "/clock FAKETIME_NO_CACHE=1 DONT_FAKE_MONOTONIC=1 NO_FAKE_STAT=1 " +
                                    helper + " ";
        std::size_t at = out.find(helper + " ");
        if (at == std::string::npos) return false;
        out.replace(at, helper.size() + 1, clocked);
        std::string hosts;
        for (const char* name : {"bad.example", "school.example", "paths.example", "siteblock.example",
                                 "gamble.example", "poker.casino.example", "safe.casino.example",
                                 "mixed.example", "unknown.invalid"})
            hosts += origin + " " + name + "\n";
        fixture->install.writeFile(dir + "/hosts", hosts);
        const std::string conf =
            "http_port 127.0.0.1:" + std::to_string(port) + "\n" + "pid_filename " + dir +
            "/squid.pid\ncache_log " + dir + "/cache.log\naccess_log " + dir +
            "/access.log\ncoredump_dir " + dir + "\ncache deny all\nshutdown_lifetime 1 seconds\n" +
            "hosts_file " + dir + "/hosts\n" + out + "http_access allow all\n";
        fixture->install.writeFile(dir + "/squid.conf", conf);
        if (!squid.Start({"/usr/sbin/squid", "-f", dir + "/squid.conf", "-N", "-d1"}, dir + "/squid.out"))
            return false;
        return testsupport::WaitForPort(port, 20000);
    }

    // "CODE LOCATION" of a request through Squid ("CODE" for a CONNECT refused).
    std::string Fetch(const std::string& url) {
        std::string out;
        const bool https = url.rfind("https:", 0) == 0;
        RunCommand("curl -s -o /dev/null --max-time 10 -x http://127.0.0.1:" + std::to_string(port) +
                       " -w '" + (https ? "%{http_connect}" : "%{http_code} %{redirect_url}") + "' " + Q(url),
                   &out);
        return out;
    }
    std::string Blocked(const std::string& url, const std::string& reason) {
        return "302 http://block.example/stop.html?url=" + Encoded(url) + "&reason=" + reason;
    }
    static std::string Encoded(const std::string& url) {
        std::string out;
        for (char c : url) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~') {
                out += c;
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
                out += hex;
            }
        }
        return out;
    }
    // Waits (up to a few seconds) until a request is answered as expected: the helper looks
    // at the console's publications about once a second.
    void Until(const std::string& url, const std::string& expected) {
        std::string got;
        for (int i = 0; i < 40; ++i) {
            got = Fetch(url);
            if (got == expected) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        ADD_FAILURE() << url << ": " << got << " instead of " << expected;
    }

    std::unique_ptr<filtertest::FilterInstallation> fixture;
    std::string dir, helper, origin;
    int port = 0;
    testsupport::ChildProcess nginx, squid;
};

TEST_F(SquidTest, RequestsThroughSquidFollowThePolicy) {
    Start(0);
    const std::string ok = "200 ";
    EXPECT_EQ(Fetch("http://bad.example/"), Blocked("http://bad.example/", "restricted-list"));
    EXPECT_EQ(Fetch("http://school.example/"), ok);
    EXPECT_EQ(Fetch("http://paths.example/ads/x.gif"), Blocked("http://paths.example/ads/x.gif", "restricted-list"));
    EXPECT_EQ(Fetch("http://paths.example/news/"), ok);
    EXPECT_EQ(Fetch("http://siteblock.example/a"), Blocked("http://siteblock.example/a", "restricted-list"));
    EXPECT_EQ(Fetch("http://gamble.example/"), ok) << "the administrator's approval";
    EXPECT_EQ(Fetch("http://10.5.5.5/"), Blocked("http://10.5.5.5/", "restricted-site"));
    EXPECT_EQ(Fetch("http://www.veldana.test/"), Blocked("http://www.veldana.test/", "restricted-site"))
        << "a site whose name nsd resolved for the console";
    EXPECT_EQ(Fetch("http://alias.example/x"), Blocked("http://alias.example/x", "restricted-list"));
    EXPECT_EQ(Fetch("http://poker.casino.example/"), Blocked("http://poker.casino.example/", "restricted-domain"));
    EXPECT_EQ(Fetch("http://safe.casino.example/"), ok);
    EXPECT_EQ(Fetch("https://bad.example/"), "302") << "CONNECT to a blocked host";

    // A policy change reaches the running helper.
    fixture->SetPolicy("NormalWEB", "3");
    Until("http://school.example/", Blocked("http://school.example/", "no-access"));
    fixture->SetPolicy("NormalWEB", "2");
    Until("http://bad.example/", ok);
    fixture->SetPolicy("NormalWEB", "1");
    fixture->SetPolicy("NormalVeldaYES", "1");
    fixture->SetPolicy("NormalContent", "65535");
    Until("http://bad.example/", Blocked("http://bad.example/", "not-approved"));
    EXPECT_EQ(Fetch("http://school.example/"), ok);
    fixture->SetPolicy("NormalVeldaYES", "3");
    Until("http://school.example/", Blocked("http://school.example/", "approvals-only"));
    fixture->SetPolicy("NormalVeldaYES", "2");
    Until("http://bad.example/", ok);
    EXPECT_EQ(Fetch("http://10.5.5.5/"), Blocked("http://10.5.5.5/", "restricted-site"));

    // Leisure time: Sunday, with its own choices.
    fixture->SetPolicy("LeisureVeldaYES", "3");
    SetClock("2026-12-06 10:00:00");
    Until("http://school.example/", Blocked("http://school.example/", "approvals-only"));
    SetClock("2026-12-07 10:00:00");
    Until("http://school.example/", ok);
}

TEST_F(SquidTest, ARebuildInProgressLetsNothingThroughThatWasBlocked) {
    Start(1);
    EXPECT_EQ(Fetch("http://bad.example/"), Blocked("http://bad.example/", "restricted-list"));
    fixture->SetPolicy("VELDABIN_Changed", "0");
    const std::string replacement = fixture->install.file("VeldaNOT.new");
    fixture->install.writeFile(replacement, "half a database");
    std::filesystem::rename(replacement, fixture->install.file("VeldaNOT.BIN"));
    std::remove(fixture->install.file("NoneNOT.BIN").c_str());
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(Fetch("http://bad.example/"), Blocked("http://bad.example/", "restricted-list"));
        EXPECT_EQ(Fetch("http://10.5.5.5/"), Blocked("http://10.5.5.5/", "restricted-site"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // The rebuild ends with the console's own files; they decide from then on.
    std::string error;
    ASSERT_TRUE(fixture->Rebuild(error)) << error;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Fetch("http://bad.example/"), Blocked("http://bad.example/", "restricted-list"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace
