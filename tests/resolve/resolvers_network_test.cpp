// The site resolvers against real name servers on loopback: the bulk resolution records
// what it finds in IPADDR.LST, and later lookups are answered from there without traffic.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/files.h"
#include "resolve/dns_client.h"
#include "resolve/resolvers.h"
#include "resolve/socket_library.h"
#include "settings/settings_store.h"
#include "sitelists/site_list.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/window.h"

namespace {

using namespace resolve;
using sitelists::SiteList;

class ResolversNetworkTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    std::unique_ptr<dnspeers::NsdChain> chain;

    void SetUp() override {
        display.onStuck = nullptr;  // waits on sockets are expected
    }
    // Tests run side by side in separate processes: each starts servers in its own block.
    void StartServers(int block) {
        chain = std::make_unique<dnspeers::NsdChain>(std::string(VELDANA_DNS_NET) +
                                                     std::to_string(block) + ".");
        if (chain->unavailable()) GTEST_SKIP() << chain->error();
        ASSERT_TRUE(chain->ok()) << chain->error();
        settings::WriteSetting(settings::kKeyDnsServers, "QTXDNS1", chain->RootServer());
    }
    void TearDown() override {
        UnloadSocketLibrary();
        ui::ResetWindowLayer();
    }
};

TEST_F(ResolversNetworkTest, BulkResolutionRecordsAndTheCacheAnswersLater) {
    StartServers(200);
    if (IsSkipped() || HasFatalFailure()) return;
    const std::uint32_t first = dnspeers::Address("10.1.2.3");
    install.writeFile(install.file("MORE.TXT"), "www.veldana.test\n");
    sitelists::SetSiteName(SiteList::kApproved, 0, "http://www.veldana.test/kids");
    sitelists::SetSiteName(SiteList::kRestricted, 0, "more.txt");
    sitelists::SetSiteName(SiteList::kRestricted, 1, "nowhere.veldana.test");
    sitelists::SetSiteAddress(SiteList::kRestricted, 1, dnspeers::Address("10.9.9.9"));

    ASSERT_EQ(LoadSocketLibrary(), 1);
    ResolveAllSites();
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kApproved, 0), first);
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 0), 0u) << "a file entry";
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 1), 0u) << "not resolvable";
    // Two records for www.veldana.test: the approved entry and the file's line.
    EXPECT_EQ(install.readFile(install.file("IPADDR.LST")).size(), 2 * kAddressRecordSize);
    UnloadSocketLibrary();

    // With the name servers gone, the cache still answers, in any letter case.
    chain.reset();
    ResetDnsClient();
    AddressList list{};
    ASSERT_EQ(LookupOrResolve("WWW.Veldana.TEST/other/path", list), 1);
    EXPECT_EQ(list[0], first);
    EXPECT_EQ(list[1], dnspeers::Address("10.1.2.4"));
    EXPECT_EQ(list[2], 0u);
}

// Also inside a file search snapshot, where the cache file is checked only once: the
// record the console appended is seen all the same.
TEST_F(ResolversNetworkTest, LookupOrResolveAsksDnsOnceAndRecordsTheAnswer) {
    StartServers(201);
    if (IsSkipped() || HasFatalFailure()) return;
    for (bool snapshot : {false, true}) {
        SCOPED_TRACE(snapshot ? "in a snapshot" : "no snapshot");
        std::filesystem::remove(install.file("IPADDR.LST"));
        std::optional<platform::FileSearchSnapshot> scope;
        if (snapshot) scope.emplace();
        AddressList list{};
        ASSERT_EQ(LookupOrResolve("www.veldana.test", list), 1);
        EXPECT_EQ(list[0], dnspeers::Address("10.1.2.3"));
        EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr) << "released: it loaded it";
        EXPECT_EQ(install.readFile(install.file("IPADDR.LST")).size(), kAddressRecordSize);
        AddressList again{};
        ASSERT_EQ(LookupOrResolve("www.veldana.test", again), 1);
        EXPECT_EQ(again, list);
        EXPECT_EQ(install.readFile(install.file("IPADDR.LST")).size(), kAddressRecordSize)
            << "the second answer came from the file";
    }
}

}  // namespace
