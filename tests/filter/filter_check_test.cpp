// The filter's decision, table by table, through "veldana-filter check" on databases that
// "veldana /qr" built: each period, access mode and list choice, with paths, aliases, site
// blocks, domain parts and the administrator's entries.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/filter/filter_fixture.h"

namespace {

using testsupport::BuiltProgram;
using testsupport::RunCommand;

constexpr const char* kMonday10 = "2026-12-07 10:00";   // work time
constexpr const char* kMondayNoon = "2026-12-07 12:30";  // the midday break: leisure
constexpr const char* kSunday10 = "2026-12-06 10:00";    // a day without work time

struct Case {
    const char* url;
    const char* at;
    bool blocked;
    const char* rule;
    const char* matched = "";  // a part of the entry that decided
};

class FilterCheckTest : public ::testing::Test {
  protected:
    // Each test runs in a process of its own, side by side: each gets its own name servers.
    void Build(int block) {
        fixture = std::make_unique<filtertest::FilterInstallation>(
            std::string(VELDANA_DNS_NET) + std::to_string(230 + block) + ".");
        std::string why;
        if (!fixture->Available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(fixture->Build(why)) << why;
    }

    nlohmann::json Check(const std::string& url, const std::string& at, int* status = nullptr,
                         const std::string& extra = "") {
        std::string out, err;
        int rc = RunCommand(BuiltProgram("veldana-filter") + " check '" + url + "' --json --at '" +
                                at + "'" + extra,
                            &out, &err);
        if (status) *status = rc;
        EXPECT_TRUE(rc == 0 || rc == 1) << url << ": " << err;
        return nlohmann::json::parse(out, nullptr, false);
    }

    void Expect(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            int rc = -1;
            nlohmann::json j = Check(c.url, c.at, &rc);
            ASSERT_TRUE(j.is_object()) << c.url;
            EXPECT_EQ(j["verdict"], c.blocked ? "blocked" : "allowed") << c.url << "\n" << j.dump(1);
            EXPECT_EQ(rc, c.blocked ? 1 : 0) << c.url;
            EXPECT_EQ(j["rule"], c.rule) << c.url << "\n" << j.dump(1);
            EXPECT_NE(j["matched"].get<std::string>().find(c.matched), std::string::npos)
                << c.url << "\n" << j.dump(1);
        }
    }

    std::unique_ptr<filtertest::FilterInstallation> fixture;
};

TEST_F(FilterCheckTest, RestrictedListWithTheAdministratorsEntries) {
    Build(0);
    Expect({
        {"http://bad.example/", kMonday10, true, "restricted-list", "VeldaNOT.BIN entry 192.0.2.10"},
        {"http://www.bad.example/x", kMonday10, true, "restricted-list"},
        {"http://deep.sub.bad.example/", kMonday10, true, "restricted-list"},
        {"http://www.kept.example/", kMonday10, true, "restricted-list"},  // listed with its www.
        {"http://kept.example/", kMonday10, false, "not-restricted"},
        {"http://192.0.2.10:8080/", kMonday10, true, "restricted-list"},
        {"http://alias.example/", kMonday10, true, "restricted-list", "192.0.2.11"},
        {"bad.example:443", kMonday10, true, "restricted-list"},
        {"https://user@BAD.Example./", kMonday10, true, "restricted-list"},
        {"http://paths.example/ads/x.gif", kMonday10, true, "restricted-list", "path item"},
        {"http://paths.example/IMG/Banners/1.png", kMonday10, true, "restricted-list"},
        {"http://paths.example/adsl/", kMonday10, false, "not-restricted"},
        {"http://paths.example/", kMonday10, false, "not-restricted"},
        {"http://siteblock.example/any/page", kMonday10, true, "restricted-list", "site block"},
        {"http://school.example/", kMonday10, false, "not-restricted"},
        {"http://unknown.invalid/", kMonday10, false, "not-restricted"},
        // The administrator's approvals come first: a listed site, a path of a listed site.
        {"http://gamble.example/", kMonday10, false, "approved-site", "NoneYES.BIN"},
        {"http://192.0.2.10/good/page", kMonday10, false, "approved-site", "path item"},
        {"http://192.0.2.10/bad/page", kMonday10, true, "restricted-list"},
        // ... and their restrictions: addresses, a path, a name resolved through nsd.
        {"http://10.5.5.5/", kMonday10, true, "restricted-site", "NoneNOT.BIN"},
        {"http://10.6.6.6/bad/path/x", kMonday10, true, "restricted-site", "path item"},
        {"http://10.6.6.6/fine", kMonday10, false, "not-restricted"},
        {"http://www.veldana.test/", kMonday10, true, "restricted-site", "10.1.2.3"},
        // Domain parts: the longest one wins.
        {"http://poker.casino.example/", kMonday10, true, "restricted-domain", "casino.example"},
        {"http://safe.casino.example/", kMonday10, false, "approved-domain", "safe.casino.example"},
        {"http://www.safe.casino.example/", kMonday10, false, "approved-domain"},
        {"http://mit.edu/", kMonday10, false, "approved-domain", "edu"},
        {"http://notcasino.example/", kMonday10, false, "not-restricted"},
        // The same choices hold in leisure time by default.
        {"http://bad.example/", kMondayNoon, true, "restricted-list"},
        {"http://bad.example/", kSunday10, true, "restricted-list"},
    });
}

TEST_F(FilterCheckTest, AccessModesAndCategoriesPerPeriod) {
    Build(1);
    fixture->SetPolicy("NormalWEB", "2");
    fixture->SetPolicy("LeisureWEB", "3");
    Expect({
        {"http://bad.example/", kMonday10, false, "full-access"},
        {"http://school.example/", kMondayNoon, true, "no-access"},
        {"http://school.example/", kSunday10, true, "no-access"},
    });
    fixture->SetPolicy("NormalWEB", "1");
    fixture->SetPolicy("NormalContent", "4");  // Full Nudity only
    Expect({
        {"http://bad.example/", kMonday10, false, "not-restricted"},
        {"http://paths.example/ads/x", kMonday10, true, "restricted-list"},
        {"http://paths.example/img/banners/", kMonday10, false, "not-restricted"},
        // Without bit 12 a site block does not block the site.
        {"http://siteblock.example/", kMonday10, false, "not-restricted"},
        {"http://10.5.5.5/", kMonday10, true, "restricted-site"},
    });
    fixture->SetPolicy("NormalContent", "4096");
    Expect({{"http://siteblock.example/x", kMonday10, true, "restricted-list", "site block"}});
    // Work hours move: 12:30 becomes work time.
    fixture->SetPolicy("AM_End", "52");
    nlohmann::json j = Check("http://bad.example/", kMondayNoon);
    EXPECT_EQ(j["period"], "work");
}

TEST_F(FilterCheckTest, ListChoices) {
    Build(2);
    fixture->SetPolicy("NormalVeldaYES", "1");
    fixture->SetPolicy("NormalContent", "65535");
    Expect({
        {"http://school.example/", kMonday10, false, "approved-list", "VeldaYES.BIN"},
        {"http://mixed.example/kids/games", kMonday10, false, "approved-list", "path item"},
        {"http://mixed.example/other", kMonday10, true, "not-approved"},
        {"http://bad.example/", kMonday10, true, "not-approved"},
        {"http://10.8.8.8/", kMonday10, false, "approved-site"},
        {"http://10.5.5.5/", kMonday10, true, "restricted-site"},
        {"http://mit.edu/", kMonday10, false, "approved-domain"},
    });
    fixture->SetPolicy("NormalContent", "1");  // Games & Toys only
    Expect({
        {"http://school.example/", kMonday10, true, "not-approved"},
        {"http://mixed.example/kids/", kMonday10, false, "approved-list"},
    });
    fixture->SetPolicy("NormalVeldaYES", "2");
    Expect({
        {"http://bad.example/", kMonday10, false, "restrictions-only"},
        {"http://10.5.5.5/", kMonday10, true, "restricted-site"},
        {"http://poker.casino.example/", kMonday10, true, "restricted-domain"},
    });
    fixture->SetPolicy("NormalVeldaYES", "3");
    Expect({
        {"http://school.example/", kMonday10, true, "approvals-only"},
        {"http://10.8.8.8/", kMonday10, false, "approved-site"},
        {"http://192.0.2.10/good/x", kMonday10, false, "approved-site"},
        {"http://mit.edu/", kMonday10, false, "approved-domain"},
    });
}

TEST_F(FilterCheckTest, BlockPageCarriesTheUrlAndTheReason) {
    Build(3);
    fixture->SetPolicy("RedirectedSite", "http://block.example/stop.html");
    // A URL with a blank cannot be taken as it stands.
    std::string err;
    EXPECT_EQ(RunCommand(BuiltProgram("veldana-filter") + " check 'http://bad.example/a b'",
                         nullptr, &err),
              2);
    EXPECT_NE(err.find("blank"), std::string::npos) << err;
    nlohmann::json j = Check("http://bad.example/a?c=d&e", kMonday10);
    EXPECT_EQ(j["blockPage"],
              "http://block.example/stop.html?url=http%3A%2F%2Fbad.example%2Fa%3Fc%3Dd%26e"
              "&reason=restricted-list");
    EXPECT_EQ(j["categoryNames"], nlohmann::json::array({"Violence / Profanity"}));
}

TEST_F(FilterCheckTest, WithoutCompleteDatabasesTheFailModeDecides) {
    Build(4);
    std::remove(fixture->install.file("NoneYES.BIN").c_str());
    nlohmann::json j = Check("http://school.example/", kMonday10);
    EXPECT_EQ(j["rule"], "fail-closed");
    EXPECT_EQ(j["verdict"], "blocked");
    EXPECT_NE(j["reason"].get<std::string>().find("NoneYES.BIN"), std::string::npos) << j.dump(1);
    j = Check("http://school.example/", kMonday10, nullptr, " --fail open");
    EXPECT_EQ(j["verdict"], "allowed");
    EXPECT_EQ(j["rule"], "fail-open");

    // A damaged database is refused, never read past its end.
    fixture->install.writeFile(fixture->install.file("NoneYES.BIN"), std::string(600, 'V'));
    j = Check("http://school.example/", kMonday10);
    EXPECT_EQ(j["rule"], "fail-closed");
}

}  // namespace
