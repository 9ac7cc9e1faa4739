// List parsing into real databases: lists made by veldana-list and the administrator's
// site lists and domains go through the record file engine with the build's parameters, and
// the finished file is read back through the database reader.
#include "dbbuild/list_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sitelists/line_reader.h"
#include "dbbuild/record_file.h"
#include "dbread/record_reader.h"
#include "dbread/text.h"
#include "resolve/resolvers.h"
#include "sitelists/site_list.h"
#include "tests/dbbuild/list_test_support.h"
#include "tests/support/temp_install.h"

namespace {

using namespace dbbuild;
using namespace dbread;
using namespace listtest;
using sitelists::SiteList;

struct Expected {
    std::uint16_t categories;
    std::vector<std::pair<std::uint16_t, Bytes>> items;  // bits and key, in block order
};

class ListDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRecordFile();
        ResetListParser();
        sitelists::ResetLineFiles();
        sitelists::ResetSiteLists();
    }
    void TearDown() override {
        ResetRecordFile();
        ResetListParser();
        sitelists::ResetLineFiles();
        sitelists::ResetSiteLists();
    }

    std::string Db() const { return install_.file("TEST.BIN"); }

    // IPADDR.LST with one record per host, so that nothing needs the network.
    void WriteAddressCache(const std::map<std::string, std::vector<std::uint32_t>>& hosts) {
        Bytes file;
        for (const auto& [host, addresses] : hosts) {
            Bytes record(resolve::kAddressRecordSize, 0);
            std::copy(host.begin(), host.end(), record.begin());
            for (std::size_t i = 0; i < addresses.size(); ++i)
                Set32(record, resolve::kRecordNameSize + 4 * i, addresses[i]);
            file.insert(file.end(), record.begin(), record.end());
        }
        std::ofstream(install_.file("IPADDR.LST"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }

    void MakeList(const std::string& source, const std::string& out, int level, bool approved) {
        install_.writeFile(install_.file("list.txt"), source);
        std::string stdoutText, stderrText;
        const std::string command = testsupport::BuiltProgram("veldana-list") + " make '" +
                                    install_.file("list.txt") + "' '" + install_.file(out) +
                                    "' --level " + std::to_string(level) + " --kind " +
                                    (approved ? "approved" : "restricted");
        ASSERT_EQ(testsupport::RunCommand(command, &stdoutText, &stderrText), 0) << stderrText;
    }

    void Create() {
        ASSERT_EQ(RdbCreate(Db(), kBuildPathDataSize, kBuildAddressCapacity, kBuildNameCapacity),
                  1);
    }
    void Finish() {
        ASSERT_EQ(RdbBuildIndexes(0, 0xFFFF), 1);
        ASSERT_EQ(RdbClose(), 1);
        std::string error;
        ASSERT_TRUE(LoadFile(Db(), bytes_, error)) << error;
        ASSERT_TRUE(OpenImage(bytes_, image_, error)) << error;
    }

    void ExpectAddress(std::uint32_t address, const std::optional<Expected>& expected) {
        SCOPED_TRACE(DottedAddress(address));
        AddressEntry entry;
        std::string error;
        const Lookup found = FindAddress(image_, address, entry, error);
        ASSERT_EQ(found, expected ? Lookup::kFound : Lookup::kAbsent) << error;
        if (!expected) return;
        EXPECT_EQ(entry.categories, expected->categories);
        std::vector<std::pair<std::uint16_t, Bytes>> items;
        for (const auto& item : entry.items) items.emplace_back(item.categories, item.key);
        EXPECT_EQ(items, expected->items);
    }

    void ExpectName(const std::string& name, std::uint16_t flags, std::uint16_t categories) {
        SCOPED_TRACE(name);
        NameEntry entry;
        std::string error;
        ASSERT_EQ(FindName(image_, MakeNameKey(name, flags).bytes, entry, error), Lookup::kFound)
            << error;
        EXPECT_EQ(entry.categories, categories);
        EXPECT_EQ(entry.flags, flags & 0xFF);
    }

    // The flags of an address record as stored in the table (the index does not carry them).
    std::uint16_t StoredFlags(std::uint32_t address) const {
        auto u16 = [&](std::size_t o) {
            return static_cast<std::uint16_t>(bytes_[o] | (bytes_[o + 1] << 8));
        };
        const std::size_t inUse = u16(80 + 32) | (u16(80 + 34) << 16);
        const std::size_t records = image_.layout.address.recordOffset;
        for (std::size_t r = 0; r < inUse; ++r) {
            const std::size_t o = records + kAddressRecordSize * r;
            if ((static_cast<std::uint32_t>(u16(o + 4)) << 16 | u16(o + 16)) == address)
                return u16(o + 6);
        }
        ADD_FAILURE() << "no record of " << DottedAddress(address);
        return 0;
    }

    Bytes Key(std::string_view path) {
        std::vector<std::uint8_t> key;
        MakePathKey(path, key);
        return key;
    }

    testsupport::TempInstall install_;
    Bytes bytes_;
    DatabaseImage image_;
};

// ---- Category lists made by the tool, for every level and kind ----

struct ListCase {
    int level;
    bool approved;
};
void PrintTo(const ListCase& c, std::ostream* os) {
    *os << "level " << c.level << (c.approved ? " approved" : " restricted");
}

class ListDatabaseOfLevel : public ListDatabase, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListDatabaseOfLevel, CarriesRecordsPathsSiteBlocksAndAliases) {
    const auto [level, approved] = GetParam();
    const std::string name = approved ? "VELDA.YES" : "VELDA.NOT";
    std::string source =
        "address 10.1.2.3 0x0005\n"
        "address 10.1.2.4 path /ads/top 0x0001 path /img 0x0004   # bits 1 and 4 give 5\n"
        "name www.example.com\n";
    if (level > 1)
        source +=
            "block 10.9.9.9 0x0002\n"
            "block 10.9.9.8 path /x 0x0002\n"
            "alias 10.1.2.3 10.1.2.30\n";
    MakeList(source, name, level, approved);

    Create();
    ASSERT_EQ(LoadCategoryList(name), 1);
    EXPECT_EQ(ListFormatLevel(), level);
    PutSentinels();
    EXPECT_EQ(PutListAddresses(approved ? kFlagOpposite : 0, false), 2);
    if (!approved) {
        EXPECT_EQ(PutListAddresses(0, true), level > 1 ? 2 : 0);
    }
    if (level >= 2) PutListAliases();
    Finish();

    const bool segments = level == 3;
    const Bytes adsTop = segments ? Values({kCrcAds, kCrcAdsTop}) : Text("ads/top");
    const Expected whole{0x0005, {}};
    ExpectAddress(Ip(10, 1, 2, 3), whole);
    ExpectAddress(Ip(10, 1, 2, 4), Expected{0x0005, {{0x0001, adsTop}, {0x0004, Key("img")}}});
    ExpectAddress(Ip(10, 1, 2, 30), level > 1 ? std::optional(whole) : std::nullopt);
    const bool blocks = level > 1 && !approved;
    ExpectAddress(
        Ip(10, 9, 9, 9),
        blocks ? std::optional(Expected{
                     0x1002, {{0x1000, segments ? Values({kCrcSlBlock}) : Text("!slblock!")}}})
               : std::nullopt);
    // A site-block record with its own items keeps them and gets no "!SLBLOCK!" item.
    ExpectAddress(Ip(10, 9, 9, 8),
                  blocks ? std::optional(Expected{0x0002, {{0x0002, Key("x")}}}) : std::nullopt);
    ExpectAddress(0xFFFFFFFF,
                  Expected{0xFFFF, {{0, segments ? Values({kCrcTest}) : Text("test")}}});
    EXPECT_EQ(StoredFlags(Ip(10, 1, 2, 3)), approved ? kFlagOpposite : 0);
    ExpectName("Z.Z.Z.Z.Z", kFlagApprovedDomain, 0xFFFF);
}

INSTANTIATE_TEST_SUITE_P(Levels, ListDatabaseOfLevel,
                         ::testing::Values(ListCase{1, false}, ListCase{1, true},
                                           ListCase{2, false}, ListCase{2, true},
                                           ListCase{3, false}, ListCase{3, true}),
                         [](const auto& info) {
                             return "Level" + std::to_string(info.param.level) +
                                    (info.param.approved ? "Approved" : "Restricted");
                         });

// ---- The administrator's sites and domains ----

class ListSiteEntries : public ListDatabase {
  protected:
    void SetUp() override {
        ListDatabase::SetUp();
        WriteAddressCache({
            {"blocked.example", {Ip(1, 2, 3, 4), Ip(1, 2, 3, 5)}},
            {"pathsite.example", {Ip(1, 2, 3, 6)}},
            {"block2.example", {Ip(1, 2, 3, 7)}},
            {"one.example", {Ip(2, 2, 2, 1)}},
            {"two.example", {Ip(2, 2, 2, 2)}},
            {"three.example", {Ip(2, 2, 2, 3)}},
            {"good.example", {Ip(5, 6, 7, 8)}},
            {"also.example", {Ip(1, 2, 3, 5)}},
        });
        install_.writeFile(install_.file("sites.txt"),
                           "one.example\r\ntwo.example\n\nthree.example\n");
        using sitelists::SetSiteName;
        SetSiteName(SiteList::kRestricted, 0, "blocked.example");
        SetSiteName(SiteList::kRestricted, 1, "sites.txt");
        SetSiteName(SiteList::kRestricted, 3, "http://pathsite.example:8080/ads/top");
        SetSiteName(SiteList::kRestricted, 512 + 7, "block2.example");
        SetSiteName(SiteList::kApproved, 0, "good.example");
        SetSiteName(SiteList::kApproved, 600, "also.example");
        sitelists::SetDomainRecord(0, sitelists::kDomainRestricted, "bad.example.com");
        sitelists::SetDomainRecord(1, sitelists::kDomainApproved, "good.org");
        sitelists::SetDomainRecord(2, sitelists::kDomainApproved, "10.1.2.3");
        sitelists::SetDomainRecord(900, 7, "x.y.z");  // any nonzero kind is approved
    }
};

TEST_F(ListSiteEntries, RestrictingDatabaseTakesRestrictionsAndRemovesApprovals) {
    SetListFormatLevel(3);
    Create();
    PutSentinels();
    PutSiteEntries(false, resolve::LookupOrResolve);
    PutDomains();
    Finish();

    const Expected all{0xFFFF, {}};
    ExpectAddress(Ip(1, 2, 3, 4), all);
    ExpectAddress(Ip(1, 2, 3, 5), std::nullopt);  // added, then removed by an approval
    ExpectAddress(Ip(1, 2, 3, 6), Expected{0xFFFF, {{0xFFFF, Values({kCrcAds, kCrcAdsTop})}}});
    ExpectAddress(Ip(1, 2, 3, 7), all);  // block 2, behind empty slots
    ExpectAddress(Ip(2, 2, 2, 1), all);  // the lines of the file, up to the empty one
    ExpectAddress(Ip(2, 2, 2, 2), all);
    ExpectAddress(Ip(2, 2, 2, 3), std::nullopt);
    ExpectAddress(Ip(5, 6, 7, 8), std::nullopt);  // an approval: categories 0

    // Stored addresses follow the resolution; a file entry holds its full path.
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 0), Ip(1, 2, 3, 4));
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 3), Ip(1, 2, 3, 6));
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kApproved, 600), Ip(1, 2, 3, 5));
    EXPECT_EQ(sitelists::SiteName(SiteList::kRestricted, 1), install_.file("sites.txt"));
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 1), 0u);

    ExpectName("com.example.bad", 0x0182, 0xFFFF);  // 0xFF lead byte
    ExpectName("org.good", kFlagApprovedDomain, 0xFEFE);
    ExpectName("10.1.2.3", kFlagApprovedDomain, 0xFEFE);
    ExpectName("z.y.x", kFlagApprovedDomain, 0xFEFE);
}

TEST_F(ListSiteEntries, ApprovingDatabaseTakesApprovalsAndTextKeys) {
    SetListFormatLevel(1);
    Create();
    PutSentinels();
    PutSiteEntries(true, resolve::LookupOrResolve);
    PutDomains();
    Finish();

    ExpectAddress(Ip(5, 6, 7, 8), Expected{0xFFFF, {}});
    // Restrictions come first and add records without categories; the approval of one of
    // their addresses gives it all categories.
    ExpectAddress(Ip(1, 2, 3, 4), std::nullopt);
    ExpectAddress(Ip(1, 2, 3, 5), Expected{0xFFFF, {}});
    ExpectAddress(Ip(1, 2, 3, 6), std::nullopt);
    ExpectAddress(Ip(2, 2, 2, 1), std::nullopt);
    EXPECT_EQ(StoredFlags(Ip(1, 2, 3, 6)), 0x0102);
    ExpectAddress(0xFFFFFFFF, Expected{0xFFFF, {{0, Text("test")}}});
    ExpectName("com.example.bad", 0x0182, 0xFFFF);
}

TEST_F(ListSiteEntries, OppositeEntriesRemoveListAddressesOrAddExceptions) {
    WriteAddressCache(
        {{"exception.example", {Ip(10, 1, 2, 3)}}, {"gone.example", {Ip(10, 1, 2, 4)}}});
    sitelists::ResetSiteLists();
    sitelists::SetSiteName(SiteList::kApproved, 0, "exception.example/safe");
    sitelists::SetSiteName(SiteList::kApproved, 1, "gone.example");
    MakeList("address 10.1.2.3 4\naddress 10.1.2.4 8\n", "VELDA.NOT", 2, false);

    Create();
    ASSERT_EQ(LoadCategoryList("VELDA.NOT"), 1);
    PutSentinels();
    PutListAddresses(0, false);
    PutSiteEntries(false, resolve::LookupOrResolve);
    Finish();
    ExpectAddress(Ip(10, 1, 2, 3), Expected{0x0004, {{0, Text("safe")}}});
    ExpectAddress(Ip(10, 1, 2, 4), std::nullopt);
}

TEST_F(ListSiteEntries, PathKeysTooLongForAnItemAreSkipped) {
    // Lines of a site file hold 127 characters; at level 3 every '/' adds 4 key bytes.
    WriteAddressCache({{"deep.example", {Ip(3, 3, 3, 3)}}, {"ok.example", {Ip(3, 3, 3, 4)}}});
    std::string ok = "ok.example/";
    for (int i = 0; i < 58; ++i) ok += "b/";  // 127 characters, 58 values: 232 bytes
    const std::string deep = "deep.example/" + std::string(100, '/');  // 99 values
    install_.writeFile(install_.file("deep.txt"), deep + "\n" + ok + "\n");
    sitelists::ResetSiteLists();
    sitelists::SetSiteName(SiteList::kRestricted, 0, "deep.txt");
    SetListFormatLevel(3);
    Create();
    PutSiteEntries(false, resolve::LookupOrResolve);
    PutSentinels();
    Finish();
    AddressEntry entry;
    std::string error;
    ASSERT_EQ(FindAddress(image_, Ip(3, 3, 3, 4), entry, error), Lookup::kFound) << error;
    ASSERT_EQ(entry.items.size(), 1u);
    EXPECT_EQ(entry.items[0].key.size(), 232u);
    ExpectAddress(Ip(3, 3, 3, 3), std::nullopt);
}

}  // namespace
