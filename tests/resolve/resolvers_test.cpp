// The site resolvers without a network: dotted addresses, the IPADDR.LST cache, site
// files, and what happens when no DNS server is configured.
#include "resolve/resolvers.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "resolve/dns_client.h"
#include "resolve/socket_library.h"
#include "sitelists/site_list.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "progress/transfer_status.h"

namespace {

using namespace resolve;

std::uint32_t Word(int a, int b, int c, int d) {
    return static_cast<std::uint32_t>(a | b << 8 | c << 16 | d << 24);
}

// One IPADDR.LST record.
std::string Record(const std::string& name, std::initializer_list<std::uint32_t> addresses,
                   bool terminated = true) {
    std::string r(kAddressRecordSize, '\0');
    std::string field = terminated ? name : std::string(kRecordNameSize, 'x');
    r.replace(0, std::min(field.size(), kRecordNameSize), field.substr(0, kRecordNameSize));
    std::size_t at = kRecordNameSize;
    for (std::uint32_t a : addresses) {
        for (int b = 0; b < 4; ++b) r[at++] = static_cast<char>(a >> (8 * b));
    }
    return r;
}

class ResolversTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
    }
    void TearDown() override {
        UnloadSocketLibrary();
        ui::ResetWindowLayer();
    }
    std::string ipaddr() const { return install.file("IPADDR.LST"); }
};

TEST_F(ResolversTest, DottedEntriesNeedNoNetwork) {
    std::uint32_t address = 0;
    EXPECT_EQ(ResolveEntry("http://10.1.2.3/path", address), 1);
    EXPECT_EQ(address, Word(10, 1, 2, 3));
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr) << "no network use";
    EXPECT_EQ(ResolveEntry("", address), 0);

    AddressList list{};
    EXPECT_EQ(LookupOrResolve("10.9.8.7", list), 1);
    EXPECT_EQ(list[0], Word(10, 9, 8, 7));
    EXPECT_EQ(list[1], 0u);
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr);
}

TEST_F(ResolversTest, ANewEntryIsResolvedByTheSystemResolverAndLeavesTheLibraryLoaded) {
    std::uint32_t address = 0;
    EXPECT_EQ(ResolveEntry("http://localhost:8080/kids", address), 1);
    EXPECT_EQ(address, Word(127, 0, 0, 1));
    EXPECT_NE(SocketLibrary().SocketLibraryHandle, nullptr) << "the Web sites dialog releases it";
    EXPECT_EQ(progress::TransferStatus().window, 0u) << "its own window is gone, none was shared";
}

TEST_F(ResolversTest, TheCacheAnswersInAnyLetterCaseAndFirstRecordWins) {
    install.writeFile(ipaddr(), Record("www.example.com", {Word(1, 2, 3, 4), Word(5, 6, 7, 8)}) +
                                    Record("www.example.com", {Word(9, 9, 9, 9)}));
    AddressList list{};
    EXPECT_EQ(LookupOrResolve("HTTP://WWW.Example.COM/x", list), 1);
    EXPECT_EQ(list[0], Word(1, 2, 3, 4));
    EXPECT_EQ(list[1], Word(5, 6, 7, 8));
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr) << "answered from the cache";
}

// Inside a file search snapshot the cache file is checked once: another program's change
// is seen only after the snapshot.
TEST_F(ResolversTest, InsideASnapshotTheCacheFileIsCheckedOnce) {
    install.writeFile(ipaddr(), Record("a.example", {Word(1, 1, 1, 1)}));
    AddressList list{};
    {
        platform::FileSearchSnapshot snapshot;
        EXPECT_EQ(LookupOrResolve("a.example", list), 1);
        install.writeFile(ipaddr(), Record("b.example", {Word(2, 2, 2, 2)}));
        EXPECT_EQ(LookupOrResolve("a.example", list), 1);
        EXPECT_EQ(list[0], Word(1, 1, 1, 1));
    }
    list = {};
    EXPECT_EQ(LookupOrResolve("a.example", list), 0) << "no DNS server is configured";
    EXPECT_EQ(LookupOrResolve("b.example", list), 1);
    EXPECT_EQ(list[0], Word(2, 2, 2, 2));
}

TEST_F(ResolversTest, DamagedCacheFilesAreNeverReadPastTheirRecords) {
    struct Case {
        const char* what;
        std::string content;
    };
    const Case cases[] = {
        {"name without terminator", Record("", {Word(1, 1, 1, 1)}, false)},
        {"ends inside the name", std::string(40, 'w')},
        {"ends inside the addresses", Record("a.example", {Word(2, 2, 2, 2)}).substr(0, 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        install.writeFile(ipaddr(), c.content);
        AddressList list{};
        // Not found in the cache; with no DNS server configured nothing is resolved.
        EXPECT_EQ(LookupOrResolve("a.example", list), 0);
        EXPECT_EQ(list[0], 0u);
    }
}

TEST_F(ResolversTest, BulkResolutionWithoutDnsServersKeepsDottedAddressesOnly) {
    using sitelists::SiteList;
    install.writeFile(install.file("SITES.TXT"), "10.0.0.1\r\n10.0.0.2\n\nnever.read\n");
    sitelists::SetSiteName(SiteList::kApproved, 0, "www.example.com");
    sitelists::SetSiteAddress(SiteList::kApproved, 0, Word(7, 7, 7, 7));
    sitelists::SetSiteName(SiteList::kRestricted, 0, "10.1.2.3");
    sitelists::SetSiteAddress(SiteList::kRestricted, 0, Word(10, 1, 2, 3));
    sitelists::SetSiteName(SiteList::kRestricted, 512, "SITES.TXT");
    sitelists::SetSiteAddress(SiteList::kRestricted, 512, Word(1, 1, 1, 1));
    install.writeFile(ipaddr(), Record("old.example", {Word(3, 3, 3, 3)}));

    ASSERT_EQ(LoadSocketLibrary(), 1);
    ResolveAllSites();
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kApproved, 0), 0u) << "unresolvable: 0";
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 0), Word(10, 1, 2, 3));
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 512), 0u) << "a file entry: 0";
    EXPECT_EQ(sitelists::SiteName(SiteList::kRestricted, 512), install.file("SITES.TXT"))
        << "a file entry holds its full path";
    // The file was rebuilt: the dotted entries and the file's lines, nothing else.
    std::string expected = Record("10.1.2.3", {Word(10, 1, 2, 3)}) +
                           Record("10.0.0.1", {Word(10, 0, 0, 1)}) +
                           Record("10.0.0.2", {Word(10, 0, 0, 2)});
    EXPECT_EQ(install.readFile(ipaddr()), expected);
    EXPECT_EQ(progress::TransferStatus().window, 0u) << "its progress window is closed";
}

}  // namespace
