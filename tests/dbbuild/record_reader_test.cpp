// The reader of database files: lookups the way the filter makes them, the key forms a
// reader computes, and damaged index sections.
#include "dbread/record_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "dbread/text.h"
#include "tests/dbbuild/sample_database.h"
#include "tests/support/temp_install.h"
#include "tools/db_reports.h"

namespace {

using namespace dbbuild;
using namespace dbread;
using namespace dbreports;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes b;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return b;
}
void Set32(Bytes& b, std::size_t o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[o + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The sample database, built once for the suite.
class RecordReader : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        install_ = std::make_unique<testsupport::TempInstall>();
        ResetRecordFile();
        ASSERT_TRUE(dbtest::BuildSampleDatabase(install_->file("VeldaNOT.BIN")));
        ResetRecordFile();
        std::string error;
        ASSERT_TRUE(LoadFile(install_->file("VeldaNOT.BIN"), *bytes_, error)) << error;
    }
    static void TearDownTestSuite() { install_.reset(); }
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(OpenImage(*bytes_, image_, error)) << error;
    }

    static std::unique_ptr<testsupport::TempInstall> install_;
    static std::unique_ptr<Bytes> bytes_;
    DatabaseImage image_;
};
std::unique_ptr<testsupport::TempInstall> RecordReader::install_;
std::unique_ptr<Bytes> RecordReader::bytes_ = std::make_unique<Bytes>();

TEST_F(RecordReader, FindsAddressesThroughTheirBucket) {
    struct Case {
        const char* what;
        std::uint32_t address;
        bool found;
        std::uint16_t categories;
        std::vector<std::string> keys;  // newest block's items first
    };
    const Case cases[] = {
        {"sentinel", dbtest::kSentinel, true, 0xFFFF, {"test"}},
        {"list address with two blocks", dbtest::kP, true, 0x0015, {"x", "ab", "abc"}},
        {"alias copy of P", dbtest::kS, true, 0x0015, {"x", "ab", "abc"}},
        {"whole site", dbtest::kQ, true, 0x0002, {}},
        {"canonical copied from its alias Q", dbtest::kT, true, 0x0002, {}},
        {"administrator's path", dbtest::kM, true, 0xFFFF, {"ad"}},
        {"removed", dbtest::kR, false, 0, {}},
        {"hidden", dbtest::kH, false, 0, {}},
        {"no categories", dbtest::kZ, false, 0, {}},
        {"never inserted, same bucket as P", dbtest::kP + 2 * 65521, false, 0, {}},
    };
    for (const Case& c : cases) {
        AddressEntry e;
        std::string error;
        const Lookup found = FindAddress(image_, c.address, e, error);
        ASSERT_EQ(found, c.found ? Lookup::kFound : Lookup::kAbsent) << c.what << error;
        if (!c.found) continue;
        EXPECT_EQ(e.address, c.address) << c.what;
        EXPECT_EQ(e.categories, c.categories) << c.what;
        std::vector<std::string> keys;
        for (const auto& item : e.items) keys.emplace_back(item.key.begin(), item.key.end());
        EXPECT_EQ(keys, c.keys) << c.what;
    }
    AddressEntry sentinel;
    std::string error;
    ASSERT_EQ(FindAddress(image_, dbtest::kSentinel, sentinel, error), Lookup::kFound);
    EXPECT_EQ(sentinel.items[0].kind, 1) << "categories 0 give kind 1";
    EXPECT_EQ(sentinel.longestKey, 4);
}

TEST_F(RecordReader, FindsNamesByBinarySearch) {
    Bytes evil = Text("?com.evil");
    evil[0] = 0xFF;
    const std::vector<Bytes> sorted = {Text("ab"),          Text("abc"),       Text("abd"),
                                       Text("com.example"), Text("z.z.z.z.z"), evil};
    for (std::uint32_t i = 0; i < sorted.size(); ++i) {
        NameEntry e;
        std::string error;
        ASSERT_EQ(FindName(image_, sorted[i], e, error), Lookup::kFound) << i;
        EXPECT_EQ(e.position, i);
        EXPECT_EQ(e.key, sorted[i]);
    }
    for (const char* absent :
         {"", "a", "aa", "abcd", "abe", "com", "zz", "hidden", "gone", "nocat"}) {
        NameEntry e;
        std::string error;
        EXPECT_EQ(FindName(image_, Text(absent), e, error), Lookup::kAbsent) << absent;
    }
}

TEST(RecordReaderKeys, PathKeysInBothForms) {
    // The running CRC-32 (from 0, no final inversion) of "a" and of "ab".
    const Bytes ab = Words({0x3AB551CE, 0xDF5A5A92});
    EXPECT_EQ(PathKeySegments("/a/b"), ab);
    EXPECT_EQ(PathKeySegments("a/b/"), ab);
    EXPECT_EQ(PathKeySegments(" \tA/B"), ab);
    EXPECT_EQ(PathKeySegments("/a/b,c"), ab);
    EXPECT_EQ(PathKeySegments("/"), Bytes{});
    EXPECT_EQ(PathKeyText("  /Ab/C,x"), Text("/ab/c"));
    EXPECT_EQ(PathKeyText("TEST"), Text("test"));
}

TEST(RecordReaderKeys, DomainKeysAndAddresses) {
    using Keys = std::vector<std::string>;
    EXPECT_EQ(DomainKeys("www.Example.com."), (Keys{"com.example.www", "com.example", "com"}));
    EXPECT_EQ(DomainKeys("10.1.2.3"), (Keys{"10.1.2.3", "10.1.2", "10.1", "10"}));
    EXPECT_EQ(DomainKeys("300.1.1.1"), (Keys{"1.1.1.300", "1.1.1", "1.1", "1"}));
    EXPECT_EQ(DomainKeys(" "), Keys{});

    struct Case {
        const char* text;
        bool ok;
        std::uint32_t address;
    };
    const Case cases[] = {{"1.2.3.4", true, 0x04030201}, {"255.255.255.255", true, 0xFFFFFFFF},
                          {"0.0.0.0", true, 0},          {"1.2.3", false, 0},
                          {"1.2.3.256", false, 0},       {"1.2.3.4.5", false, 0},
                          {"1..3.4", false, 0},          {"0001.2.3.4", false, 0},
                          {"a.b.c.d", false, 0}};
    for (const Case& c : cases) {
        std::uint32_t a = 0;
        ASSERT_EQ(ParseDottedAddress(c.text, a), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(a, c.address) << c.text;
        EXPECT_EQ(DottedAddress(a), c.text);
    }
}

// Offsets in the sample: address index sections at 0xA83400 (buckets), 0xAC3600 (keys),
// 0xAC3800 (paths); name index at 0xAC3A00 (6 offsets, then the pool).
TEST_F(RecordReader, DamagedIndexSectionsAreRefused) {
    constexpr std::size_t kBuckets = 0xA83400, kPaths = 0xAC3800, kNames = 0xAC3A00;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool opens;  // the damage shows only when the entries are read
    };
    const Case cases[] = {
        {"wrong address index descriptor", [](Bytes& b) { b[236] = 4; }, false},
        {"bucket section of a wrong size", [](Bytes& b) { Set32(b, 250, 0x40009); }, false},
        {"entry count disagrees", [](Bytes& b) { Set32(b, kBuckets + 4 * 65521, 5); }, false},
        {"bucket starts out of order", [](Bytes& b) { Set32(b, kBuckets + 4 * 4000, 0); }, false},
        {"key section of a wrong size", [](Bytes& b) { Set32(b, 258, 30); }, false},
        {"path section past the end", [&](Bytes& b) { Set32(b, 262, kNames); }, false},
        {"wrong name index descriptor", [](Bytes& b) { b[271] = 1; }, false},
        {"name count beyond its section", [](Bytes& b) { b[290] = 30; }, false},
        {"path offset in the reserved bytes", [](Bytes& b) { Set32(b, kBuckets + 0x40008, 100); },
         true},
        {"path item past its section", [](Bytes& b) { b[kPaths + 256 + 1] = 250; }, true},
        {"name offset past the pool", [](Bytes& b) { Set32(b, kNames, 67); }, true},
        {"name key past the pool", [](Bytes& b) { b[kNames + 24 + 59] = 40; }, true},
    };
    for (const Case& c : cases) {
        Bytes bad = *bytes_;
        c.damage(bad);
        DatabaseImage image;
        std::string error, out;
        ASSERT_EQ(OpenImage(bad, image, error), c.opens) << c.what;
        if (c.opens) {
            EXPECT_FALSE(ReportDump(image, ReportFormat::kText, out, error)) << c.what;
            EXPECT_FALSE(ReportDump(image, ReportFormat::kJson, out, error)) << c.what;
        }
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

}  // namespace
