// The running filter keeps its databases current: it reads a changed policy, opens a set
// the console replaced, keeps the set it has while a rebuild runs or when the new files
// are unusable, and never decides with a half-built set.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "filter/filter.h"
#include "platform/locations.h"
#include "tests/filter/filter_fixture.h"

namespace {

std::tm Monday10() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_wday = 1;
    t.tm_hour = 10;
    return t;
}

class FilterReloadTest : public ::testing::Test {
  protected:
    void Build(int block) {
        fixture = std::make_unique<filtertest::FilterInstallation>(
            std::string(VELDANA_DNS_NET) + std::to_string(240 + block) + ".");
        std::string why;
        if (!fixture->Available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(fixture->Build(why)) << why;
        filter = std::make_unique<filter::Filter>(filter::FilterOptions{
            platform::RegistryStorePath(), filter::FailMode::kClosed,
            [this](std::string_view text) { notes += std::string(text) + "\n"; }});
        filter->Refresh(true);
        ASSERT_TRUE(filter->HasDatabases()) << filter->problem();
    }

    filter::Decision DecideFor(const std::string& url) {
        filter::RequestTarget target;
        std::string error;
        EXPECT_TRUE(filter::ParseRequestTarget(url, target, error)) << error;
        return filter->DecideAt(target, filter->FindValues(target), Monday10());
    }
    std::string RuleFor(const std::string& url) { return DecideFor(url).rule; }

    std::unique_ptr<filtertest::FilterInstallation> fixture;
    std::unique_ptr<filter::Filter> filter;
    std::string notes;
};

TEST_F(FilterReloadTest, PolicyAndDatabaseChangesTakeEffectAndDamageDoesNot) {
    Build(0);
    const filter::DatabaseSet* first = filter->databases();
    EXPECT_EQ(RuleFor("http://bad.example/"), "restricted-list");

    // A policy change: read again, the databases stay open as they are.
    fixture->SetPolicy("NormalWEB", "3");
    filter->Refresh(true);
    EXPECT_EQ(RuleFor("http://school.example/"), "no-access");
    EXPECT_EQ(filter->databases(), first);
    fixture->SetPolicy("NormalWEB", "1");

    // A rebuild runs: the files it has not finished never reach the filter.
    fixture->SetPolicy("VELDABIN_Changed", "0");
    const std::string replacement = fixture->install.file("VeldaNOT.new");
    fixture->install.writeFile(replacement, "half a database");
    ASSERT_EQ(std::rename(replacement.c_str(), fixture->install.file("VeldaNOT.BIN").c_str()), 0);
    std::remove(fixture->install.file("NoneYES.BIN").c_str());
    filter->Refresh(true);
    EXPECT_EQ(filter->databases(), first);
    EXPECT_EQ(RuleFor("http://bad.example/"), "restricted-list");
    EXPECT_NE(notes.find("a rebuild is running"), std::string::npos) << notes;

    // A rebuild that ended with unusable files: the last complete set stays.
    fixture->SetPolicy("VELDABIN_Changed", "1");
    filter->Refresh(true);
    EXPECT_EQ(filter->databases(), first);
    EXPECT_EQ(RuleFor("http://bad.example/"), "restricted-list");
    EXPECT_NE(notes.find("deciding with the databases opened before"), std::string::npos) << notes;

    // A rebuild from a changed list: the new set decides.
    std::string error;
    ASSERT_EQ(testsupport::MakeListFile("level 3\nkind restricted\naddress 198.51.100.1 0x0001\n",
                                        fixture->install.file("VELDA.NOT"), &error),
              0)
        << error;
    ASSERT_TRUE(fixture->Rebuild(error)) << error;
    filter->Refresh(true);
    EXPECT_NE(filter->databases(), first);
    EXPECT_EQ(RuleFor("http://bad.example/"), "not-restricted");
    EXPECT_EQ(RuleFor("http://school.example/"), "restricted-list");
    EXPECT_NE(notes.find("new databases opened"), std::string::npos) << notes;
}

TEST_F(FilterReloadTest, AFileCutShortInPlaceIsNoCrashAndBlocksUntilReopened) {
    Build(2);
    EXPECT_EQ(RuleFor("http://bad.example/"), "restricted-list");
    // Not how the console replaces a file: rewritten in place, shorter, under the mapping.
    for (const char* db : {"VeldaNOT.BIN", "NoneYES.BIN", "NoneNOT.BIN", "DNSHASH.DAT"})
        ASSERT_EQ(::truncate(fixture->install.file(db).c_str(), 4096), 0);
    filter::Decision d = DecideFor("http://bad.example/x");
    EXPECT_EQ(d.verdict, filter::Verdict::kBlock);
    EXPECT_EQ(d.rule, "fail-closed");
    EXPECT_NE(d.reason.find("cut short"), std::string::npos) << d.reason;

    filter->Refresh(true);
    EXPECT_FALSE(filter->HasDatabases()) << "the cut files are not usable";
    EXPECT_EQ(RuleFor("http://school.example/"), "fail-closed");
    std::string error;
    ASSERT_TRUE(fixture->Rebuild(error)) << error;
    filter->Refresh(true);
    ASSERT_TRUE(filter->HasDatabases()) << filter->problem();
    EXPECT_EQ(RuleFor("http://bad.example/"), "restricted-list");
}

TEST_F(FilterReloadTest, RebuildsInARowNeverLetThroughWhatWasBlocked) {
    Build(1);
    std::atomic<bool> done{false};
    std::string error;
    std::thread rebuilds([&] {
        for (int i = 0; i < 4 && error.empty(); ++i) {
            std::string why;
            if (!fixture->Rebuild(why)) error = why;
        }
        done = true;
    });
    int decisions = 0, reopened = 0;
    const filter::DatabaseSet* last = filter->databases();
    while (!done) {
        filter->Refresh(true);
        if (filter->databases() != last) ++reopened;
        last = filter->databases();
        ASSERT_TRUE(filter->HasDatabases());
        for (const char* url : {"http://bad.example/", "http://10.5.5.5/", "http://paths.example/ads/"})
            ASSERT_EQ(DecideFor(url).verdict, filter::Verdict::kBlock) << url << " " << RuleFor(url);
        ++decisions;
    }
    rebuilds.join();
    EXPECT_EQ(error, "");
    EXPECT_GT(decisions, 10);
    EXPECT_GT(reopened, 0) << "the filter saw the new sets";
}

}  // namespace
