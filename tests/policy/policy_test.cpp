#include "policy/policy.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"

namespace {

using namespace policy;
using namespace settings;

class PolicyTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;

    // Sets the clock to a day of the week (0 = Sunday) and a time.
    void SetClock(int weekday, int hour, int minute) {
        platform::SetLocalClock([=] {
            std::tm tm{};
            tm.tm_year = 126;
            tm.tm_wday = weekday;
            tm.tm_hour = hour;
            tm.tm_min = minute;
            return tm;
        });
    }
    void TearDown() override { platform::SetLocalClock({}); }
};

TEST_F(PolicyTest, PublicationWritesEveryDefaultAndFillsTheModel) {
    PublishPolicy({.values = true});
    struct Case {
        int id;
        std::string value;
    };
    const Case cases[] = {
        {kKeyNormalDataFile, install.file("VeldaNOT.BIN")},
        {kKeyLeisureDataFile, install.file("VeldaYES.BIN")},
        {kKeyNoneNotFile, install.file("NoneNOT.BIN")},
        {kKeyNoneYesFile, install.file("NoneYES.BIN")},
        {kKeyNormalContent, "16383"},
        {kKeyLeisureContent, "16383"},
        {kKeyNormalWeb, "1"},
        {kKeyLeisureWeb, "1"},
        {kKeyNormalVeldaYes, "0"},
        {kKeyLeisureVeldaYes, "0"},
        {kKeyAmStart, "33"},
        {kKeyAmEnd, "48"},
        {kKeyPmStart, "52"},
        {kKeyPmEnd, "69"},
        {kKeyDaysOfOperation, "0111110"},
        {kKeyLogSites, "0"},
        {kKeyRedirectedSite, "http://www.veldana.example/proxy/restrict.htm"},
        {kKeyDataChanged, "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadSetting(c.id), c.value) << c.id;
    // Values the publication does not own stay unwritten.
    EXPECT_EQ(ReadSetting(kKeyNormalNews, {}, "none"), "none");
    EXPECT_EQ(ReadSetting(kKeyBinChanged, {}, "none"), "none");

    const FilterPolicy& p = Policy().policy;
    EXPECT_EQ(p.workMask, 16383);
    EXPECT_EQ(p.leisureMask, 16383);
    EXPECT_EQ(p.workWeb, kWebFiltered);
    EXPECT_EQ(p.amStart, 33);
    EXPECT_EQ(p.pmEnd, 69);
    EXPECT_EQ(p.days, "0111110");
    EXPECT_EQ(p.redirectPage, DefaultBlockPage());
}

TEST_F(PolicyTest, PublicationKeepsStoredValuesCutToTheirLength) {
    WriteSetting(kKeyNormalContent, {}, "5");
    WriteSetting(kKeyLeisureWeb, {}, "3");
    WriteSetting(kKeyAmStart, {}, "30x");
    WriteSetting(kKeyLeisureContent, {}, "65535999");  // kept: "655359" -> 16-bit field
    WriteSetting(kKeyDaysOfOperation, {}, "1111111extra");
    PublishPolicy({.values = true});
    const FilterPolicy& p = Policy().policy;
    EXPECT_EQ(p.workMask, 5);
    EXPECT_EQ(p.leisureWeb, kWebNone);
    EXPECT_EQ(p.amStart, 30);
    EXPECT_EQ(ReadSetting(kKeyAmStart), "30x");
    EXPECT_EQ(ReadSetting(kKeyLeisureContent), "655359");
    EXPECT_EQ(p.leisureMask, static_cast<std::uint16_t>(655359));
    EXPECT_EQ(ReadSetting(kKeyDaysOfOperation), "1111111e");
}

TEST_F(PolicyTest, ShortBlockPagesAreReplacedByTheDefault) {
    struct Case {
        std::string stored;
        std::string published;
    };
    const Case cases[] = {
        {"http://", DefaultBlockPage()},         // 7 characters
        {"http://x", "http://x"},                // 8 characters stay
        {"", DefaultBlockPage()},
        {std::string(80, 'u'), std::string(64, 'u')},  // kept to 64
    };
    for (const auto& c : cases) {
        WriteSetting(kKeyRedirectedSite, {}, c.stored);
        PublishPolicy({.values = true});
        EXPECT_EQ(ReadSetting(kKeyRedirectedSite), c.published) << c.stored;
        EXPECT_EQ(Policy().policy.redirectPage, c.published);
    }
}

TEST_F(PolicyTest, BlockPageHostIsADeploymentValue) {
    install.writeFile(install.file("STRINGS.INI"), "[strings]\n9000=filter.corp.example\n");
    PublishPolicy({.values = true});
    EXPECT_EQ(ReadSetting(kKeyRedirectedSite), "http://filter.corp.example/proxy/restrict.htm");
}

TEST_F(PolicyTest, LeisureTimeRule) {
    PublishPolicy({.values = true});
    struct Case {
        int weekday, hour, minute;
        int leisure;
    };
    const Case cases[] = {
        {1, 8, 14, 1},  {1, 8, 15, 0},   // AM_Start = 33 is work time
        {1, 11, 59, 0}, {1, 12, 0, 1},   // AM_End = 48 is leisure
        {1, 12, 59, 1}, {1, 13, 0, 0},   // PM_Start = 52
        {1, 17, 14, 0}, {1, 17, 15, 1},  // PM_End = 69
        {1, 0, 0, 1},   {5, 23, 59, 1},
        {0, 10, 0, 1},  {6, 10, 0, 1},   // weekend days are leisure all day
        {3, 10, 0, 0},
    };
    for (const auto& c : cases) {
        SetClock(c.weekday, c.hour, c.minute);
        EXPECT_EQ(IsLeisureTimeNow(), c.leisure) << c.weekday << " " << c.hour << ":" << c.minute;
    }
    // The periods are read from the settings at every call.
    WriteSetting(kKeyAmStart, {}, "0");
    SetClock(1, 0, 0);
    EXPECT_EQ(IsLeisureTimeNow(), 0);
}

TEST_F(PolicyTest, StoringChoicesWritesWebAccessAndOnlyAChangedMask) {
    PublishPolicy({.values = true});
    WriteSetting(kKeyNormalContent, {}, "");  // gone: only a changed mask is written

    PeriodChoices same;
    for (int i = 0; i < 14; ++i) same.categories[i] = true;  // 16383, the default
    StoreWorkChoices(same);
    EXPECT_EQ(ReadSetting(kKeyNormalContent, {}, "absent"), "absent");
    EXPECT_EQ(ReadSetting(kKeyNormalWeb), "1");
    EXPECT_EQ(ReadSetting(kKeyNormalNews), "1");
    EXPECT_EQ(Policy().policy.workMask, 16383);

    PeriodChoices changed;
    changed.fullButton = true;
    changed.categories[0] = changed.categories[15] = true;
    StoreLeisureChoices(changed);
    EXPECT_EQ(ReadSetting(kKeyLeisureContent), "32769");
    EXPECT_EQ(ReadSetting(kKeyLeisureWeb), "2");
    EXPECT_EQ(ReadSetting(kKeyLeisureNews), "2");
    EXPECT_EQ(Policy().policy.leisureMask, 32769);

    changed.noneButton = true;  // "None" wins over "Full"
    StoreLeisureChoices(changed);
    EXPECT_EQ(ReadSetting(kKeyLeisureWeb), "3");
    EXPECT_EQ(ReadSetting(kKeyNormalWeb), "1") << "the other period is untouched";
}

TEST(DecimalValueTest, ReadsLikeAtoiWithoutOverflow) {
    struct Case {
        const char* text;
        long value;
    };
    const Case cases[] = {{"16383", 16383}, {"", 0},     {"x1", 0},   {" 42x", 42},
                          {"-3", -3},       {"+7", 7},   {"007", 7},
                          {"99999999999999999999999", LONG_MAX}};
    for (const auto& c : cases) EXPECT_EQ(settings::DecimalValue(c.text), c.value) << c.text;
}

}  // namespace
