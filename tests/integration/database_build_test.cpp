// The databases as the filter will see them after "veldana /qr" on an installation with
// category lists of every layout, the administrator's sites (host names resolved through
// name servers on loopback, dotted addresses, a URL with a path, a file of sites) and
// domain parts.
#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "sitelists/site_list.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"
#include "update/download_schedule.h"

namespace {

using testsupport::BuiltProgram;
using testsupport::RunCommand;

std::string Q(const std::string& s) { return "'" + s + "'"; }

class DatabaseBuildTest : public ::testing::TestWithParam<int> {
protected:
    testsupport::TempInstall install;
    std::unique_ptr<dnspeers::NsdChain> chain;

    void SetUp() override {
        // Each layout runs in its own process, side by side: each gets its own servers.
        chain = std::make_unique<dnspeers::NsdChain>(std::string(VELDANA_DNS_NET) +
                                                     std::to_string(220 + GetParam()) + ".");
        if (chain->unavailable()) GTEST_SKIP() << chain->error();
        ASSERT_TRUE(chain->ok()) << chain->error();
    }

    // veldana-db's answer for a query (text form).
    std::string Lookup(const std::string& database, const std::string& query,
                       const std::string& path = "") {
        std::string out, err;
        int rc = RunCommand(BuiltProgram("veldana-db") + " lookup " + Q(install.file(database)) +
                                " " + Q(query) + (path.empty() ? "" : " " + Q(path)),
                            &out, &err);
        EXPECT_EQ(rc, 0) << err;
        return out;
    }

    void MakeList(const std::string& name, const std::string& source) {
        std::string err;
        ASSERT_EQ(testsupport::MakeListFile(source, install.file(name), &err), 0) << err;
    }
};

TEST_P(DatabaseBuildTest, QuickRunBuildsWhatTheFilterReads) {
    const int level = GetParam();
    std::string extended = level >= 2 ? "block 192.0.2.30 0x0002\nalias 192.0.2.10 192.0.2.11\n" : "";
    MakeList("VELDA.NOT", "level " + std::to_string(level) + "\nkind restricted\n"
                          "address 192.0.2.10 0x0001\naddress 192.0.2.20 path /ads/ 0x0004\n" + extended);
    MakeList("VELDA.YES", "level " + std::to_string(level) + "\nkind approved\n"
                          "address 198.51.100.1 0x0200\n");

    using namespace sitelists;
    install.writeFile(install.file("SITES.TXT"), "10.7.7.7\n");
    const char* restricted[] = {"www.veldana.test", "10.5.5.5", "http://10.6.6.6/bad/path", "sites.txt"};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(SetSiteName(SiteList::kRestricted, i, restricted[i]), 1);
    ASSERT_EQ(SetSiteName(SiteList::kApproved, 0, "10.8.8.8"), 1);
    ASSERT_EQ(SetSiteName(SiteList::kApproved, 1, "192.0.2.10"), 1);
    ASSERT_EQ(SetDomainRecord(0, kDomainRestricted, "xxx"), 1);
    ASSERT_EQ(SetDomainRecord(1, kDomainApproved, "edu"), 1);
    ASSERT_EQ(SaveSiteList(), 1);

    using namespace settings;
    WriteSetting(kKeyDnsServers, "QTXDNS1", chain->RootServer());
    // The lists count as fetched today: no download is due, the databases are checked.
    std::string today = std::to_string(update::DayNumber());
    WriteSetting(kKeyNotDownloadDay, {}, today);
    WriteSetting(kKeyYesDownloadDay, {}, today);

    std::string out, err;
    ASSERT_EQ(RunCommand(BuiltProgram("veldana") + " /qr", &out, &err), 0) << err;
    EXPECT_EQ(err, "");

    EXPECT_EQ(ReadSetting(kKeyBinChanged), "1");
    EXPECT_EQ(ReadSetting(kKeyDnsDataFile), install.file("DNSHASH.DAT"));

    // The restricted category database: the list, the administrator's restrictions, the
    // approval that removes a listed address.
    EXPECT_NE(Lookup("VeldaNOT.BIN", "192.0.2.20", "/ads/x.gif").find("path categories 0x0004"),
              std::string::npos);
    EXPECT_NE(Lookup("VeldaNOT.BIN", "10.1.2.3").find("categories 0xffff"), std::string::npos)
        << "www.veldana.test, resolved through the name servers";
    EXPECT_NE(Lookup("VeldaNOT.BIN", "10.1.2.4").find("categories 0xffff"), std::string::npos);
    EXPECT_NE(Lookup("VeldaNOT.BIN", "10.5.5.5").find("categories 0xffff"), std::string::npos);
    EXPECT_NE(Lookup("VeldaNOT.BIN", "10.7.7.7").find("categories 0xffff"), std::string::npos)
        << "the line of the site file";
    EXPECT_NE(Lookup("VeldaNOT.BIN", "10.6.6.6", "/bad/path").find("path categories 0xffff"),
              std::string::npos) << "a path restricts the path, not the site";
    EXPECT_NE(Lookup("VeldaNOT.BIN", "192.0.2.10").find("not in the address index"),
              std::string::npos) << Lookup("VeldaNOT.BIN", "192.0.2.10");
    if (level >= 2) {
        EXPECT_NE(Lookup("VeldaNOT.BIN", "192.0.2.30").find("categories 0x1002"), std::string::npos);
    }
    // A restricted domain is stored under its key with the 0xFF lead byte.
    EXPECT_NE(Lookup("VeldaNOT.BIN", "xxx").find("name \"\\xffxxx\"  flags 0x82  categories 0xffff"),
              std::string::npos) << Lookup("VeldaNOT.BIN", "xxx");
    EXPECT_NE(Lookup("VeldaNOT.BIN", "edu").find("categories 0xfefe"), std::string::npos);
    EXPECT_NE(Lookup("VeldaNOT.BIN", "255.255.255.255").find("categories 0xffff"), std::string::npos)
        << "the sentinel";

    // The approved category database: its list, the administrator's approvals; the
    // restrictions remove their addresses.
    EXPECT_NE(Lookup("VeldaYES.BIN", "198.51.100.1").find("categories 0x0200"), std::string::npos);
    EXPECT_NE(Lookup("VeldaYES.BIN", "10.8.8.8").find("categories 0xffff"), std::string::npos);
    EXPECT_EQ(Lookup("VeldaYES.BIN", "10.5.5.5").find("categories 0xffff"), std::string::npos);

    // The databases of the administrator's entries alone.
    EXPECT_EQ(Lookup("NoneNOT.BIN", "192.0.2.20").find("categories 0x0004"), std::string::npos);
    EXPECT_NE(Lookup("NoneNOT.BIN", "10.1.2.3").find("categories 0xffff"), std::string::npos);
    EXPECT_NE(Lookup("NoneYES.BIN", "10.8.8.8").find("categories 0xffff"), std::string::npos);

    // The DNS resolving database: names of the administrator's sites, "www." dropped.
    std::string dns = Lookup("DNSHASH.DAT", "veldana.test");
    EXPECT_NE(dns.find("10.1.2.3"), std::string::npos) << dns;
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, DatabaseBuildTest, ::testing::Values(1, 2, 3));

}  // namespace
