// The category list format: the header test, the refusal of damaged lists, the two path key
// forms and the domain keys.
#include "dbread/list_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sitelists/line_reader.h"
#include "dbbuild/list_parser.h"
#include "dbbuild/record_file.h"
#include "sitelists/site_list.h"
#include "tests/dbbuild/list_test_support.h"
#include "tests/support/temp_install.h"

namespace {

using namespace dbbuild;
using namespace dbread;
using namespace listtest;

const std::uint32_t kX = Ip(10, 1, 2, 3);
const std::uint32_t kY = Ip(10, 1, 2, 4);

Bytes GoodAddresses() {
    return Cat({Record(kX, 0x0005), RecordWithItems(kY, {Item(0x0001, "ab"), Item(0x0004, "c")})});
}

// ---- The header test ----

struct HeaderCase {
    const char* what;
    const char* name;
    Bytes content;
    unsigned accepted;
    int report;  // 0: refused
    int level;
};

std::vector<HeaderCase> HeaderCases() {
    const Bytes i = GoodAddresses();
    const Bytes l1(i);
    return {
        {"C/N restricted", "VELDA.NOT", Extended('C', 'N', 0, {{'I', i}}), 9, 1, 2},
        {"C/H approved", "VELDA.YES", Extended('C', 'H', 1, {{'I', i}}), 9, 2, 3},
        {"unread flag bits", "VELDA.NOT", Extended('C', 'H', 0xF8, {{'I', i}}), 9, 1, 3},
        {"header size 13", "VELDA.NOT", Extended('C', 'N', 0, {{'I', i}}, 13), 9, 1, 2},
        {"header size 12", "VELDA.NOT", Extended('C', 'N', 0, {{'I', i}}, 12), 9, 0, 0},
        {"flags bit 1", "VELDA.NOT", Extended('C', 'N', 2, {{'I', i}}), 9, 0, 0},
        {"flags bit 2", "VELDA.NOT", Extended('C', 'N', 4, {{'I', i}}), 9, 0, 0},
        {"family H outside the build's set", "VELDA.NOT", Extended('H', 'N', 0, {{'I', i}}), 9, 0,
         0},
        {"family H in its own set", "VELDA.NOT", Extended('H', 'N', 0, {{'I', i}}), 64, 1, 2},
        {"family L kind H", "VELDA.NOT", Extended('L', 'H', 1, {{'I', i}}), 32, 2, 3},
        {"family C kind N outside set 8", "VELDA.NOT", Extended('C', 'N', 0, {{'I', i}}), 8, 0, 0},
        {"unknown family", "VELDA.NOT", Extended('X', 'N', 0, {{'I', i}}), 0xFF, 0, 0},
        {"unknown kind", "VELDA.NOT", Extended('C', 'Y', 0, {{'I', i}}), 0xFF, 0, 0},
        {"empty directory", "VELDA.NOT", Extended('C', 'N', 0, {}), 9, 0, 0},
        {"level 1 0xEB approved", "VELDA.YES", Short(0xFB, l1), 9, 2, 1},
        {"level 1 0xEE restricted", "VELDA.NOT", Short(0xFE, l1), 9, 1, 1},
        {"level 1 0xEA under another name", "VELDA.YES", Short(0xFA, l1), 9, 1, 1},
        {"level 1 0xEA as VELDA.NOT", "VELDA.NOT", Short(0xFA, l1), 9, 0, 0},
        {"level 1 0xEA as velda.not", "velda.not", Short(0xFA, l1), 9, 1, 1},
        {"first byte 0xFD", "VELDA.NOT", Short(0xFD, l1), 9, 0, 0},
        {"first byte 0", "VELDA.NOT", Short(0x00, l1), 9, 0, 0},
        {"7 bytes", "VELDA.NOT", Bytes{0xFE, 0, 0, 0, 0, 0, 0}, 9, 0, 0},
        {"8 bytes, empty level 1", "VELDA.NOT", Bytes{0xFE, 0, 0, 0, 0, 0, 0, 0}, 9, 1, 1},
    };
}

TEST(ListHeader, AcceptsAndRefusesHeaders) {
    for (const auto& c : HeaderCases()) {
        SCOPED_TRACE(c.what);
        SetListFormatLevel(7);
        EXPECT_EQ(CheckListHeader(c.name, c.content, c.accepted), c.report);
        EXPECT_EQ(ListFormatLevel(), c.report ? c.level : 7);  // set only by a valid list
    }
}

TEST(ListHeader, LevelOneLengthHasBit4ForSmallSections) {
    // Bit 4 clear: the address section is n + 65536 bytes long.
    Bytes records;
    for (std::uint32_t a = 1; records.size() < 65536 + 60; ++a) {
        const Bytes r = Record(a, 1);
        records.insert(records.end(), r.begin(), r.end());
    }
    const std::size_t n = records.size();
    Bytes big = Short(0xEE, records);
    big[1] = static_cast<std::uint8_t>(n - 65536);
    big[2] = static_cast<std::uint8_t>((n - 65536) >> 8);
    ListLayout layout;
    std::string why;
    ASSERT_TRUE(ReadListLayout("VELDA.NOT", big, kBuildListKinds, layout, why)) << why;
    EXPECT_EQ(layout.addresses.size, n);
    EXPECT_EQ(layout.addressRecords, n / 6);
    // The same length with bit 4 set names a section of n - 65536 bytes, which cuts a record.
    big[0] = 0xFE;
    EXPECT_FALSE(ReadListLayout("VELDA.NOT", big, kBuildListKinds, layout, why));
}

// ---- Damaged lists ----

struct CorruptCase {
    const char* what;
    Bytes content;
};

std::vector<CorruptCase> CorruptCases() {
    const Bytes good = Extended('C', 'H', 0, {{'I', GoodAddresses()}, {'A', Alias(kX, {kY})}});
    auto with = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };
    Bytes tooManyItems = Record(kX, 0);
    for (int i = 0; i < 258; ++i) {
        const Bytes item = Item(1, std::string(252, 'k'));
        tooManyItems.insert(tooManyItems.end(), item.begin(), item.end());
    }
    return {
        {"directory runs past the end", with([](Bytes& b) { b[12] = 200; })},
        {"directory count 65535", with([](Bytes& b) { b[12] = b[13] = 0xFF; })},
        {"section offset at the end", with([](Bytes& b) { Set32(b, 16, b.size()); })},
        {"section length past the end", with([](Bytes& b) { Set32(b, 20, b.size()); })},
        {"offset + length wraps 32 bits", with([](Bytes& b) {
             Set32(b, 16, 0xFFFFFFF0u);
             Set32(b, 20, 0x20);
         })},
        {"unused letter points outside", with([](Bytes& b) {
             b[24] = 'Q';
             Set32(b, 30, 0x7FFFFFFF);
         })},
        {"extended header cut short", Bytes{0xFC, 0, 20, 0, 'C', 'H', 0, 0, 0, 0}},
        {"record cut short", Extended('C', 'H', 0, {{'I', Cat({Record(kX, 1), Bytes{1, 2, 3}})}})},
        {"record head of 5 bytes", Extended('C', 'N', 0, {{'I', Bytes{1, 2, 3, 4, 5}}})},
        {"path item L = 1",
         Extended('C', 'N', 0, {{'I', RecordWithItems(kX, {Item(1, "ab"), Item(1, "", 1)})}})},
        {"path item L = 2", Extended('C', 'N', 0, {{'I', RecordWithItems(kX, {Item(1, "", 2)})}})},
        {"path item past the section's end",
         Extended('C', 'H', 0, {{'I', Cat({Record(kX, 0), Item(1, "abcd", 200)})}})},
        {"path items beyond one block", Extended('C', 'N', 0, {{'I', tooManyItems}})},
        {"site-block section damaged",
         Extended('C', 'H', 0, {{'I', GoodAddresses()}, {'L', Bytes{9, 9}}})},
        {"alias count past the end",
         Extended('C', 'H', 0, {{'I', GoodAddresses()}, {'A', Alias(kX, {kY}, 5)}})},
        {"alias entry cut short",
         Extended('C', 'H', 0,
                  {{'I', GoodAddresses()}, {'A', Cat({Alias(kX, {kY}), Bytes{7, 7}})}})},
        {"alias entry without count",
         Extended('C', 'H', 0, {{'I', GoodAddresses()}, {'A', Bytes{7, 7, 7, 7}}})},
        {"level 1 section past the end",
         [] {
             Bytes b = Short(0xFE, Record(kX, 1), Bytes{});
             b[1] = 60;  // the section claims 60 bytes where 6 are
             return b;
         }()},
        {"level 1 without bit 4", Short(0xEE, GoodAddresses())},
    };
}

TEST(ListCorrupt, DamagedListsAreRefusedWhole) {
    for (const auto& c : CorruptCases()) {
        SCOPED_TRACE(c.what);
        ListLayout layout;
        std::string why;
        // The content is exactly as long as the file, so a read past it is caught under ASan.
        EXPECT_FALSE(ReadListLayout("VELDA.NOT", c.content, kAnyListKind, layout, why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(CheckListHeader("VELDA.NOT", c.content, kAnyListKind), 0);
        ListContent list;
        EXPECT_FALSE(DecodeListFile("VELDA.NOT", c.content, kAnyListKind, list, layout, why));
    }
}

TEST(ListCorrupt, LoadCategoryListRefusesDamagedFilesAndKeepsNoSections) {
    testsupport::TempInstall install;
    ResetListParser();
    // A good list first, so that a later refusal must also drop its sections.
    WriteList(install.file("GOOD.NOT"), Extended('C', 'H', 0, {{'I', GoodAddresses()}}));
    for (const auto& c : CorruptCases()) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(LoadCategoryList("GOOD.NOT"), 1);
        WriteList(install.file("VELDA.NOT"), c.content);
        EXPECT_EQ(LoadCategoryList("VELDA.NOT"), 0);
        EXPECT_EQ(PutListAddresses(0, false), 0);
        EXPECT_EQ(PutListAddresses(0, true), 0);
    }
}

TEST(ListCorrupt, FileSizesAtTheLimits) {
    testsupport::TempInstall install;
    ResetListParser();
    const Bytes list = Extended('C', 'N', 0, {{'I', GoodAddresses()}});
    auto padded = [&](std::size_t size) {
        Bytes b = list;
        b.resize(size, 0);  // bytes behind the sections belong to no section
        return b;
    };
    struct Case {
        const char* what;
        Bytes content;
        int result;
    } cases[] = {
        {"7 bytes", Bytes(7, 0xFE), 0},
        {"exactly 1 MB", padded(kMaxListFileSize), 1},
        {"1 MB and one byte", padded(kMaxListFileSize + 1), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteList(install.file("VELDA.NOT"), c.content);
        EXPECT_EQ(LoadCategoryList("VELDA.NOT"), c.result);
        EXPECT_EQ(LoadedListLayout().addressRecords, c.result ? 2u : 0u);
    }
    EXPECT_EQ(LoadCategoryList("MISSING.NOT"), 0);
    EXPECT_EQ(LoadCategoryList(""), 0);
    // A list of another family is valid, but not for the database build.
    WriteList(install.file("VELDA.NOT"), Extended('H', 'N', 0, {{'I', GoodAddresses()}}));
    EXPECT_EQ(LoadCategoryList("VELDA.NOT"), 0);
}

// What the format allows and the reader must not mistake for damage.
TEST(ListLayoutRules, SectionsAreChosenByLetterAndMarkers) {
    const Bytes one = Record(kX, 1);
    const Bytes two = Cat({Record(kX, 1), Record(kY, 2)});
    struct Case {
        const char* what;
        Bytes content;
        std::size_t addresses, pairs;
    } cases[] = {
        {"a section without markers is ignored",
         Extended('C', 'N', 0, {{'I', one}, {'I', two, false}}), 1, 0},
        {"a later marked section replaces an earlier one",
         Extended('C', 'N', 0, {{'I', one}, {'I', two}}), 2, 0},
        {"other letters are ignored", Extended('C', 'N', 0, {{'Q', Bytes{1}}, {'I', one}}), 1, 0},
        {"items may end at the section's end",
         Extended('C', 'N', 0, {{'I', Cat({Record(kX, 0), Item(1, "ab")})}}), 1, 0},
        {"a canonical address 0 ends the aliases",
         Extended('C', 'H', 0, {{'I', one}, {'A', Cat({Alias(kX, {kY}), Bytes{0, 0, 0, 0, 1}})}}),
         1, 1},
        {"no address section", Extended('C', 'H', 0, {{'N', Bytes{3, 'a', 'b', 'c'}}}), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ListLayout layout;
        std::string why;
        ASSERT_TRUE(ReadListLayout("VELDA.NOT", c.content, kBuildListKinds, layout, why)) << why;
        EXPECT_EQ(layout.addressRecords, c.addresses);
        EXPECT_EQ(layout.aliasPairs, c.pairs);
    }
}

TEST(ListLayoutRules, EncodedListsReadBackAsWritten) {
    ListContent list;
    list.addresses = {{kX, 0x0005, {}},
                      {kY, 0, {{0x0001, Text("ab")}, {0x0004, Text(std::string(252, 'k'))}}},
                      {Ip(1, 1, 1, 1), 0, {}}};
    list.names = {"www.example.com", std::string(255, 'n')};
    for (int level : {1, 2, 3}) {
        for (bool approved : {false, true}) {
            SCOPED_TRACE(std::to_string(level) + (approved ? " approved" : " restricted"));
            ListContent in = list;
            in.level = level;
            in.approved = approved;
            if (level > 1) {
                in.siteBlocks = {{Ip(9, 9, 9, 9), 0x0002, {}}};
                in.aliases = {{kX, {kY, Ip(7, 7, 7, 7)}}};
            }
            Bytes content;
            std::string why;
            ASSERT_TRUE(EncodeListFile(in, content, why)) << why;
            ListContent out;
            ListLayout layout;
            ASSERT_TRUE(DecodeListFile("VELDA.NOT", content, kBuildListKinds, out, layout, why))
                << why;
            EXPECT_EQ(out, in);
            EXPECT_EQ(layout.report, approved ? kApprovedList : kRestrictedList);
        }
    }
}

TEST(ListLayoutRules, EncoderRefusesWhatTheFormatCannotHold) {
    struct Case {
        const char* what;
        ListContent list;
    };
    ListContent longKey{3, false, {{kX, 0, {{1, Bytes(253, 'k')}}}}, {}, {}, {}, true};
    ListContent levelOneBlocks{1, false, {}, {{kX, 1, {}}}, {}, {}, true};
    ListContent levelOneAliases{1, false, {}, {}, {{kX, {kY}}}, {}, true};
    ListContent canonicalZero{2, false, {}, {}, {{0, {kY}}}, {}, true};
    ListContent tooLarge{
        3, false, {}, {}, {}, std::vector<std::string>(5000, std::string(255, 'n')), true};
    ListContent levelOneTooLong{1,  false, std::vector<ListRecordData>(21846, {kX, 1, {}}), {}, {},
                                {}, true};
    const Case cases[] = {{"key of 253 bytes", longKey},
                          {"level 1 with site blocks", levelOneBlocks},
                          {"level 1 with aliases", levelOneAliases},
                          {"canonical address 0", canonicalZero},
                          {"over 1 MB", tooLarge},
                          {"level 1 address section over 131071 bytes", levelOneTooLong}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes content;
        std::string why;
        EXPECT_FALSE(EncodeListFile(c.list, content, why));
        EXPECT_FALSE(why.empty());
    }
    // 256 aliases of one address need two entries (the count is one byte).
    ListContent many{2, false, {}, {}, {{kX, std::vector<std::uint32_t>(256, kY)}}, {}, true};
    Bytes content;
    std::string why;
    ASSERT_TRUE(EncodeListFile(many, content, why)) << why;
    ListContent out;
    ListLayout layout;
    ASSERT_TRUE(DecodeListFile("VELDA.YES", content, kBuildListKinds, out, layout, why)) << why;
    ASSERT_EQ(out.aliases.size(), 2u);
    EXPECT_EQ(out.aliases[0].aliases.size(), 255u);
    EXPECT_EQ(out.aliases[1].aliases.size(), 1u);
    EXPECT_EQ(layout.aliasPairs, 256u);
}

// ---- Path keys ----

TEST(ListPathKey, SegmentChecksumsAtLevelThree) {
    struct Case {
        const char* path;
        Bytes key;
    } cases[] = {
        {"/a/b", Values({kCrcA, kCrcAb})},  // the checksum of a, then of ab
        {"a/b/", Values({kCrcA, kCrcAb})},
        {"A/B", Values({kCrcA, kCrcAb})},
        {" \t/a/b,c", Values({kCrcA, kCrcAb})},
        {"/a/b d", Values({kCrcA, kCrcAb})},
        {"a//b", Values({kCrcA, kCrcA, kCrcAb})},  // never reset: an empty segment repeats
        {"\x80", Values({kCrc80})},
        {"TEST", Values({kCrcTest})},
        {"ads/top", Values({kCrcAds, kCrcAdsTop})},
        {"!SLBLOCK!", Values({kCrcSlBlock})},
        {"", {}},
        {"/", {}},
        {"//", Values({0})},
    };
    SetListFormatLevel(3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<std::uint8_t> key{9, 9};
        EXPECT_EQ(MakePathKey(c.path, key), static_cast<int>(c.key.size()));
        EXPECT_EQ(key, c.key);
    }
}

TEST(ListPathKey, TextAtOtherLevels) {
    struct Case {
        const char* path;
        const char* key;
    } cases[] = {
        {"/Ads/Top.HTML", "/ads/top.html"},
        {"  a/b,c", "a/b"},
        {"a\tb", "a"},
        {"x_Y@", "x\x7fy`"},  // every byte OR 0x20, not only letters
        {"", ""},
    };
    for (int level : {1, 2}) {
        SetListFormatLevel(level);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.path);
            std::vector<std::uint8_t> key;
            EXPECT_EQ(MakePathKey(c.path, key), static_cast<int>(std::string(c.key).size()));
            EXPECT_EQ(key, Text(c.key));
        }
    }
}

TEST(ListPathKey, SegmentKeyStopsAt4096Bytes) {
    std::string path;
    for (int i = 0; i < 1500; ++i) path += "a/";
    SetListFormatLevel(3);
    std::vector<std::uint8_t> key;
    EXPECT_EQ(MakePathKey(path, key), 4096);
    EXPECT_EQ(Bytes(key.begin(), key.begin() + 4), Values({kCrcA}));
}

// ---- Domain keys ----

TEST(ListDomainKey, LabelsReversedUnlessDottedNumbers) {
    struct Case {
        const char* name;
        const char* key;
    } cases[] = {
        {"x.y.z", "z.y.x"},
        {"www.example.com", "com.example.www"},
        {"gov", "gov"},
        {"example.com.", "com.example"},  // a trailing '.' is dropped
        {".gov", "gov"},                  // so is the one a leading '.' would leave
        {"10.1.2.3", "10.1.2.3"},
        {"10.1.2", "10.1.2"},
        {"300.1.1.1", "1.1.1.300"},    // a number above 255 makes it a name
        {"10.1.2.300", "10.1.2.300"},  // the last number is not followed by '.', not tested
        {"1a.2.3.4", "4.3.2.1a"},
        {"gov.", "gov"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DomainKey(c.name), c.key);
    }
}

}  // namespace
