// From a blocklist folder to a console that filters with it: veldana-list import, served by
// veldana-update-server --from, fetched and built by veldana /qr on a fresh installation,
// then looked up with veldana-db and decided by veldana-filter check; a subdomain of a
// listed name is matched through its parent.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"

namespace {

using testsupport::BuiltProgram;
using testsupport::RunCommand;

std::string Q(const std::string& s) { return "'" + s + "'"; }

TEST(ImportEndToEnd, ABlocklistFolderBecomesWhatTheFilterDecidesWith) {
    testsupport::TempInstall install;
    testsupport::PeerDir source;
    const std::string tree = source.path() + "/blocklists";
    for (const char* dir : {"adult", "gambling", "kids"}) std::filesystem::create_directories(tree + "/" + dir);
    source.WriteFile("blocklists/adult/domains", "bad.example\nWWW.Porn.example\n");
    source.WriteFile("blocklists/adult/urls", "news.example/adult/\n");
    source.WriteFile("blocklists/gambling/domains", "casino.example\n");
    source.WriteFile("blocklists/kids/domains", "kid.example\n");
    const std::string hosts = source.WriteFile("hosts", "127.0.0.1 localhost\n0.0.0.0 tracker.example\n");
    const std::string out = source.path() + "/mirror";
    std::filesystem::create_directories(out);

    std::string stdoutText, err;
    ASSERT_EQ(RunCommand(BuiltProgram("veldana-list") + " import " + Q(out) + " --tree " + Q(tree) +
                             " --list " + Q(hosts) + " malware",
                         &stdoutText, &err),
              0)
        << err << stdoutText;
    EXPECT_NE(stdoutText.find("adult"), std::string::npos) << stdoutText;

    testsupport::UpdateServerPeer server;
    ASSERT_TRUE(server.Start({}, {"--from", out})) << server.Output();
    install.writeFile(install.file("STRINGS.INI"),
                      "[strings]\n13=127.0.0.1:" + std::to_string(server.port()) + "\n");
    // A fresh installation: the lists are due, fetched, and compiled.
    ASSERT_EQ(RunCommand("setsid -w " + BuiltProgram("veldana") + " /qr < /dev/null", nullptr, &err), 0) << err;
    for (const char* list : {"VELDA.NOT", "VELDA.YES", "DNSRAW.NOT", "DNSRAW.YES"})
        EXPECT_EQ(install.readFile(install.file(list)), install.readFile(out + "/" + list)) << list;

    ASSERT_EQ(RunCommand(BuiltProgram("veldana-db") + " lookup " + Q(install.file("DNSHASH.DAT")) +
                             " porn.example",
                         &stdoutText, &err),
              0)
        << err;
    EXPECT_NE(stdoutText.find("240.0.0."), std::string::npos) << stdoutText;

    auto check = [&](const std::string& url) {
        std::string text;
        RunCommand(BuiltProgram("veldana-filter") + " check " + Q(url) + " --json --at '2026-12-07 10:00'", &text);
        return nlohmann::json::parse(text, nullptr, false);
    };
    struct Case {
        const char* url;
        const char* verdict;
        const char* rule;
        std::uint16_t categories;
    };
    const Case cases[] = {
        {"http://bad.example/", "blocked", "restricted-list", 0x000C},       // adult: bits 2 and 3
        {"http://deep.sub.bad.example/x", "blocked", "restricted-list", 0x000C},
        {"http://www.porn.example/", "blocked", "restricted-list", 0x000C},
        {"http://casino.example/", "blocked", "restricted-list", 0x0400},
        {"http://tracker.example/pixel.gif", "blocked", "restricted-list", 0x0400},
        {"http://news.example/adult/story.html", "blocked", "restricted-list", 0x000C},
        {"http://news.example/sport/", "allowed", "not-restricted", 0},
        {"http://kid.example/", "allowed", "not-restricted", 0},
    };
    for (const Case& c : cases) {
        const nlohmann::json j = check(c.url);
        ASSERT_TRUE(j.is_object()) << c.url;
        EXPECT_EQ(j["verdict"], c.verdict) << c.url << "\n" << j.dump(1);
        EXPECT_EQ(j["rule"], c.rule) << c.url;
        if (c.categories) {
            EXPECT_EQ(j["categories"], c.categories) << c.url;
        }
    }
    // Under the approved list, the kids' site is what is allowed.
    ASSERT_EQ(RunCommand(BuiltProgram("veldana-reg") +
                             " add 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services' "
                             "/v NormalVeldaYES /d 1 /f",
                         nullptr, &err),
              0)
        << err;
    EXPECT_EQ(check("http://kid.example/")["rule"], "approved-list");
    EXPECT_EQ(check("http://bad.example/")["rule"], "not-approved");
}

}  // namespace
