#include "dbbuild/dns_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbread/dns_hash_reader.h"
#include "dbread/text.h"
#include "sitelists/line_reader.h"
#include "platform/files.h"
#include "resolve/resolvers.h"
#include "resources/string_table.h"
#include "sitelists/site_list.h"
#include "tests/support/temp_install.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "progress/transfer_status.h"

namespace {

using namespace dbbuild;
using namespace dbread;

std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::uint32_t Word(const std::string& dotted) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    return a | b << 8 | c << 16 | d << 24;
}

std::uint32_t At32(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
    return v;
}

// `count` names of the form n<k>.example that fall into one bucket of `buckets`.
std::vector<std::string> SameBucket(std::uint32_t buckets, std::size_t count) {
    std::vector<std::string> names;
    std::uint32_t bucket = DnsNameHash("n0.example") % buckets;
    for (int k = 0; names.size() < count; ++k) {
        std::string name = "n" + std::to_string(k) + ".example";
        if (DnsNameHash(name) % buckets == bucket) names.push_back(name);
    }
    return names;
}

struct Stored {
    std::string name;
    std::string address;
    bool operator==(const Stored&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Stored& s) {
    return os << s.name << "=" << s.address;
}

// Every record of a DNSHASH.DAT in index order, after the reader's whole-file check.
std::vector<Stored> StoredRecords(const std::string& path, DnsHashHeader* header = nullptr) {
    DnsHashImage image;
    std::string error;
    DnsHashSummary summary;
    EXPECT_TRUE(OpenDnsHashFile(path, image, error) && CheckDnsHash(image, summary, error))
        << error;
    if (header) *header = image.header;
    std::vector<Stored> out;
    for (std::uint32_t i = 0; i < image.header.recordCount; ++i) {
        DnsNameRecord r;
        if (!ReadDnsRecord(image, i, r, error)) break;
        out.push_back({std::string(r.Name()), dbread::DottedAddress(r.value)});
    }
    return out;
}

TEST(DnsHashPrimitives, NameHashTakesBytesAsSigned) {
    const struct {
        std::string name;
        std::uint32_t hash;
    } cases[] = {
        {"", 0},
        {"a", 0x61},
        {"ab", (0x61u << 5) + 0x62},
        {"\x80", 0xFFFFFF80},      // -128
        {"\xff\x01", 0},           // -1 rotated is -1; + 1 wraps to 0
        {"abcdefgh", 0x4c742869},  // bits rotate round past the top
        {"example.com", 0xe00bfed1},
    };
    for (const auto& c : cases) EXPECT_EQ(DnsNameHash(c.name), c.hash) << c.name;
}

TEST(DnsHashPrimitives, NextPrimeIsTheSmallestPrimeNotBelow) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 2},
        {1, 2},
        {2, 2},
        {3, 3},
        {4, 5},
        {100, 101},
        {2048, 2053},
        {2053, 2053},
        {2054, 2063},
        {7048, 7057},
        {4294967291u, 4294967291u},  // the largest 32-bit prime
        {4294967292u, 0},            // none left in 32 bits
    };
    for (const auto& [n, prime] : cases) EXPECT_EQ(NextPrime(n), prime) << n;
}

class DnsHashFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetDnsHash(); }
    void TearDown() override {
        platform::ClearFileFaults();
        ResetDnsHash();
    }
    std::string Path() const { return install.file("DNSHASH.TMP"); }
    std::string Bytes() const { return install.readFile(Path()); }

    testsupport::TempInstall install;
};

TEST_F(DnsHashFileTest, CreateWritesTheHeaderAndAnEmptyTable) {
    const struct {
        std::uint32_t buckets;
        std::uint32_t recordArea;  // 0: refused
    } cases[] = {
        {99, 0},      {100, 1024},  // 512 + 400 raised to 1024
        {128, 1024},                // 512 + 512 is a multiple of 512 already
        {2053, 9216}, {kDnsMaxBuckets + 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.buckets);
        std::filesystem::remove(Path());
        if (c.recordArea == 0) {
            EXPECT_EQ(DnsHashCreate(Path(), c.buckets), 0);
            EXPECT_FALSE(std::filesystem::exists(Path()));
            continue;
        }
        ASSERT_EQ(DnsHashCreate(Path(), c.buckets), 1);
        ASSERT_EQ(DnsHashClose(), 1);
        const std::string b = Bytes();
        ASSERT_EQ(b.size(), c.recordArea);
        EXPECT_EQ(b.substr(0, 4), std::string("\x72\x74\x4c\x00", 4));
        EXPECT_EQ(At32(b, 4), 512u);
        EXPECT_EQ(At32(b, 8), c.buckets);
        EXPECT_EQ(At32(b, 12), c.recordArea);
        EXPECT_EQ(At32(b, 16), 0u);
        EXPECT_EQ(At32(b, 20), 0u);
        EXPECT_EQ(b.substr(24, 488), std::string(488, '\0'));
        EXPECT_EQ(b.substr(512), std::string(c.recordArea - 512, '\xff'));
    }
}

TEST_F(DnsHashFileTest, PutAddsNewNamesAndFindsPresentOnes) {
    const std::string longName(70, 'x');
    const struct {
        std::string name;
        bool withValue;
        std::uint32_t value;
        int result;
        std::uint32_t valueAfter;
    } steps[] = {
        {"a.example", true, 0x0100000A, 1, 0x0100000A},
        {"b.example", false, 0, 2, 0},
        {"a.example", true, 0x0200000A, -1, 0x0100000A},  // present: its value comes back
        {"A.example", true, 0x0300000A, 3, 0x0300000A},   // case matters
        {longName, true, 0x0400000A, 4, 0x0400000A},      // kept as its first 63 bytes
        {longName.substr(0, 63), true, 0, -4, 0x0400000A},
        {"", true, 0x0500000A, 0, 0x0500000A},
        {"b.example", true, 0x0600000A, -2, 0},  // stored without a value: 0
    };
    ASSERT_EQ(DnsHashCreate(Path(), 101), 1);
    for (const auto& s : steps) {
        std::uint32_t value = s.value;
        EXPECT_EQ(DnsHashPut(s.name, s.withValue ? &value : nullptr), s.result) << s.name;
        EXPECT_EQ(value, s.valueAfter) << s.name;
    }
    ASSERT_EQ(DnsHashClose(), 1);
    DnsHashHeader header;
    const std::vector<Stored> expected = {{"a.example", "10.0.0.1"},
                                          {"b.example", "0.0.0.0"},
                                          {"A.example", "10.0.0.3"},
                                          {std::string(63, 'x'), "10.0.0.4"}};
    EXPECT_EQ(StoredRecords(Path(), &header), expected);
    EXPECT_EQ(header.nameBytes, 10u + 10 + 10 + 64);

    // Nothing goes in without an open build.
    std::uint32_t value = 1;
    EXPECT_EQ(DnsHashPut("c.example", &value), 0);
    EXPECT_EQ(DnsHashClose(), 0);
}

TEST_F(DnsHashFileTest, NamesOfOneBucketFormARingInInsertionOrder) {
    const std::vector<std::string> names = SameBucket(101, 3);
    const std::uint32_t bucket = DnsNameHash(names[0]) % 101;
    ASSERT_EQ(DnsHashCreate(Path(), 101), 1);

    // One record links to itself.
    std::uint32_t v0 = Word("10.0.0.1"), v1 = Word("10.0.0.2"), v2 = Word("10.0.0.3");
    ASSERT_EQ(DnsHashPut(names[0], &v0), 1);
    ASSERT_EQ(DnsHashClose(), 1);
    std::string b = Bytes();
    const std::size_t r = 1024;
    ASSERT_EQ(b.size(), r + 76);
    EXPECT_EQ(At32(b, 512 + 4 * bucket), 0u);
    EXPECT_EQ(At32(b, r), 0u);

    ASSERT_EQ(DnsHashCreate(Path(), 101), 1);
    ASSERT_EQ(DnsHashPut(names[0], &v0), 1);
    ASSERT_EQ(DnsHashPut(names[1], &v1), 2);
    ASSERT_EQ(DnsHashPut(names[2], &v2), 3);
    ASSERT_EQ(DnsHashClose(), 1);
    b = Bytes();
    ASSERT_EQ(b.size(), r + 3 * 76);
    EXPECT_EQ(At32(b, 512 + 4 * bucket), 0u);  // the head stays the first record
    const std::uint32_t nextOf[] = {1, 2, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::size_t at = r + 76 * i;
        EXPECT_EQ(At32(b, at), nextOf[i]);
        EXPECT_EQ(At32(b, at + 4), DnsNameHash(names[i]));
        EXPECT_EQ(At32(b, at + 8), Word("10.0.0." + std::to_string(i + 1)));
        EXPECT_EQ(static_cast<std::size_t>(b[at + 12]), names[i].size());
        EXPECT_EQ(b.substr(at + 13, names[i].size()), names[i]);
    }
    EXPECT_EQ(At32(b, 16),
              static_cast<std::uint32_t>(names[0].size() + names[1].size() + names[2].size() + 3));
    EXPECT_EQ(At32(b, 20), 3u);
    // Every other bucket is still empty.
    for (std::uint32_t k = 0; k < 101; ++k) {
        if (k == bucket) continue;
        EXPECT_EQ(At32(b, 512 + 4 * k), 0xFFFFFFFFu) << k;
    }
}

// Close writes the file in pieces and then flushes it; a failure at any of those steps is
// reported, and the build is closed all the same.
TEST_F(DnsHashFileTest, CloseReportsAnyWriteOrFlushThatFailed) {
    constexpr std::uint32_t kBuckets = 300007;  // the table alone needs two pieces
    // One record, and enough for a second thread to write the last of them.
    for (const std::uint32_t records : {1u, 200000u}) {
        SCOPED_TRACE(records);
        auto build = [&] {
            ASSERT_EQ(DnsHashCreate(Path(), kBuckets), 1);
            for (std::uint32_t i = 0; i < records; ++i) {
                std::uint32_t value = 7 + i;
                ASSERT_EQ(DnsHashPut(std::to_string(i) + ".example", &value),
                          static_cast<int>(i + 1));
            }
        };
        build();
        platform::ClearFileFaults();
        ASSERT_EQ(DnsHashClose(), 1);
        const int steps = platform::FileStepCount();
        ASSERT_GE(steps, 3);
        const std::vector<Stored> stored = StoredRecords(Path());
        ASSERT_EQ(stored.size(), records);
        EXPECT_EQ(stored.front(), (Stored{"0.example", "7.0.0.0"}));

        for (int failingStep = 1; failingStep <= steps; ++failingStep) {
            SCOPED_TRACE(failingStep);
            build();
            platform::InjectFileFault(failingStep);
            EXPECT_EQ(DnsHashClose(), 0);
            platform::ClearFileFaults();
            EXPECT_FALSE(DnsHash().open);
            std::uint32_t value = 7;
            EXPECT_EQ(DnsHashPut("b.example", &value), 0);
        }
    }
}

// ---- The build ----

// Records what the progress window's status text shows while it changes.
class RecordingDisplay : public ui::HeadlessDisplay {
  public:
    void WindowChanged(ui::HWND hwnd) override {
        if (ui::GetDlgCtrlID(hwnd) != progress::kStatusTextId) return;
        const std::string text = ui::GetWindowText(hwnd);
        ui::HWND cancel = ui::GetDlgItem(ui::GetParent(hwnd), progress::kCancelButtonId);
        const std::string seen = text + (ui::IsWindowVisible(cancel) ? " [Cancel]" : "");
        if (texts.empty() || texts.back() != seen) texts.push_back(seen);
    }
    void WindowDestroyed(ui::HWND hwnd) override { destroyed.push_back(hwnd); }

    std::vector<std::string> texts;
    std::vector<ui::HWND> destroyed;
};

class DnsHashBuildTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::ResetWindowLayer();
        progress::ResetTransferStatus();
        sitelists::ResetSiteLists();
        sitelists::ResetLineFiles();
        ResetDnsHash();
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
    }
    void TearDown() override {
        ResetDnsHash();
        sitelists::ResetLineFiles();
        sitelists::ResetSiteLists();
        progress::ResetTransferStatus();
        ui::ResetWindowLayer();
    }

    std::string Path() const { return install.file("DNSHASH.TMP"); }
    void Write(const std::string& name, const std::string& content) {
        install.writeFile(install.file(name), content);
    }
    static std::string Raw(const std::string& name, const std::string& address) {
        return std::string(1, static_cast<char>(name.size())) + name + Le32(Word(address));
    }
    // IPADDR.LST with one record per host: its addresses, the rest of the 128 words 0.
    void WriteAddressCache(
        const std::vector<std::pair<std::string, std::vector<std::string>>>& hosts) {
        std::string content;
        for (const auto& [host, addresses] : hosts) {
            std::string record(592, '\0');
            record.replace(0, host.size(), host);
            for (std::size_t i = 0; i < addresses.size(); ++i)
                record.replace(80 + 4 * i, 4, Le32(Word(addresses[i])));
            content += record;
        }
        Write("IPADDR.LST", content);
    }

    testsupport::TempInstall install;
    RecordingDisplay display;
};

TEST_F(DnsHashBuildTest, NoListsAndNoSitesGiveTheEmptyTable) {
    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    const std::string b = install.readFile(Path());
    ASSERT_EQ(b.size(), 9216u);
    EXPECT_EQ(At32(b, 8), 2053u);
    EXPECT_EQ(At32(b, 12), 9216u);
    EXPECT_EQ(At32(b, 16), 0u);
    EXPECT_EQ(At32(b, 20), 0u);
    EXPECT_EQ(b.substr(512), std::string(9216 - 512, '\xff'));
}

TEST_F(DnsHashBuildTest, RawListsGoInNotFirstUpToTheirCountAndEnd) {
    const std::string a = Raw("a.example", "10.0.0.1"), b = Raw("b.example", "10.0.0.2");
    const std::string c = Raw("c.example", "10.0.0.3");
    std::string many;
    std::vector<Stored> manyStored;
    for (int i = 0; i < 300; ++i) {
        std::string name = std::to_string(i) + "." + std::string(50, 'm') + ".example";
        many += Raw(name, "10.9.0.1");
        manyStored.push_back({name, "10.9.0.1"});
    }
    const std::string absent;  // no file at all
    const struct {
        const char* what;
        std::string rawNot, rawYes, ipRawNot, ipRawYes;
        std::vector<Stored> stored;
        std::uint32_t buckets;
    } cases[] = {
        {"both lists, DNSRAW.NOT first",
         Le32(2) + a + b,
         Le32(1) + c,
         absent,
         absent,
         {{"a.example", "10.0.0.1"}, {"b.example", "10.0.0.2"}, {"c.example", "10.0.0.3"}},
         2053},
        {"a length byte 0 ends that list",
         Le32(3) + a + std::string(1, '\0') + b,
         Le32(1) + c,
         absent,
         absent,
         {{"a.example", "10.0.0.1"}, {"c.example", "10.0.0.3"}},
         2053},
        {"the count ends a list",
         Le32(1) + a + b,
         absent,
         absent,
         absent,
         {{"a.example", "10.0.0.1"}},
         2053},
        {"a list shorter than its count keeps what it has",
         Le32(5) + a + b + c.substr(0, 5),
         absent,
         absent,
         absent,
         {{"a.example", "10.0.0.1"}, {"b.example", "10.0.0.2"}},
         2053},
        {"a value cut short drops its record",
         Le32(2) + a + b.substr(0, b.size() - 2),
         absent,
         absent,
         absent,
         {{"a.example", "10.0.0.1"}},
         2053},
        {"a count that cannot be read skips the list",
         std::string("\x02\x00", 2),
         Le32(1) + c,
         absent,
         absent,
         {{"c.example", "10.0.0.3"}},
         2053},
        {"a huge count is sized by what the file can hold",
         Le32(0xFFFFFFFF) + a + b,
         absent,
         absent,
         absent,
         {{"a.example", "10.0.0.1"}, {"b.example", "10.0.0.2"}},
         2053},
        {"the counts size the table", Le32(3000) + many, absent, absent, absent, manyStored, 5051},
        {"names are cut to 63 bytes and the first value stays",
         Le32(2) + Raw(std::string(70, 'x'), "1.1.1.1") + Raw(std::string(63, 'x'), "2.2.2.2"),
         absent,
         absent,
         absent,
         {{std::string(63, 'x'), "1.1.1.1"}},
         2053},
        {"the IPDNSRAW lists are not read",
         Le32(1) + a,
         absent,
         Le32(1) + b,
         Le32(1) + c,
         {{"a.example", "10.0.0.1"}},
         2053},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::pair<const char*, const std::string*> files[] = {{"DNSRAW.NOT", &c.rawNot},
                                                                    {"DNSRAW.YES", &c.rawYes},
                                                                    {"IPDNSRAW.NOT", &c.ipRawNot},
                                                                    {"IPDNSRAW.YES", &c.ipRawYes}};
        for (const auto& [name, content] : files) {
            std::filesystem::remove(install.file(name));
            if (!content->empty()) Write(name, *content);
        }
        ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
        DnsHashHeader header;
        EXPECT_EQ(StoredRecords(Path(), &header), c.stored);
        EXPECT_EQ(header.bucketCount, c.buckets);
    }
}

TEST_F(DnsHashBuildTest, SitesGiveOneRecordPerHostWithItsFirstAddress) {
    using sitelists::SiteList;
    auto image = sitelists::SiteListImage();
    // Approved block 1: a host with and without "www.", three addresses, a URL, capitals,
    // then an empty slot that ends the block.
    sitelists::SetSiteName(SiteList::kApproved, 0, "www.example.com");
    sitelists::SetSiteName(SiteList::kApproved, 1, "example.com");
    sitelists::SetSiteName(SiteList::kApproved, 2, "multi.example");
    sitelists::SetSiteName(SiteList::kApproved, 3, "http://path.example/some/page");
    const char caps[] = "WWW.Caps.Example";
    std::memcpy(image.data() + sitelists::SiteNameOffset(SiteList::kApproved, 4), caps,
                sizeof caps);
    sitelists::SetSiteName(SiteList::kApproved, 6, "ignored.example");
    sitelists::SetSiteName(SiteList::kApproved, 512, "second.example");  // block 2
    // Restricted block 1 names a file of sites; its lines are taken as they are, up to the
    // first empty one.
    Write("dnshash-sites.txt", "WWW.Upper.Example\nline.example\n\nafter.example\n");
    sitelists::SetSiteName(SiteList::kRestricted, 0, "dnshash-sites.txt");
    sitelists::SetSiteName(SiteList::kRestricted, 512, "last.example");
    WriteAddressCache({
        {"www.example.com", {"10.0.0.1"}},
        {"example.com", {"10.0.0.2"}},
        {"multi.example", {"10.1.0.1", "10.1.0.2", "10.1.0.3"}},
        {"path.example", {"10.2.0.1"}},
        {"www.caps.example", {"10.3.0.1"}},
        {"ignored.example", {"10.4.0.1"}},
        {"second.example", {"10.5.0.1"}},
        {"www.upper.example", {"10.6.0.1"}},
        {"line.example", {"10.6.0.2"}},
        {"after.example", {"10.6.0.3"}},
        {"last.example", {"10.7.0.1"}},
    });
    Write("DNSRAW.NOT", Le32(1) + Raw("example.com", "10.8.0.1"));

    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    const std::vector<Stored> expected = {
        {"example.com", "10.0.0.1"},  {"multi.example", "10.1.0.1"},  {"path.example", "10.2.0.1"},
        {"caps.example", "10.3.0.1"}, {"second.example", "10.5.0.1"}, {"Upper.Example", "10.6.0.1"},
        {"line.example", "10.6.0.2"}, {"last.example", "10.7.0.1"},
    };
    EXPECT_EQ(StoredRecords(Path()), expected);
}

// The raw lists are read into a table of their own and put behind the sites' records; the
// file must be the one that putting the sites and then every raw name one by one gives.
// The fixture's buckets make a raw name that a site holds the head, the middle, the last
// or the only record of its raw ring, and join site rings to raw rings. With this many
// records both files are written by two threads, each split its own way.
TEST_F(DnsHashBuildTest, RawNamesBehindTheSitesGiveTheFileOfPutsOneByOne) {
    constexpr std::size_t kFill = 140000;
    const std::uint32_t buckets = NextPrime(kFill + 24 + kDnsSiteSlots);
    // Names grouped by bucket: six buckets of four names each.
    std::map<std::uint32_t, std::vector<std::string>> byBucket;
    std::vector<std::vector<std::string>> groups;
    for (int k = 0; groups.size() < 6; ++k) {
        std::string name = "g" + std::to_string(k) + ".example";
        auto& names = byBucket[DnsNameHash(name) % buckets];
        names.push_back(name);
        if (names.size() == 4) groups.push_back(names);
    }
    const auto& a = groups[0];  // a site holds the second raw name
    const auto& b = groups[1];  // ... the raw ring's head
    const auto& c = groups[2];  // ... its last name
    const auto& d = groups[3];  // ... its only name
    const auto& e = groups[4];  // two sites and two raw names, none shared
    const auto& f = groups[5];  // raw names only, one of them twice
    const std::vector<std::string> sites = {a[1], b[0], c[2], d[0], e[0], e[1], "lone.example"};
    std::vector<std::string> rawNot = {a[0], a[1], a[2], a[3], b[0], b[1], b[2], f[0], f[1]};
    const std::vector<std::string> rawYes = {c[0], c[1], c[2], d[0], e[2], e[3], f[1], f[2], a[1]};
    // Filler names stay out of the groups' buckets, which hold what they show only.
    std::set<std::uint32_t> used;
    for (const auto& group : groups) used.insert(DnsNameHash(group[0]) % buckets);
    for (int k = 0; rawNot.size() < 9 + kFill; ++k) {
        std::string name = "fill" + std::to_string(k) + ".example";
        if (!used.count(DnsNameHash(name) % buckets)) rawNot.push_back(name);
    }
    ASSERT_EQ(rawNot.size() + rawYes.size(), kFill + 18);
    // Six more claimed records than names give the bucket count above: the lists end at a
    // length byte 0.
    auto rawList = [](const std::vector<std::string>& names, std::uint32_t first,
                      std::size_t extra) {
        std::string raw = Le32(static_cast<std::uint32_t>(names.size() + extra));
        for (std::size_t i = 0; i < names.size(); ++i)
            raw += std::string(1, static_cast<char>(names[i].size())) + names[i] +
                   Le32(first + static_cast<std::uint32_t>(i));
        return raw + std::string(6 * extra, '\0');
    };
    Write("DNSRAW.NOT", rawList(rawNot, 0x0B000000, 3));
    Write("DNSRAW.YES", rawList(rawYes, 0x0C000000, 3));
    std::vector<std::pair<std::string, std::vector<std::string>>> cache;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        ASSERT_EQ(
            sitelists::SetSiteName(sitelists::SiteList::kApproved, static_cast<int>(i), sites[i]),
            1);
        cache.push_back({sites[i], {"10.0.0." + std::to_string(i + 1)}});
    }
    WriteAddressCache(cache);

    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    const std::string built = install.readFile(Path());

    const std::string reference = install.file("REFERENCE.DAT");
    ASSERT_EQ(DnsHashCreate(reference, buckets), 1);
    for (std::size_t i = 0; i < sites.size(); ++i) {
        std::uint32_t value = Word("10.0.0." + std::to_string(i + 1));
        ASSERT_GT(DnsHashPut(sites[i], &value), 0) << sites[i];
    }
    using Names = const std::vector<std::string>*;
    for (const auto& [names, first] :
         {std::pair<Names, std::uint32_t>{&rawNot, 0x0B000000u}, {&rawYes, 0x0C000000u}})
        for (std::size_t i = 0; i < names->size(); ++i) {
            std::uint32_t value = first + static_cast<std::uint32_t>(i);
            DnsHashPut((*names)[i], &value);
        }
    ASSERT_EQ(DnsHashClose(), 1);
    const std::string expected = install.readFile(reference);
    ASSERT_EQ(At32(expected, 8), buckets);
    EXPECT_EQ(At32(expected, 20), sites.size() + kFill + 18 - 6);  // six names twice
    EXPECT_TRUE(built == expected) << "the built file differs from the reference";
    StoredRecords(Path());  // the reader's whole-file check
}

// Record offsets past 4 GB do not fit the helper's table: a list that long (sparse here) is
// read by the build itself, one name after another, with the same result.
TEST_F(DnsHashBuildTest, AListTooLongForTheHelperIsReadByTheBuild) {
    const std::string rawNot =
        Le32(2) + Raw("a.example", "10.0.0.1") + Raw("b.example", "10.0.0.2");
    const std::vector<Stored> expected = {
        {"a.example", "10.0.0.1"}, {"b.example", "10.0.0.2"}, {"c.example", "10.0.0.3"}};
    Write("DNSRAW.YES", Le32(1) + Raw("c.example", "10.0.0.3"));
    for (const std::uintmax_t size : {std::uintmax_t{0}, std::uintmax_t{5} << 30}) {
        SCOPED_TRACE(size);
        Write("DNSRAW.NOT", rawNot);
        if (size != 0) std::filesystem::resize_file(install.file("DNSRAW.NOT"), size);
        ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
        EXPECT_EQ(StoredRecords(Path()), expected);
    }
}

// A pass that is started and dropped leaves its lists free, and the next build reads them.
TEST_F(DnsHashBuildTest, ADroppedRawNamePassLeavesTheNextBuildWhole) {
    Write("DNSRAW.NOT", Le32(1) + Raw("a.example", "10.0.0.1"));
    StartRawNamePass();
    DropRawNamePass();
    StartRawNamePass();
    Write("DNSRAW.YES", Le32(1) + Raw("b.example", "10.0.0.2"));  // after the pass started
    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    EXPECT_EQ(StoredRecords(Path()), (std::vector<Stored>{{"a.example", "10.0.0.1"}}));
    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    EXPECT_EQ(StoredRecords(Path()),
              (std::vector<Stored>{{"a.example", "10.0.0.1"}, {"b.example", "10.0.0.2"}}));
}

TEST_F(DnsHashBuildTest, ShowsItsTextInTheProgressWindowAndClosesIt) {
    const std::string creating = resources::LoadStr(3160);
    ASSERT_EQ(creating, "Creating DNS resolving database ... \r\nPlease Wait!");

    // Without a window the build opens its own, without Cancel, and shows its text there.
    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    ASSERT_FALSE(display.texts.empty());
    EXPECT_EQ(display.texts.back(), creating);
    for (const std::string& text : display.texts)
        EXPECT_EQ(text.find("[Cancel]"), std::string::npos) << text;
    ASSERT_FALSE(display.destroyed.empty());
    EXPECT_EQ(progress::TransferStatus().window, 0u);
    EXPECT_TRUE(ui::AllWindows().empty());

    // A window the caller opened keeps its text and is closed at the end, levels and all.
    progress::ShowTransferStatus("caller's text", progress::StatusLevel::kNew, {}, progress::StatusPaint::kLater);
    const ui::HWND callers = progress::TransferStatus().window;
    ASSERT_NE(callers, 0u);
    display.texts.clear();
    ASSERT_EQ(BuildDnsHash(Path(), resolve::LookupOrResolve), 1);
    EXPECT_TRUE(display.texts.empty());
    EXPECT_FALSE(ui::IsWindow(callers));
    EXPECT_EQ(progress::TransferStatus().window, 0u);
    EXPECT_EQ(progress::TransferStatus().depth, 0);
    EXPECT_FALSE(progress::TransferStatus().haveDrawingObjects);

    // The window closes when the file cannot be created too.
    EXPECT_EQ(BuildDnsHash(install.file("no-such-dir/DNSHASH.TMP"), resolve::LookupOrResolve), 0);
    EXPECT_EQ(progress::TransferStatus().window, 0u);
    EXPECT_TRUE(ui::AllWindows().empty());
}

}  // namespace
