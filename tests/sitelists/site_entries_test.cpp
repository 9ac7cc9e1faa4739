#include "sitelists/site_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_install.h"

namespace {

using namespace sitelists;

TEST(SplitUrlTest, HostAndPath) {
    struct Case {
        const char* text;
        const char* host;
        const char* path;
    };
    const Case cases[] = {
        {"http://www.example.com:8080/kids/games.htm", "www.example.com", "kids/games.htm"},
        {"www.example.com", "www.example.com", ""},
        {"example.com/a/b", "example.com", "a/b"},
        {"10.1.2.3:80", "10.1.2.3", ""},
        {"ftp://files.example.org/", "files.example.org", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        std::string host = "junk", path = "junk";
        EXPECT_EQ(SplitUrl(c.text, host, path), 1);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(path, c.path) << c.text;
    }
    struct Strip {
        const char* in;
        const char* out;
    };
    for (const Strip& s : {Strip{"http://x/y", "x/y"}, Strip{"x/y", "x/y"}, Strip{"ab", "ab"},
                           Strip{"://", ""}, Strip{"a://", ""}}) {
        std::string t = s.in;
        StripScheme(t);
        EXPECT_EQ(t, s.out) << s.in;
    }
}

class SiteEntriesTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    void SetUp() override {
        install.writeFile(install.file("kids.txt"), "a.example\r\nb.example\n\nafter.example\n");
        SetSiteName(SiteList::kApproved, 0, "ok.example");
        SetSiteName(SiteList::kApproved, 1, "kids.txt");
        // slot 2 is empty: it ends block 1 for a walk that stops at empty slots
        SetSiteName(SiteList::kApproved, 3, "hidden.example");
        SetSiteName(SiteList::kApproved, 4, "missing.txt");  // no such file: a site
        SetSiteName(SiteList::kApproved, 512, "second.example");
        SetSiteName(SiteList::kRestricted, 0, "bad.example");
    }
    static std::vector<std::string> Walk(const SiteWalk& walk) {
        std::vector<std::string> seen;
        ForEachSiteEntry(walk, [&](const SiteEntry& e) {
            const char* kind = e.kind == EntryKind::kSite       ? "site"
                               : e.kind == EntryKind::kFileSlot ? "file"
                                                                : "line";
            seen.push_back(std::string(e.list == SiteList::kApproved ? "A" : "R") +
                           std::to_string(e.index) + " " + kind + " " + std::string(e.text));
        });
        return seen;
    }
};

TEST_F(SiteEntriesTest, WalksInTheOrderAndWithTheRulesItIsGiven) {
    struct Case {
        const char* name;
        SiteWalk walk;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"approved first, empty slot ends its block",
         {{SiteList::kApproved, SiteList::kRestricted}, EmptySlot::kEndsBlock, FilePaths::kKept},
         {"A0 site ok.example", "A1 file kids.txt", "A1 line a.example", "A1 line b.example",
          "A512 site second.example", "R0 site bad.example"}},
        {"restricted first, every slot",
         {{SiteList::kRestricted, SiteList::kApproved}, EmptySlot::kSkipped, FilePaths::kKept},
         {"R0 site bad.example", "A0 site ok.example", "A1 file kids.txt", "A1 line a.example",
          "A1 line b.example", "A3 site hidden.example", "A4 site missing.txt",
          "A512 site second.example"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Walk(c.walk), c.expected) << c.name;
    EXPECT_EQ(SiteName(SiteList::kApproved, 1), "kids.txt") << "paths kept";
}

TEST_F(SiteEntriesTest, AFileSlotTakesTheFullPathWhenAsked) {
    const std::string path = install.file("kids.txt");
    ASSERT_LE(path.size(), kMaxSiteName) << "the temporary installation's path is too long";
    Walk({{SiteList::kApproved, SiteList::kRestricted},
          EmptySlot::kEndsBlock,
          FilePaths::kRecorded});
    EXPECT_EQ(SiteName(SiteList::kApproved, 1), path);
    // The recorded path still names the file on the next walk.
    const auto again = Walk(
        {{SiteList::kApproved, SiteList::kRestricted}, EmptySlot::kEndsBlock, FilePaths::kKept});
    ASSERT_GE(again.size(), 3u);
    EXPECT_EQ(again[1], "A1 file " + path);
    EXPECT_EQ(again[2], "A1 line a.example");
}

}  // namespace
