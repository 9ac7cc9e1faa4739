// "veldana /qr" when a download is due, against veldana-update-server on loopback: the
// four lists are fetched, installed and compiled; nobody is there to answer a message, so
// quick run writes its messages to standard error and goes on.
#include <chrono>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "settings/settings_store.h"
#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"
#include "update/download_schedule.h"

namespace {

using testsupport::BuiltProgram;
using testsupport::RunCommand;

std::string Q(const std::string& s) { return "'" + s + "'"; }

using testsupport::RawNameList;

class ListUpdateTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    testsupport::PeerDir served;
    testsupport::UpdateServerPeer server;

    std::string MakeList(const std::string& name, const std::string& source) {
        std::string out = served.path() + "/" + name;
        std::string err;
        EXPECT_EQ(testsupport::MakeListFile(source, out, &err), 0) << err;
        return out;
    }

    void StartServer(const std::string& upgrade = "N") {
        std::string notList = MakeList("VELDA.NOT", "kind restricted\naddress 192.0.2.10 0x0001\n");
        std::string yesList = MakeList("VELDA.YES", "kind approved\naddress 198.51.100.1 0x0200\n");
        std::string rawYes = served.WriteFile("DNSRAW.YES", RawNameList("good.example", 0x01646433));
        std::string rawNot = served.WriteFile("DNSRAW.NOT", RawNameList("bad.example", 0x0909090a));
        std::vector<testsupport::ContractFile> files = {
            {"43", notList, "VELDANOT.RCV", upgrade}, {"16", yesList, "VELDAYES.RCV", upgrade},
            {"22", rawYes, "RAWYES.RCV", upgrade},    {"21", rawNot, "RAWNOT.RCV", upgrade}};
        std::vector<std::string> extra;
        if (upgrade == "Y") extra = {"--upgrade", "Y"};
        ASSERT_TRUE(server.Start(files, extra)) << server.Output();
        // The primary server refuses connections; the secondary answers.
        install.writeFile(install.file("STRINGS.INI"),
                          "[strings]\n13=127.0.0.1:1\n18=127.0.0.1:" + std::to_string(server.port()) +
                              "\n19=\n");
    }

    // The console on another day: faketime moves its clock. (faketime preloads a library; a
    // sanitizer build must be told that its runtime need not come first.)
    std::string LaterRun(const std::string& day) {
        return "ASAN_OPTIONS=verify_asan_link_order=0:${ASAN_OPTIONS:-} setsid -w faketime '" + day +
               " 12:00:00' " + BuiltProgram("veldana") + " /qr < /dev/null";
    }

    // Runs the console without a controlling terminal, as a scheduled job would.
    int QuickRun(std::string& err) {
        return RunCommand("setsid -w " + BuiltProgram("veldana") + " /qr < /dev/null", nullptr, &err);
    }
};

TEST_F(ListUpdateTest, ADueDownloadFetchesInstallsAndCompilesEveryList) {
    StartServer();
    std::string err;
    ASSERT_EQ(QuickRun(err), 0) << err;
    EXPECT_EQ(err, "") << "an automatic update shows nothing";

    for (const char* name : {"VELDA.NOT", "VELDA.YES", "DNSRAW.YES", "DNSRAW.NOT"})
        EXPECT_EQ(install.readFile(install.file(name)), install.readFile(served.path() + "/" + name)) << name;
    for (const char* gone : {"VELDANOT.RCV", "RAWYES.RCV", "DNSRAW.TMP"})
        EXPECT_FALSE(platform::FileExists(install.file(gone))) << gone;

    using namespace settings;
    EXPECT_EQ(ReadSetting(kKeyBinChanged), "1");
    EXPECT_EQ(ReadSetting(kKeyNotDownloadDay), std::to_string(update::DayNumber()));
    EXPECT_EQ(ReadSetting(kKeyYesDownloadDay), std::to_string(update::DayNumber()));
    std::string out;
    ASSERT_EQ(RunCommand(BuiltProgram("veldana-db") + " lookup " + Q(install.file("VeldaNOT.BIN")) +
                             " 192.0.2.10", &out, &err), 0);
    EXPECT_NE(out.find("categories 0x0001"), std::string::npos) << out;
    ASSERT_EQ(RunCommand(BuiltProgram("veldana-db") + " lookup " + Q(install.file("DNSHASH.DAT")) +
                             " bad.example", &out, &err), 0);
    EXPECT_NE(out.find("10.9.9.9"), std::string::npos) << out;

    // What the server saw: four requests, each with the product headers.
    std::string log = server.Log();
    for (const char* number : {"/filedown/43", "/filedown/16", "/filedown/22", "/filedown/21"})
        EXPECT_NE(log.find(number), std::string::npos) << log;
    EXPECT_NE(log.find("VD-VERSION=\"4.50.005\""), std::string::npos) << log;
    EXPECT_NE(log.find("VD-SOURCE=\"PXM-QTX-Web\""), std::string::npos) << log;
}

// Through a proxy (the update server takes absolute URLs, as a proxy would be given them),
// then again the next day: the lists were fetched yesterday, nothing is due.
TEST_F(ListUpdateTest, ThroughAProxyAndNothingDueTheNextDay) {
    StartServer();
    install.writeFile(install.file("STRINGS.INI"), "[strings]\n13=lists1.veldana.example\n");
    settings::WriteSetting(settings::kKeyProxyServer, {}, "127.0.0.1");
    settings::WriteSetting(settings::kKeyProxyPort, {}, std::to_string(server.port()));
    std::string err;
    ASSERT_EQ(QuickRun(err), 0) << err;
    std::string log = server.Log();
    EXPECT_NE(log.find("\"GET http://lists1.veldana.example/filedown/43 HTTP/1.0\""), std::string::npos) << log;
    EXPECT_EQ(install.readFile(install.file("VELDA.YES")), install.readFile(served.path() + "/VELDA.YES"));
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");

    std::string out;
    ASSERT_EQ(RunCommand("date -d tomorrow +%F", &out), 0);
    out.pop_back();
    ASSERT_EQ(RunCommand(LaterRun(out), nullptr, &err), 0) << err;
    EXPECT_EQ(server.Log(), log) << "no request the next day";

    // A week later the lists are due again (which also shows the clock was moved).
    ASSERT_EQ(RunCommand("date -d '8 days' +%F", &out), 0);
    out.pop_back();
    ASSERT_EQ(RunCommand(LaterRun(out), nullptr, &err), 0) << err;
    EXPECT_GT(server.Log().size(), log.size()) << "due after seven days";
}

// The same contract served by nginx, reached through tinyproxy: a quiet automatic update,
// then an interactive one that finds every list current by the date of Last-Modified.
TEST_F(ListUpdateTest, NginxThroughTinyproxyQuietlyThenCurrent) {
    if (testsupport::NginxPeer::Program().empty() || testsupport::TinyproxyPeer::Program().empty())
        GTEST_SKIP() << "nginx or tinyproxy is not installed";
    std::string notList = MakeList("VELDA.NOT", "kind restricted\naddress 192.0.2.10 0x0001\n");
    std::string yesList = MakeList("VELDA.YES", "kind approved\naddress 198.51.100.1 0x0200\n");
    std::string rawYes = served.WriteFile("DNSRAW.YES", RawNameList("good.example", 0x01646433));
    std::string rawNot = served.WriteFile("DNSRAW.NOT", RawNameList("bad.example", 0x0909090a));
    testsupport::NginxPeer nginx;
    ASSERT_TRUE(nginx.Start({{"43", notList, "VELDANOT.RCV"}, {"16", yesList, "VELDAYES.RCV"},
                             {"22", rawYes, "RAWYES.RCV"}, {"21", rawNot, "RAWNOT.RCV"}}))
        << nginx.ErrorLog();
    testsupport::TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.Log();
    install.writeFile(install.file("STRINGS.INI"),
                      "[strings]\n13=127.0.0.1:" + std::to_string(nginx.port()) + "\n");
    settings::WriteSetting(settings::kKeyProxyServer, {}, "127.0.0.1");
    settings::WriteSetting(settings::kKeyProxyPort, {}, std::to_string(proxy.port()));

    std::string err;
    ASSERT_EQ(QuickRun(err), 0) << err;
    EXPECT_EQ(err, "");
    for (const char* name : {"VELDA.NOT", "VELDA.YES", "DNSRAW.YES", "DNSRAW.NOT"})
        EXPECT_EQ(install.readFile(install.file(name)), install.readFile(served.path() + "/" + name)) << name;
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
    EXPECT_NE(nginx.AccessLog().find("GET /filedown/21"), std::string::npos) << nginx.AccessLog();
    EXPECT_NE(proxy.Log().find("filedown/43"), std::string::npos) << "through the proxy\n" << proxy.Log();

    // Due again, now interactive: the installed lists carry the server's dates.
    settings::WriteSetting(settings::kKeyNotDownloadDay, {}, "1");
    settings::WriteSetting(settings::kKeyAutoDownload, {}, "0");
    ASSERT_EQ(QuickRun(err), 0) << err;
    EXPECT_NE(err.find("All VeldaLists are up to date."), std::string::npos) << err;
}

TEST_F(ListUpdateTest, WithAutomaticDownloadOffTheMessagesGoToStandardError) {
    StartServer();
    settings::WriteSetting(settings::kKeyAutoDownload, {}, "0");
    std::string err;
    ASSERT_EQ(QuickRun(err), 0) << err;
    EXPECT_NE(err.find("VeldaLists download was successful. [answered OK]"), std::string::npos) << err;

    // Again: everything is current now, and each list says so.
    settings::WriteSetting(settings::kKeyNotDownloadDay, {}, "1");
    ASSERT_EQ(QuickRun(err), 0) << err;
    EXPECT_NE(err.find("most current revision of the VeldaNOT list"), std::string::npos) << err;
    EXPECT_NE(err.find("most current revision of the VeldaYES list"), std::string::npos) << err;
    EXPECT_NE(err.find("All VeldaLists are up to date."), std::string::npos) << err;
}

TEST_F(ListUpdateTest, ANewerProgramIsAnnouncedEvenWhenQuiet) {
    StartServer("Y");
    std::string err;
    ASSERT_EQ(QuickRun(err), 0) << err;
    EXPECT_NE(err.find("A newer version of the Veldana program is available."), std::string::npos) << err;
    std::string marker = install.readFile(install.file("UPDATE"));
    EXPECT_EQ(marker.size(), 128u);
    EXPECT_EQ(marker.substr(0, marker.find('\0')), "Visit www.veldana.example for the latest upgrade of Veldana.");
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), install.readFile(served.path() + "/VELDA.NOT"))
        << "the update goes on";
}

// kill -9 at random moments of a run that downloads and rebuilds, in a loop bounded in
// time: whatever the moment, the databases the store names under "1" are complete, and the
// next run (which downloads again what was not installed) leaves everything complete and no
// file of the interrupted work behind.
TEST_F(ListUpdateTest, KilledAtRandomMomentsOfADownloadTheNextRunRepairsEverything) {
    StartServer();
    const auto databases = {"NoneNOT.BIN", "NoneYES.BIN", "VeldaNOT.BIN", "VeldaYES.BIN",
                            "DNSHASH.DAT"};
    auto complete = [&](const char* file) {
        return RunCommand(BuiltProgram("veldana-db") + " info " + Q(install.file(file))) == 0;
    };
    auto leftovers = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(install.programDir())) {
            const std::string name = e.path().filename().string();
            for (const char* mark : {".TMP", ".RCV", ".new-"})
                if (name.find(mark) != std::string::npos) names.push_back(name);
        }
        return names;
    };
    auto due = [&] {
        settings::WriteSetting(settings::kKeyNotDownloadDay, {}, "1");
        settings::WriteSetting(settings::kKeyYesDownloadDay, {}, "1");
    };
    // How long a whole run takes (measured again at every repair, which downloads as much):
    // the kills fall anywhere in it.
    std::string err;
    auto timedRun = [&](long& us) {
        const auto start = std::chrono::steady_clock::now();
        const int rc = QuickRun(err);
        us = std::chrono::duration_cast<std::chrono::microseconds>(
                 std::chrono::steady_clock::now() - start).count();
        return rc;
    };
    long runUs = 0;
    due();
    ASSERT_EQ(timedRun(runUs), 0) << err;

    std::mt19937 random(20261210);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int killed = 0, rounds = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        ++rounds;
        due();
        const long delayUs = std::uniform_int_distribution<long>(0, runUs * 3 / 4)(random);
        std::string out;
        ASSERT_EQ(RunCommand("setsid " + BuiltProgram("veldana") + " /qr </dev/null 2>/dev/null & p=$!; "
                             "sleep " + std::to_string(delayUs / 1e6) + "; kill -9 $p 2>/dev/null; "
                             "wait $p; echo $?", &out),
                  0);
        const int rc = std::stoi(out);
        SCOPED_TRACE("round " + std::to_string(rounds) + ", killed after " +
                     std::to_string(delayUs) + " us, status " + std::to_string(rc));
        ASSERT_TRUE(rc == 0 || rc == 128 + 9) << "a run ends well or is killed";
        if (rc != 0) ++killed;
        if (settings::ReadSetting(settings::kKeyBinChanged) == "1") {
            for (const char* file : databases) EXPECT_TRUE(complete(file)) << file;
        }

        due();
        ASSERT_EQ(timedRun(runUs), 0) << "the repair: " << err;
        EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
        for (const char* file : databases) EXPECT_TRUE(complete(file)) << file;
        for (const char* name : {"VELDA.NOT", "VELDA.YES", "DNSRAW.YES", "DNSRAW.NOT"})
            EXPECT_EQ(install.readFile(install.file(name)), install.readFile(served.path() + "/" + name))
                << name;
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
        if (HasFailure()) break;
    }
    std::printf("%d rounds, %d killed, a whole run %ld us\n", rounds, killed, runUs);
    EXPECT_GT(killed, rounds / 2) << "most kills land inside a run";
}

}  // namespace
