// The record file engine, checked on the bytes it leaves on disk.
#include "dbbuild/record_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dbread/record_reader.h"
#include "platform/files.h"
#include "tests/dbbuild/sample_database.h"
#include "tests/support/temp_install.h"

namespace {

using namespace dbbuild;
using namespace dbread;
using Bytes = std::vector<std::uint8_t>;

// The layout of a file made with the build's parameters.
constexpr std::uint32_t kA = 0x3B0200;  // path data area
constexpr std::uint32_t kB = 0x7B0200;  // name buckets
constexpr std::uint32_t kNameRecords = 0x9B0200;
constexpr std::uint32_t kAliases = 0x9C3400;
constexpr std::uint32_t kEnd = 0xA83400;
constexpr std::uint32_t kAddressRecords = 0x200200;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t U32(const Bytes& b, std::size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (static_cast<std::uint32_t>(b[o + 3]) << 24);
}
std::uint16_t U16(const Bytes& b, std::size_t o) {
    return static_cast<std::uint16_t>(b[o] | (b[o + 1] << 8));
}
void Set32(Bytes& b, std::size_t o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[o + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Set16(Bytes& b, std::size_t o, std::uint16_t v) {
    b[o] = static_cast<std::uint8_t>(v);
    b[o + 1] = static_cast<std::uint8_t>(v >> 8);
}
Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + from, b.begin() + from + n);
}
Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
bool AllAre(const Bytes& b, std::size_t from, std::size_t to, std::uint8_t v) {
    return std::all_of(b.begin() + from, b.begin() + to, [v](std::uint8_t c) { return c == v; });
}

// Address record r of a file made with the build's parameters.
struct AddressRecord {
    std::uint32_t next;
    std::uint32_t address;
    std::uint16_t flags, categories;
    std::uint32_t pathOffset;
    std::uint16_t pathLength;
};
AddressRecord RecordAt(const Bytes& f, std::uint32_t r) {
    const std::size_t o = kAddressRecords + 18 * r;
    return {U32(f, o),      (std::uint32_t{U16(f, o + 4)} << 16) | U16(f, o + 16),
            U16(f, o + 6),  U16(f, o + 8),
            U32(f, o + 10), U16(f, o + 14)};
}
// The record that holds `address`, searched slot by slot.
AddressRecord RecordOf(const Bytes& f, std::uint32_t address) {
    for (std::uint32_t r = 0; r < U32(f, 80 + 40); ++r)
        if (RecordAt(f, r).address == address) return RecordAt(f, r);
    ADD_FAILURE() << "no record for " << address;
    return {};
}

class RecordFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRecordFile();
        SetRecordFileClock(&dbtest::FixedClock);
    }
    void TearDown() override {
        ResetRecordFile();
        platform::ClearFileFaults();
    }
    std::string Path(const std::string& name = "VeldaNOT.BIN") const { return install_.file(name); }
    // A file with the build's parameters, left open.
    void CreateBuildFile() { ASSERT_EQ(RdbCreate(Path(), 0x400000, 0x18000, 1000), 1); }

    testsupport::TempInstall install_;
};

TEST_F(RecordFile, NewFileWithTheBuildParametersIsLaidOutByteForByte) {
    CreateBuildFile();
    ASSERT_EQ(RdbClose(), 1);
    const Bytes f = ReadAll(Path());
    ASSERT_EQ(f.size(), kEnd);

    struct Field {
        std::size_t offset;
        int size;
        std::uint32_t value;
    };
    const std::uint32_t t = dbtest::FixedClock();
    // clang-format off
    const Field fields[] = {
        // header
        {0, 1, 'V'}, {1, 1, 'D'}, {2, 2, 0x0100}, {4, 2, 0x2000}, {8, 4, t}, {12, 4, t},
        {16, 4, 512}, {24, 4, kEnd}, {40, 2, 0xFFFF}, {42, 2, 2}, {44, 2, 2}, {46, 4, 80},
        {50, 2, 0}, {52, 2, 1}, {54, 4, 236}, {58, 2, 0}, {60, 2, 1}, {62, 4, 270},
        {74, 2, 0}, {76, 4, kAliases},
        // address table descriptor
        {80, 1, 3}, {81, 1, 1}, {82, 2, 78}, {84, 4, 0}, {88, 4, 512},
        {92, 4, kAddressRecords}, {96, 4, 0x18000 * 18}, {100, 4, kAddressRecords},
        {104, 4, 0x18000 * 18}, {108, 4, 0x18000}, {112, 4, 0}, {116, 4, 0x18000},
        {120, 4, 0}, {124, 4, 0}, {132, 4, kA}, {136, 4, 0x400000}, {140, 4, 0},
        {144, 4, 0x400000}, {150, 2, 18}, {154, 2, 0}, {156, 2, 0},
        // name table descriptor
        {158, 1, 3}, {159, 1, 2}, {160, 2, 78}, {162, 4, 0}, {166, 4, kB},
        {170, 4, kNameRecords}, {174, 4, 78000}, {178, 4, kNameRecords}, {182, 4, 78000},
        {186, 4, 1000}, {190, 4, 0}, {194, 4, 1000}, {198, 4, 0}, {210, 4, 0}, {214, 4, 0},
        {228, 2, 78}, {232, 2, 14}, {234, 2, 64},
        // index descriptors
        {236, 1, 5}, {237, 1, 1}, {238, 2, 34}, {270, 1, 5}, {271, 1, 2}, {272, 2, 30},
    };
    // clang-format on
    Bytes expected(512, 0);
    for (const Field& x : fields)
        for (int i = 0; i < x.size; ++i)
            expected[x.offset + i] = static_cast<std::uint8_t>(x.value >> (8 * i));
    for (std::size_t i = 0; i < 512; ++i) {
        if (i == 6 || i == 7) continue;  // the handle number of the last open
        EXPECT_EQ(f[i], expected[i]) << "header block byte " << i;
    }

    EXPECT_TRUE(AllAre(f, 512, kAddressRecords, 0xFF)) << "address buckets";
    EXPECT_TRUE(AllAre(f, kAddressRecords, kB, 0)) << "address records and path data";
    EXPECT_TRUE(AllAre(f, kB, kNameRecords, 0xFF)) << "name buckets";
    EXPECT_TRUE(AllAre(f, kNameRecords, kEnd, 0)) << "name records and aliases";
}

TEST_F(RecordFile, RecordsOfOneBucketFormACircle) {
    CreateBuildFile();
    // (address mod 524287) & 0xFFFF is 0x141 for all three.
    const std::uint32_t a[3] = {0x0A000001, 0x0A000001 + 524287, 0x0A000001 + 2 * 524287};
    const std::size_t slot = 512 + 4 * 0x141;

    ASSERT_EQ(RdbPutAddress(a[0], 0x0003, 0x0100), 1);
    Bytes f = ReadAll(Path());  // the file is current after every insert
    EXPECT_EQ(U32(f, slot), 0u);
    EXPECT_EQ(Slice(f, kAddressRecords, 18),
              (Bytes{0, 0, 0, 0, 0x00, 0x0A, 0x00, 0x01, 0x03, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00}));

    ASSERT_EQ(RdbPutAddress(a[1], 1, 0), 1);
    f = ReadAll(Path());
    EXPECT_EQ(RecordAt(f, 1).next, 0u);
    EXPECT_EQ(RecordAt(f, 0).next, 1u);

    ASSERT_EQ(RdbPutAddress(a[2], 1, 0), 1);
    f = ReadAll(Path());
    EXPECT_EQ(U32(f, slot), 0u);
    EXPECT_EQ(RecordAt(f, 0).next, 2u);  // 0 -> 2 -> 1 -> 0
    EXPECT_EQ(RecordAt(f, 2).next, 1u);
    EXPECT_EQ(RecordAt(f, 1).next, 0u);
    EXPECT_EQ(RecordAt(f, 2).address, a[2]);

    EXPECT_EQ(U32(f, 84), dbtest::FixedClock()) << "stamp";
    EXPECT_EQ(U32(f, 100), kAddressRecords + 3 * 18) << "next slot offset";
    EXPECT_EQ(U32(f, 112), 3u) << "in use";
    EXPECT_EQ(U32(f, 116), 0x18000u - 3) << "never used";
    EXPECT_EQ(U32(f, 120), 3u) << "next slot";

    // Names: "com.example" and its 0xFF-led form share bucket 0x9C6F (hashes 0x37E29C6F and
    // 0xB7629C6F) and differ in the hash's high half.
    ASSERT_EQ(RdbPutName("com.example", 0xFEFE, 0x0080), 1);
    ASSERT_EQ(RdbPutName("com.example", 0, 0x0182), 1);
    f = ReadAll(Path());
    EXPECT_EQ(U32(f, kB + 4 * 0x9C6F), 0u);
    Bytes rec0 = {1, 0, 0, 0, 0xE2, 0x37, 0x80, 0x00, 0xFE, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 11};
    const Bytes key = Text("com.example");
    rec0.insert(rec0.end(), key.begin(), key.end());
    rec0.resize(78, 0);
    EXPECT_EQ(Slice(f, kNameRecords, 78), rec0);
    Bytes rec1 = {0, 0, 0, 0, 0x62, 0xB7, 0x82, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 12, 0xFF};
    rec1.insert(rec1.end(), key.begin(), key.end());
    rec1.resize(78, 0);
    EXPECT_EQ(Slice(f, kNameRecords + 78, 78), rec1);
    EXPECT_EQ(U32(f, 158 + 32), 2u) << "names in use";
}

TEST_F(RecordFile, PathBlocksChainFromTheNewestBack) {
    CreateBuildFile();
    const std::uint32_t p = dbtest::kP;
    ASSERT_EQ(RdbPutAddress(p, 0x0005, 0, dbtest::Block({{0x0001, "ab"}, {0x0004, "abc"}})), 1);
    ASSERT_EQ(RdbPutAddress(p, 0x0010, 0, dbtest::Block({{0x0010, "x"}})), 1);
    ASSERT_EQ(RdbPutAddress(p, 0x0020, 0, dbtest::Block({{0x0020, "yy"}})), 1);
    const Bytes f = ReadAll(Path());

    // First block at 0: its previous offset is its own.
    EXPECT_EQ(Slice(f, kA, 27), (Bytes{27, 0, 0, 0,   0,   0, 0, 0, 2,   0,   0,  0, 0, 0, 0, 0,  //
                                       5,  1, 0, 'a', 'b', 6, 4, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(Slice(f, kA + 27, 20),
              (Bytes{20, 0,    27, 0,  0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,  //
                     4,  0x10, 0,  'x'}));
    EXPECT_EQ(Slice(f, kA + 47, 21),
              (Bytes{21, 0,    20, 0,   0,  0, 0, 0, 1, 0, 0, 0, 27, 0, 0, 0,  //
                     5,  0x20, 0,  'y', 'y'}));
    const AddressRecord r = RecordAt(f, 0);
    EXPECT_EQ(r.pathOffset, 47u);
    EXPECT_EQ(r.pathLength, 21u);
    EXPECT_EQ(r.categories, 0x0035);
    EXPECT_EQ(U32(f, 140), 68u) << "path bytes used";
    EXPECT_EQ(U32(f, 144), 0x400000u - 68) << "path bytes free";
}

TEST_F(RecordFile, PutAddressMergesAnExistingRecord) {
    CreateBuildFile();
    const Bytes block = dbtest::Block({{0x0040, "p"}});  // 20 bytes
    Bytes noItems(16, 0);
    noItems[0] = 16;  // a length but no items: no block
    struct Put {
        std::uint16_t categories, flags;
        const Bytes* block;
    };
    struct Case {
        const char* what;
        std::vector<Put> puts;
        std::uint16_t flags, categories, pathLength;
    };
    const Case cases[] = {
        {"categories are OR-ed", {{1, 0, nullptr}, {4, 0, nullptr}}, 0, 5, 0},
        {"opposite flag without a block removes",
         {{1, 0, nullptr}, {0, 0x0102, nullptr}},
         0x0010,
         1,
         0},
        {"opposite flag with a block reopens and appends",
         {{1, 0, nullptr}, {0, 0x0102, nullptr}, {0, 0x0102, &block}},
         0,
         1,
         20},
        {"plain insert without a block covers the path data",
         {{1, 0, &block}, {2, 0, nullptr}},
         0x0020,
         3,
         20},
        {"plain insert takes the flags given",
         {{1, 0x0100, nullptr}, {2, 0x0080, nullptr}},
         0x0080,
         3,
         0},
        {"plain insert with a block uncovers",
         {{1, 0, &block}, {2, 0, nullptr}, {4, 0, &block}},
         0,
         7,
         20},
        {"new address keeps the opposite flag as given", {{0, 0x0102, nullptr}}, 0x0102, 0, 0},
        {"block without items counts as none", {{1, 0, &noItems}}, 0, 1, 0},
    };
    std::uint32_t address = 0x01000001;
    for (const Case& c : cases) {
        ++address;
        for (const Put& p : c.puts)
            ASSERT_EQ(RdbPutAddress(address, p.categories, p.flags,
                                    p.block ? std::span<const std::uint8_t>(*p.block)
                                            : std::span<const std::uint8_t>()),
                      1)
                << c.what;
        const AddressRecord r = RecordOf(ReadAll(Path()), address);
        EXPECT_EQ(r.flags, c.flags) << c.what;
        EXPECT_EQ(r.categories, c.categories) << c.what;
        EXPECT_EQ(r.pathLength, c.pathLength) << c.what;
    }
    EXPECT_EQ(U32(ReadAll(Path()), 112), std::size(cases)) << "one record per address";
}

TEST_F(RecordFile, PutAddressRefusesAMalformedBlock) {
    CreateBuildFile();
    Bytes longer = dbtest::Block({{1, "abc"}});
    Set16(longer, 0, static_cast<std::uint16_t>(longer.size() + 1));  // claims more than given
    Bytes shortHead = {20, 0, 0, 0};
    EXPECT_EQ(RdbPutAddress(1, 1, 0, longer), 0);
    EXPECT_EQ(RdbPutAddress(1, 1, 0, shortHead), 0);
    EXPECT_EQ(U32(ReadAll(Path()), 112), 0u);
}

TEST_F(RecordFile, AliasPairsKeepOneCanonicalAddress) {
    using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    struct Case {
        const char* what;
        Pairs added;  // RdbAddAlias(first, second) in order
        Pairs stored;
    };
    const std::uint32_t C = 0xC, A = 0xA, X = 0x10, D = 0xD, B = 0xB;
    const Case cases[] = {
        {"a new pair", {{C, A}}, {{C, A}}},
        {"the same pair again", {{C, A}, {C, A}}, {{C, A}}},
        {"a second canonical of an alias becomes an alias of the first",
         {{C, A}, {X, A}},
         {{C, A}, {C, X}}},
        {"a pair whose canonical is an alias is added as given",
         {{C, A}, {A, X}},
         {{C, A}, {A, X}}},
        {"an alias that is a canonical stays first", {{C, A}, {X, C}}, {{C, A}, {C, X}}},
        {"a reversed pair adds nothing", {{C, A}, {A, C}}, {{C, A}}},
        {"a canonical already known adds nothing", {{C, A}, {D, B}, {A, D}}, {{C, A}, {D, B}}},
    };
    for (const Case& c : cases) {
        ResetRecordFile();
        ASSERT_EQ(RdbCreate(Path(), 64, 16, 4), 1);
        for (auto [first, second] : c.added) ASSERT_EQ(RdbAddAlias(first, second), 1) << c.what;
        ASSERT_EQ(RdbClose(), 1);
        const Bytes f = ReadAll(Path());
        Pairs stored;
        for (std::uint32_t i = 0; i < U16(f, 74); ++i)
            stored.emplace_back(U32(f, U32(f, 76) + 8 * i), U32(f, U32(f, 76) + 8 * i + 4));
        EXPECT_EQ(stored, c.stored) << c.what;
    }
}

TEST_F(RecordFile, AnAliasIsStoredUnderItsCanonicalAddressAcrossReopen) {
    CreateBuildFile();
    ASSERT_EQ(RdbAddAlias(0x0C, 0x0A), 1);
    ASSERT_EQ(RdbClose(), 1);
    ASSERT_EQ(RdbOpen(Path()), 1);  // the pairs come back from the file
    ASSERT_EQ(RdbPutAddress(0x0A, 0x0001, 0), 1);
    ASSERT_EQ(RdbPutAddress(0x0C, 0x0002, 0), 1);
    ASSERT_EQ(RdbClose(), 1);
    const Bytes f = ReadAll(Path());
    EXPECT_EQ(U32(f, 112), 1u);
    EXPECT_EQ(RecordAt(f, 0).address, 0x0Cu);
    EXPECT_EQ(RecordAt(f, 0).categories, 0x0003);
}

TEST_F(RecordFile, NameKeysAreNormalised) {
    struct Case {
        const char* what;
        std::string name;
        std::uint16_t flags, categories;
        Bytes key;
        std::uint16_t storedCategories;
    };
    const std::string long70(70, 'A');
    Bytes ff62(1, 0xFF);
    ff62.insert(ff62.end(), 62, 'a');
    const Case cases[] = {
        {"lower-cased after leading blanks", " \t Example.COM", 0, 5, Text("example.com"), 5},
        {"ends at a blank", "xy zz", 0, 1, Text("xy"), 1},
        {"at most 63 bytes", long70, 0, 1, Bytes(63, 'a'), 1},
        {"opposite flag leads with 0xFF, 0xFFFF", "Evil.COM", 0x0182, 0,
         Bytes{0xFF, 'e', 'v', 'i', 'l', '.', 'c', 'o', 'm'}, 0xFFFF},
        {"opposite flag keeps 62 bytes", long70, 0x0002, 0, ff62, 0xFFFF},
    };
    CreateBuildFile();
    std::uint32_t r = 0;
    for (const Case& c : cases) {
        ASSERT_EQ(RdbPutName(c.name, c.categories, c.flags), 1) << c.what;
        const Bytes f = ReadAll(Path());
        const std::size_t o = kNameRecords + 78 * r++;
        EXPECT_EQ(f[o + 14], c.key.size()) << c.what;
        EXPECT_EQ(Slice(f, o + 15, c.key.size()), c.key) << c.what;
        EXPECT_EQ(U16(f, o + 8), c.storedCategories) << c.what;
        EXPECT_EQ(U16(f, o + 6), c.flags) << c.what;
    }
    // "ab" hashes to 0xC82: bucket 0x0C82, high half 0.
    ASSERT_EQ(RdbPutName("AB", 1, 0), 1);
    const Bytes f = ReadAll(Path());
    EXPECT_EQ(U32(f, kB + 4 * 0x0C82), r);
    EXPECT_EQ(U16(f, kNameRecords + 78 * r + 4), 0);
}

TEST_F(RecordFile, PutNameReportsAnIdenticalRecord) {
    CreateBuildFile();
    EXPECT_EQ(RdbPutName("example", 0x0001, 0x0080), 1);
    EXPECT_EQ(RdbPutName("EXAMPLE", 0x0001, 0x0080), 2);
    EXPECT_EQ(RdbPutName("example", 0x0002, 0x0080), 1);  // categories OR-ed
    EXPECT_EQ(RdbPutName("example", 0x0003, 0x0000), 1);  // flags replaced
    EXPECT_EQ(RdbPutName("bad", 0x0001, 0x0182), 1);
    EXPECT_EQ(RdbPutName("bad", 0x0004, 0x0182), 2);  // categories are 0xFFFF either way
    const Bytes f = ReadAll(Path());
    EXPECT_EQ(U32(f, 158 + 32), 2u);
    EXPECT_EQ(U16(f, kNameRecords + 6), 0x0000);
    EXPECT_EQ(U16(f, kNameRecords + 8), 0x0003);
}

// The sample database (sample_database.h) built with mask 0xFFFF. Its six entries, in
// record order: sentinel (path data at 256), P (at 266), Q (whole site: 1), M (at 286);
// then the alias copies S of P and T of Q. R (removed), H (0x8000) and Z (categories 0)
// are left out.
TEST_F(RecordFile, IndexesOfASampleDatabaseAreLaidOutByteForByte) {
    ASSERT_TRUE(dbtest::BuildSampleDatabase(Path()));
    const Bytes f = ReadAll(Path());
    EXPECT_EQ(U16(f, 50), 1) << "address index built";
    EXPECT_EQ(U16(f, 58), 1) << "name index built";
    EXPECT_EQ(U16(f, 74), 2) << "alias pairs";
    EXPECT_EQ(Slice(f, kAliases, 16),
              (Bytes{0x01, 0x02, 0x03, 0x04, 0xF2, 0x01, 0x04, 0x04,     // (P, S)
                     0x0A, 0x00, 0x00, 0x01, 0x05, 0x06, 0x07, 0x08}));  // (T, Q)

    // Address index descriptor: sections at the end of the table area, each rounded up.
    const std::uint32_t buckets = kEnd, bucketSize = 0x40008 + 4 * 6;
    const std::uint32_t keys = 0xAC3600, paths = 0xAC3800, pathSize = 296;
    EXPECT_EQ(Slice(f, 236, 8), (Bytes{5, 1, 34, 0, 0, 0, 0, 0}));
    EXPECT_EQ(U16(f, 244), 0xFFFF);
    EXPECT_EQ(U32(f, 246), buckets);
    EXPECT_EQ(U32(f, 250), bucketSize);
    EXPECT_EQ(U32(f, 254), keys);
    EXPECT_EQ(U32(f, 258), 36u);
    EXPECT_EQ(U32(f, 262), paths);
    EXPECT_EQ(U32(f, 266), pathSize);

    // Entries bucket by bucket: sentinel (224), T (3850), S then P (both 15918, the newer
    // first), Q (32366), M (53456).
    struct Entry {
        std::uint32_t address, bucket;
        std::uint16_t categories;
        std::uint32_t pathOffset;
    };
    // clang-format off
    const Entry order[] = {{dbtest::kSentinel, 224, 0xFFFF, 256}, {dbtest::kT, 3850, 0x0002, 1},
                           {dbtest::kS, 15918, 0x0015, 266},      {dbtest::kP, 15918, 0x0015, 266},
                           {dbtest::kQ, 32366, 0x0002, 1},        {dbtest::kM, 53456, 0xFFFF, 286}};
    // Bucket b's first entry: the entries above sit in buckets 224, 3850, 15918 (two),
    // 32366 and 53456; value 65521 is the entry count, the last 16 values are 0.
    const std::pair<std::uint32_t, std::uint32_t> firsts[] = {
        {0, 0}, {224, 0}, {225, 1}, {3850, 1}, {3851, 2}, {15918, 2}, {15919, 4}, {32366, 4},
        {32367, 5}, {53456, 5}, {53457, 6}, {65520, 6}, {65521, 6}, {65522, 0}, {65537, 0}};
    // clang-format on
    for (auto [b, first] : firsts) EXPECT_EQ(U32(f, buckets + 4 * b), first) << "bucket " << b;
    for (std::size_t e = 0; e < 6; ++e) {
        EXPECT_EQ(U32(f, buckets + 0x40008 + 4 * e), order[e].pathOffset) << "entry " << e;
        EXPECT_EQ(U32(f, keys + 4 * e), order[e].address) << "entry " << e;
        EXPECT_EQ(U16(f, keys + 24 + 2 * e), order[e].categories) << "entry " << e;
    }

    // Path section: 256 zero bytes, then per entry the longest key length, the items
    // (newest block first), a zero; two zero bytes close it.
    EXPECT_TRUE(AllAre(f, paths, paths + 256, 0));
    // clang-format off
    const Bytes pathData = {
        4, 4, 1, 0x00, 0x00, 't', 'e', 's', 't', 0,       // sentinel: "test", bits 0 (kind 1)
        3, 1, 2, 0x10, 0x00, 'x',                         // P: the newest block first,
           2, 2, 0x01, 0x00, 'a', 'b',                    //    then the first block's items
           3, 2, 0x04, 0x00, 'a', 'b', 'c', 0,
        2, 2, 2, 0xFF, 0xFF, 'a', 'd', 0,                 // M
        0, 0};                                            // end of the section
    // clang-format on
    EXPECT_EQ(Slice(f, paths + 256, pathSize - 256), pathData);

    // Name index: offsets in sorted order, then the pool in record order.
    const std::uint32_t names = 0xAC3A00;
    EXPECT_EQ(Slice(f, 270, 8), (Bytes{5, 2, 30, 0, 0, 0, 0, 0}));
    EXPECT_EQ(U16(f, 278), 0xFFFF);
    EXPECT_TRUE(AllAre(f, 280, 290, 0));
    EXPECT_EQ(U16(f, 290), 6);
    EXPECT_EQ(U32(f, 292), names);
    EXPECT_EQ(U32(f, 296), 24u + 67u);
    // ab (44) < abc (59) < abd (51) < com.example (14) < z.z.z.z.z (0) < 0xFF com.evil (30)
    const std::uint32_t sorted[] = {44, 59, 51, 14, 0, 30};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(U32(f, names + 4 * i), sorted[i]) << i;
    Bytes pool;
    auto add = [&pool](std::uint8_t flags, std::uint16_t categories, Bytes key) {
        pool.push_back(static_cast<std::uint8_t>(key.size()));
        pool.push_back(flags);
        pool.push_back(static_cast<std::uint8_t>(categories));
        pool.push_back(static_cast<std::uint8_t>(categories >> 8));
        pool.insert(pool.end(), key.begin(), key.end());
        pool.push_back(0);
    };
    add(0x80, 0xFFFF, Text("z.z.z.z.z"));
    add(0x80, 0xFEFE, Text("com.example"));
    Bytes evil = Text("?com.evil");
    evil[0] = 0xFF;
    add(0x82, 0xFFFF, evil);
    add(0x00, 0x0001, Text("ab"));
    add(0x00, 0x0001, Text("abd"));
    add(0x00, 0x0001, Text("abc"));
    EXPECT_EQ(Slice(f, names + 24, 67), pool);
    EXPECT_EQ(f.size(), names + 24 + 67);
}

TEST_F(RecordFile, IndexBuildEdgeCases) {
    // A small file: capacities 16/16, path data 4096; its table area ends at 0x401C00.
    auto fresh = [this] {
        ResetRecordFile();
        SetRecordFileClock(&dbtest::FixedClock);
        return RdbCreate(Path(), 4096, 16, 16) == 1;
    };
    {
        SCOPED_TRACE("an entry whose items have no key has path offset 1");
        ASSERT_TRUE(fresh());
        ASSERT_EQ(RdbPutAddress(7, 1, 0, dbtest::Block({{0x0004, ""}})), 1);
        ASSERT_EQ(RdbPutName("n", 1, 0), 1);
        ASSERT_EQ(RdbBuildIndexes(0, 0xFFFF), 1);
        ASSERT_EQ(RdbClose(), 1);
        const Bytes f = ReadAll(Path());
        EXPECT_EQ(U32(f, U32(f, 246) + 0x40008), 1u);
        EXPECT_EQ(U32(f, 266), 258u) << "an empty path section";
    }
    {
        SCOPED_TRACE("the mask leaves out records without a matching category");
        ASSERT_TRUE(fresh());
        ASSERT_EQ(RdbPutAddress(7, 0x0001, 0), 1);
        ASSERT_EQ(RdbPutAddress(8, 0x0006, 0), 1);
        ASSERT_EQ(RdbPutName("one", 0x0001, 0), 1);
        ASSERT_EQ(RdbPutName("two", 0x0002, 0), 1);
        ASSERT_EQ(RdbBuildIndexes(0, 0x0002), 1);
        ASSERT_EQ(RdbClose(), 1);
        const Bytes f = ReadAll(Path());
        EXPECT_EQ(U16(f, 244), 0x0002);
        EXPECT_EQ(U32(f, 250), 0x40008u + 4) << "one address entry";
        EXPECT_EQ(U32(f, U32(f, 254)), 8u);
        EXPECT_EQ(U16(f, 290), 1) << "one name entry";
    }
    {
        SCOPED_TRACE("an empty name table fails the build after the address index");
        ASSERT_TRUE(fresh());
        ASSERT_EQ(RdbPutAddress(7, 1, 0), 1);
        EXPECT_EQ(RdbBuildIndexes(0, 0xFFFF), 0);
        ASSERT_EQ(RdbClose(), 1);
        const Bytes f = ReadAll(Path());
        EXPECT_EQ(U16(f, 50), 1);
        EXPECT_EQ(U16(f, 58), 0);
    }
}

TEST_F(RecordFile, FullTablesRefuseAndLeaveTheFileConsistent) {
    ASSERT_EQ(RdbCreate(Path(), 64, 2, 1), 1);
    EXPECT_EQ(RdbPutAddress(1, 1, 0), 1);
    EXPECT_EQ(RdbPutAddress(2, 1, 0), 1);
    EXPECT_EQ(RdbPutAddress(3, 1, 0), 0) << "address table full";
    EXPECT_EQ(RdbPutAddress(2, 2, 0), 1) << "an existing address still merges";
    EXPECT_EQ(RdbPutName("a", 1, 0), 1);
    EXPECT_EQ(RdbPutName("b", 1, 0), 0) << "name table full";
    EXPECT_EQ(RdbPutAddress(1, 1, 0, dbtest::Block({{1, std::string(29, 'k')}})), 1);  // 48 bytes
    EXPECT_EQ(RdbPutAddress(1, 1, 0, dbtest::Block({{1, "kk"}})), 0) << "path area full";
    EXPECT_EQ(RdbAddAlias(10, 11), 1);
    EXPECT_EQ(RdbAddAlias(12, 13), 1);
    EXPECT_EQ(RdbAddAlias(14, 15), 0) << "alias table full: one pair per address record";
    ASSERT_EQ(RdbClose(), 1);

    const Bytes f = ReadAll(Path());
    EXPECT_EQ(U32(f, 112), 2u);
    EXPECT_EQ(U32(f, 116), 0u);
    EXPECT_EQ(U32(f, 140), 48u);
    EXPECT_EQ(U32(f, 144), 16u);
    EXPECT_EQ(U16(f, 74), 2);
    ASSERT_EQ(RdbOpen(Path()), 1);
    EXPECT_EQ(RdbPutAddress(2, 4, 0), 1);
    EXPECT_EQ(RdbClose(), 1);
}

TEST_F(RecordFile, AliasCountStopsAtWhatTheHeaderCanHold) {
    CreateBuildFile();
    for (std::uint32_t i = 0; i < 65535; ++i) ASSERT_EQ(RdbAddAlias(i + 1, 0x80000000 + i), 1);
    EXPECT_EQ(RdbAddAlias(0x70000000, 0x70000001), 0);
    ASSERT_EQ(RdbClose(), 1);
    const Bytes f = ReadAll(Path());
    EXPECT_EQ(U16(f, 74), 65535);
    EXPECT_EQ(U32(f, kAliases + 8 * 65534 + 4), 0x80000000u + 65534);
    EXPECT_EQ(RdbOpen(Path()), 1);
}

TEST_F(RecordFile, IndexPathDataIsLimitedTo3MB) {
    // Items with 1-byte keys cost 4 bytes in a block and 5 in the index. 38 records with
    // 16379 items each take 2 + 5 * 16379 = 81897 index bytes apiece; with the 256 reserved
    // and 2 closing bytes that is 3112344. A 39th record with 6675 such items and one of
    // key length j takes 2 + 33375 + 4 + j: j = 3 fills the section to exactly 3145728.
    for (std::size_t j : {3, 4}) {
        SCOPED_TRACE(j);
        ResetRecordFile();
        CreateBuildFile();
        std::vector<std::uint8_t> big, last;
        const std::uint8_t k = 'k';
        for (int i = 0; i < 16379; ++i) ASSERT_TRUE(AddPathItem(big, 1, {&k, 1}));
        for (int i = 0; i < 6675; ++i) ASSERT_TRUE(AddPathItem(last, 1, {&k, 1}));
        ASSERT_TRUE(AddPathItem(last, 1, Bytes(j, 'j')));
        for (std::uint32_t a = 1; a <= 38; ++a) ASSERT_EQ(RdbPutAddress(a, 1, 0, big), 1);
        ASSERT_EQ(RdbPutAddress(39, 1, 0, last), 1);
        ASSERT_EQ(RdbPutName("n", 1, 0), 1);
        ASSERT_EQ(RdbBuildIndexes(0, 0xFFFF), j == 3 ? 1 : 0);
        ASSERT_EQ(RdbClose(), 1);
        const Bytes f = ReadAll(Path());
        if (j == 3) {
            EXPECT_EQ(U32(f, 266), 3145728u);
        } else {
            EXPECT_EQ(U16(f, 50), 0) << "nothing marked built";
            EXPECT_EQ(f.size(), kEnd) << "nothing written";
            EXPECT_EQ(RdbOpen(Path()), 1);
        }
    }
}

TEST_F(RecordFile, CreateRefusesCapacitiesTheIndexesCannotHold) {
    EXPECT_EQ(RdbCreate(Path(), 64, 98305, 16), 0);
    EXPECT_EQ(RdbCreate(Path(), 64, 16, 65536), 0);
    EXPECT_FALSE(RdbIsOpen());
}

TEST_F(RecordFile, OpenRefusesDamagedAndForeignFiles) {
    // A small file with one record and one alias pair: table area end 0x401C00, alias
    // table at 0x401A00.
    ASSERT_EQ(RdbCreate(Path(), 4096, 16, 16), 1);
    ASSERT_EQ(RdbPutAddress(5, 1, 0), 1);
    ASSERT_EQ(RdbAddAlias(5, 6), 1);
    ASSERT_EQ(RdbClose(), 1);
    const Bytes good = ReadAll(Path());
    ASSERT_EQ(good.size(), 0x401C00u);
    const std::uint32_t end = 0x401C00;

    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const Case cases[] = {
        {"empty file", [](Bytes& b) { b.clear(); }},
        {"header cut short", [](Bytes& b) { b.resize(79); }},
        {"descriptors cut off", [](Bytes& b) { b.resize(200); }},
        {"table area cut short", [](Bytes& b) { b.pop_back(); }},
        {"text file", [](Bytes& b) { b = Text(std::string(600, 'x')); }},
        {"wrong magic", [](Bytes& b) { b[1] = 'X'; }},
        {"wrong version", [](Bytes& b) { Set16(b, 2, 0x0200); }},
        {"one table descriptor", [](Bytes& b) { Set16(b, 42, 1); }},
        {"descriptor offset 0", [](Bytes& b) { Set32(b, 46, 0); }},
        {"descriptors past the end", [&](Bytes& b) { Set32(b, 46, end - 100); }},
        {"wrong descriptor kind", [](Bytes& b) { b[80] = 4; }},
        {"unknown table number", [](Bytes& b) { b[81] = 3; }},
        {"two address tables", [](Bytes& b) { b[159] = 1; }},
        {"wrong record size", [](Bytes& b) { Set16(b, 150, 20); }},
        {"capacity beyond the record area", [](Bytes& b) { Set32(b, 108, 17); }},
        {"capacity beyond the limit",
         [](Bytes& b) {
             Set32(b, 108, 100000);
             Set32(b, 96, 1800000);
         }},
        {"records past the table area", [&](Bytes& b) { Set32(b, 92, end - 100); }},
        {"buckets past the table area", [&](Bytes& b) { Set32(b, 88, end - 1000); }},
        {"buckets in the header block", [](Bytes& b) { Set32(b, 166, 0); }},
        {"next slot beyond capacity", [](Bytes& b) { Set32(b, 120, 17); }},
        {"records in use beyond slots used", [](Bytes& b) { Set32(b, 112, 2); }},
        {"next slot offset disagrees", [](Bytes& b) { Set32(b, 100, 0x200200); }},
        {"free list head beyond slots used",
         [](Bytes& b) {
             Set32(b, 124, 1);
             Set32(b, 128, 9);
         }},
        {"path data used beyond its size", [](Bytes& b) { Set32(b, 140, 4097); }},
        {"path area past the table area", [](Bytes& b) { Set32(b, 136, 0x10000000); }},
        {"alias count beyond capacity", [](Bytes& b) { Set16(b, 74, 17); }},
        {"alias table past the table area", [&](Bytes& b) { Set32(b, 76, end - 8); }},
        {"table area end past the file", [&](Bytes& b) { Set32(b, 24, end + 512); }},
        {"index descriptor outside the header block", [](Bytes& b) { Set32(b, 54, 500); }},
        {"index descriptors overlap", [](Bytes& b) { Set32(b, 62, 250); }},
        {"table descriptors over the header", [](Bytes& b) { Set32(b, 46, 40); }},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        c.damage(bad);
        WriteAll(Path(), bad);
        EXPECT_EQ(RdbOpen(Path()), 0) << c.what;
        EXPECT_FALSE(RdbIsOpen()) << c.what;
        EXPECT_EQ(RdbPutAddress(5, 1, 0), 0) << c.what;
        DatabaseImage image;
        std::string why;
        EXPECT_FALSE(OpenImage(bad, image, why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }

    // Only the low 6 bits of the kind count, and the undamaged file opens.
    Bytes kindBits = good;
    kindBits[80] = 0x43;
    WriteAll(Path(), kindBits);
    EXPECT_EQ(RdbOpen(Path()), 1);
    EXPECT_EQ(RdbClose(), 1);
    EXPECT_EQ(RdbOpen(install_.file("missing.BIN")), 0);
    EXPECT_EQ(RdbLastError(), ENOENT);
}

TEST_F(RecordFile, DamagedBucketChainsFailTheInsert) {
    ASSERT_EQ(RdbCreate(Path(), 4096, 16, 16), 1);
    // Addresses 1 and 1 + 524287 share bucket 1.
    ASSERT_EQ(RdbPutAddress(1, 1, 0), 1);
    ASSERT_EQ(RdbPutAddress(1 + 524287, 1, 0), 1);
    ASSERT_EQ(RdbClose(), 1);
    const Bytes good = ReadAll(Path());
    const std::size_t rec0 = 0x200200, slot = 512 + 4;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const Case cases[] = {
        {"bucket names an unused slot", [&](Bytes& b) { Set32(b, slot, 7); }},
        {"chain leads to an unused slot", [&](Bytes& b) { Set32(b, rec0, 9); }},
        {"chain loops without closing", [&](Bytes& b) { Set32(b, rec0 + 18, 1); }},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        c.damage(bad);
        WriteAll(Path(), bad);
        ASSERT_EQ(RdbOpen(Path()), 1) << c.what;
        EXPECT_EQ(RdbPutAddress(1 + 2 * 524287, 1, 0), 0) << c.what;
        EXPECT_EQ(RdbClose(), 1);
    }
}

TEST_F(RecordFile, AFailedWriteFailsTheOperation) {
    CreateBuildFile();
    // Inserts store into the mapped table area; the index sections, the descriptors and
    // the header go through the file layer.
    ASSERT_EQ(RdbPutAddress(1, 1, 0), 1);
    ASSERT_EQ(RdbPutName("a.example", 1, 0), 1);
    for (int step : {1, 2, 3, 4}) {  // bucket, key and path sections, index descriptor
        platform::InjectFileFault(step);
        EXPECT_EQ(RdbBuildIndexes(0, 0xFFFF), 0) << step;
        EXPECT_EQ(RdbLastError(), 1) << step;
    }
    platform::ClearFileFaults();
    platform::InjectFileFault(1);  // the header write
    EXPECT_EQ(RdbClose(), 0);
    EXPECT_FALSE(RdbIsOpen());
    EXPECT_EQ(RdbPutAddress(1, 1, 0), 0) << "closed";
}

}  // namespace
