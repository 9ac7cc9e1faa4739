// veldana-list import, piece by piece: names as the import keeps them, the lines of the
// source formats, the category map, and whole imports (merging, category values, limits,
// bad input) read back with the list reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dbread/list_file.h"
#include "dbread/text.h"
#include "sitelists/site_list.h"
#include "tests/support/temp_install.h"
#include "tools/list_import.h"

namespace {

using listimport::NameVerdict;

TEST(ImportNames, Normalised) {
    struct Case {
        const char* raw;
        NameVerdict verdict;
        const char* name;
    };
    const Case cases[] = {
        {"Example.COM", NameVerdict::kHost, "example.com"},
        {"www.example.com.", NameVerdict::kHost, "example.com"},
        {"*.ads.example", NameVerdict::kHost, "ads.example"},
        {"  tab.example\t", NameVerdict::kHost, "tab.example"},
        {"xn--bcher-kva.example", NameVerdict::kHost, "xn--bcher-kva.example"},
        {"b\xc3\xbc" "cher.example", NameVerdict::kHost, "b\xc3\xbc" "cher.example"},
        {"under_score.example", NameVerdict::kHost, "under_score.example"},
        {"www", NameVerdict::kHost, "www"},
        {"192.0.2.7", NameVerdict::kAddress, "192.0.2.7"},
        {"localhost", NameVerdict::kSkipped, ""},
        {"two..dots", NameVerdict::kNotAHostName, ""},
        {"sp ace.example", NameVerdict::kNotAHostName, ""},
        {"semi;colon.example", NameVerdict::kNotAHostName, ""},
        {"", NameVerdict::kNotAHostName, ""},
        {"\x01\x02", NameVerdict::kNotAHostName, ""},
        {"a-very-long-name-that-is-just-over-sixty-three-bytes-long.example", NameVerdict::kTooLong, ""},
    };
    for (const Case& c : cases) {
        std::string name;
        std::uint32_t address = 0;
        EXPECT_EQ(listimport::NormaliseName(c.raw, name, address), c.verdict) << c.raw;
        if (c.verdict == NameVerdict::kHost || c.verdict == NameVerdict::kAddress) {
            EXPECT_EQ(name, c.name);
        }
    }
}

TEST(ImportLines, DomainsHostsAdblockAndUrls) {
    struct Case {
        const char* line;
        listimport::LineKind kind;
        NameVerdict verdict;
        const char* name;
        const char* path;
    };
    using listimport::LineKind;
    const Case cases[] = {
        {"ads.example", LineKind::kDomains, NameVerdict::kHost, "ads.example", ""},
        {"0.0.0.0 ads.example", LineKind::kDomains, NameVerdict::kHost, "ads.example", ""},
        {"127.0.0.1\tads.example  # a comment", LineKind::kDomains, NameVerdict::kHost, "ads.example", ""},
        {"::1 localhost", LineKind::kDomains, NameVerdict::kSkipped, "", ""},
        {"||ads.example^", LineKind::kDomains, NameVerdict::kHost, "ads.example", ""},
        {"# only a comment", LineKind::kDomains, NameVerdict::kSkipped, "", ""},
        {"! adblock comment", LineKind::kDomains, NameVerdict::kSkipped, "", ""},
        {"two words", LineKind::kDomains, NameVerdict::kNotAHostName, "", ""},
        {"news.example/adult/", LineKind::kUrls, NameVerdict::kHost, "news.example", "adult/"},
        {"http://Mixed.example:8080/A/b.html", LineKind::kUrls, NameVerdict::kHost, "mixed.example", "A/b.html"},
        {"site.example/", LineKind::kUrls, NameVerdict::kHost, "site.example", ""},
        {"10.1.2.3/x", LineKind::kUrls, NameVerdict::kAddress, "10.1.2.3", "x"},
        {"site.example/a,b", LineKind::kUrls, NameVerdict::kNotAHostName, "", ""},
    };
    for (const Case& c : cases) {
        listimport::SourceEntry e;
        EXPECT_EQ(listimport::ReadSourceLine(c.line, c.kind, e), c.verdict) << c.line;
        if (c.verdict != NameVerdict::kHost && c.verdict != NameVerdict::kAddress) continue;
        EXPECT_EQ(e.name, c.name) << c.line;
        EXPECT_EQ(e.path, c.path) << c.line;
    }
}

TEST(ImportMap, LinesAddUpAndMistakesAreReported) {
    listimport::CategoryMap map;
    std::vector<std::string> problems;
    EXPECT_TRUE(listimport::ParseCategoryMap("adult restricted 2\nADULT restricted 3 # sexual acts\n"
                                             "kids approved 0\n\n# comment\n",
                                             map, problems));
    EXPECT_EQ(map["adult"].restricted, 0x000C);
    EXPECT_EQ(map["kids"].approved, 0x0001);
    for (const char* bad : {"adult restricted 16\n", "adult both 2\n", "adult restricted\n", "a b c d\n"}) {
        listimport::CategoryMap m;
        std::vector<std::string> p;
        EXPECT_FALSE(listimport::ParseCategoryMap(bad, m, p)) << bad;
        ASSERT_EQ(p.size(), 1u) << bad;
        EXPECT_EQ(p[0].substr(0, 7), "line 1:");
    }
    listimport::CategoryMap shipped;
    EXPECT_TRUE(listimport::ParseCategoryMap(listimport::DefaultCategoryMap(), shipped, problems));
    EXPECT_EQ(shipped["gambling"].restricted, 1u << 10);
    EXPECT_EQ(shipped["games"].approved, 1u << 0);
}

TEST(ImportValues, CountUpInTheReservedBlock) {
    EXPECT_EQ(dbread::DottedAddress(listimport::CategoryValue(1)), "240.0.0.1");
    EXPECT_EQ(dbread::DottedAddress(listimport::CategoryValue(256)), "240.0.1.0");
    EXPECT_EQ(dbread::DottedAddress(listimport::CategoryValue(0xFFFFF)), "240.15.255.255");
}

class ImportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        out = install.root() + "/out";
        std::filesystem::create_directories(out);
    }
    void Write(const std::string& relative, const std::string& text) {
        const std::string path = install.root() + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    bool Run(const std::vector<listimport::ImportSource>& sources) {
        listimport::CategoryMap map;
        std::vector<std::string> problems;
        listimport::ParseCategoryMap("adult restricted 3\ngambling restricted 10\nkids approved 0\n"
                                     "games restricted 12\ngames approved 0\n",
                                     map, problems);
        return listimport::Import(sources, map, out, summary, error);
    }
    dbread::ListContent List(const char* name) {
        std::string bytes = install.readFile(out + "/" + name);
        std::vector<std::uint8_t> content(bytes.begin(), bytes.end());
        sitelists::UnscrambleSiteList(content);
        dbread::ListContent list;
        dbread::ListLayout layout;
        std::string why;
        EXPECT_TRUE(dbread::DecodeListFile(name, content, dbread::kBuildListKinds, list, layout, why)) << why;
        return list;
    }
    // name -> value of a raw name list, in the order written.
    std::vector<std::pair<std::string, std::uint32_t>> Raw(const char* name) {
        const std::string b = install.readFile(out + "/" + name);
        std::vector<std::pair<std::string, std::uint32_t>> names;
        auto u32 = [&](std::size_t at) {
            return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
                   std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
        };
        const std::uint32_t count = u32(0);
        std::size_t at = 4;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t n = std::uint8_t(b[at]);
            names.push_back({b.substr(at + 1, n), u32(at + 1 + n)});
            at += 1 + n + 4;
        }
        EXPECT_EQ(at, b.size());
        return names;
    }
    std::uint16_t CategoriesOf(const dbread::ListContent& list, std::uint32_t value) {
        std::uint16_t bits = 0;
        for (const auto& r : list.addresses)
            if (r.address == value) bits |= r.categories;
        return bits;
    }

    testsupport::TempInstall install;
    std::string out, error;
    listimport::ImportSummary summary;
};

TEST_F(ImportTest, NamesMergeAcrossCategoriesIntoSharedValues) {
    Write("tree/adult/domains", "a.example\nWWW.a.example\nboth.example\nc.example\n");
    Write("tree/gambling/domains", "both.example\nd.example\n");
    Write("tree/games/domains", "play.example\n");
    Write("tree/kids/domains", "kid.example\n");
    ASSERT_TRUE(Run({{listimport::ImportSource::kTree, install.root() + "/tree", ""}})) << error;
    EXPECT_FALSE(summary.partial());

    const auto rawNot = Raw("DNSRAW.NOT"), rawYes = Raw("DNSRAW.YES");
    std::map<std::string, std::uint32_t> value;
    for (const auto& [n, v] : rawNot) value[n] = v;
    for (const auto& [n, v] : rawYes) value[n] = v;
    // Sorted, each name once; a name with approved bits only in DNSRAW.YES.
    std::vector<std::string> notNames;
    for (const auto& p : rawNot) notNames.push_back(p.first);
    EXPECT_EQ(notNames, (std::vector<std::string>{"a.example", "both.example", "c.example", "d.example", "play.example"}));
    ASSERT_EQ(rawYes.size(), 1u);
    EXPECT_EQ(rawYes[0].first, "kid.example");

    EXPECT_EQ(value["a.example"], value["c.example"]) << "the same bits share a value";
    EXPECT_NE(value["a.example"], value["both.example"]);
    const auto restricted = List("VELDA.NOT"), approved = List("VELDA.YES");
    EXPECT_TRUE(approved.approved);
    EXPECT_EQ(CategoriesOf(restricted, value["both.example"]), (1u << 3) | (1u << 10));
    EXPECT_EQ(CategoriesOf(restricted, value["d.example"]), 1u << 10);
    // A category in both lists: the name's one value is in both.
    EXPECT_EQ(CategoriesOf(restricted, value["play.example"]), 1u << 12);
    EXPECT_EQ(CategoriesOf(approved, value["play.example"]), 1u << 0);
    EXPECT_EQ(CategoriesOf(approved, value["kid.example"]), 1u << 0);
    for (const auto& [n, v] : value) EXPECT_EQ(v & 0xF0, 0xF0u) << n << " has a value in 240.0.0.0/4";
    EXPECT_EQ(summary.categories["adult"].read, 4u);
}

TEST_F(ImportTest, PathsAddressesAndBadInputAreReportedNotFatal) {
    Write("tree/adult/domains", std::string("good.example\nbad line here\n") + std::string(5000, 'x') +
                                    "\n\x01\x02\x03\n192.0.2.9\nlast.example");
    Write("tree/adult/urls", "news.example/adult/\nnews.example/adult/more\ngood.example/worse/\n");
    Write("tree/unmapped/domains", "u1.example\nu2.example\n");
    Write("hosts.txt", "0.0.0.0 gamble.example\n127.0.0.1 localhost\n");
    ASSERT_TRUE(Run({{listimport::ImportSource::kTree, install.root() + "/tree", ""},
                     {listimport::ImportSource::kTree, install.root() + "/missing", ""},
                     {listimport::ImportSource::kList, install.root() + "/hosts.txt", "gambling"}}))
        << error;
    EXPECT_TRUE(summary.partial());
    EXPECT_EQ(summary.leftOut["not a host name"], 2u);
    EXPECT_EQ(summary.leftOut["line over 4096 bytes"], 1u);
    EXPECT_EQ(summary.leftOut["category not in the category map"], 2u);
    std::string reports;
    for (const auto& r : summary.reports) reports += r + "\n";
    EXPECT_NE(reports.find("adult/domains:2: not a host name"), std::string::npos) << reports;
    EXPECT_NE(reports.find("adult/domains:3: a line over 4096 bytes"), std::string::npos) << reports;
    EXPECT_NE(reports.find("missing: not a folder of categories"), std::string::npos) << reports;
    EXPECT_NE(reports.find("\"unmapped\" is not in the category map: 2 entries"), std::string::npos) << reports;

    const auto restricted = List("VELDA.NOT");
    std::uint32_t address = 0;
    dbread::ParseDottedAddress("192.0.2.9", address);
    EXPECT_EQ(CategoriesOf(restricted, address), 1u << 3) << "an address stands for itself";
    std::map<std::string, std::uint32_t> value;
    for (const auto& [n, v] : Raw("DNSRAW.NOT")) value[n] = v;
    EXPECT_TRUE(value.count("last.example")) << "a last line without its newline";
    EXPECT_TRUE(value.count("gamble.example"));
    // A host with paths has a value of its own: the whole site first, then its path items.
    const std::uint32_t good = value["good.example"], news = value["news.example"];
    EXPECT_NE(good, value["last.example"]);
    std::vector<const dbread::ListRecordData*> goodRecords;
    for (const auto& r : restricted.addresses)
        if (r.address == good) goodRecords.push_back(&r);
    ASSERT_EQ(goodRecords.size(), 2u);
    EXPECT_EQ(goodRecords[0]->categories, 1u << 3);
    ASSERT_EQ(goodRecords[1]->items.size(), 1u);
    EXPECT_EQ(goodRecords[1]->items[0].key, dbread::PathKeyForLevel(3, "worse/"));
    for (const auto& r : restricted.addresses) {
        if (r.address == news) {
            EXPECT_EQ(r.items.size(), 2u);
        }
    }
}

TEST_F(ImportTest, WhatPassesTheListFileLimitIsLeftOutAndCounted) {
    std::string urls;
    for (int i = 0; i < 90000; ++i) urls += "host" + std::to_string(i) + ".example/p/\n";
    Write("tree/adult/urls", urls);
    ASSERT_TRUE(Run({{listimport::ImportSource::kTree, install.root() + "/tree", ""}})) << error;
    const std::size_t left = summary.leftOut["the list file holds at most 1 MB"];
    EXPECT_GT(left, 0u);
    EXPECT_EQ(summary.pathHosts + left, 90000u);
    EXPECT_LE(install.readFile(out + "/VELDA.NOT").size(), dbread::kMaxListFileSize);
    EXPECT_EQ(Raw("DNSRAW.NOT").size(), summary.pathHosts) << "no name points at a value left out";
}

TEST_F(ImportTest, NothingReadableIsAFailure) {
    EXPECT_FALSE(Run({{listimport::ImportSource::kList, install.root() + "/none.txt", "adult"}}));
    EXPECT_NE(error.find("no source could be read"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(out + "/VELDA.NOT"));
}

}  // namespace
