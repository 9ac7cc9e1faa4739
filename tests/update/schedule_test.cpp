#include <gtest/gtest.h>

#include <chrono>

#include "platform/clock.h"
#include "resources/string_table.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "update/download_schedule.h"

namespace {

using namespace update;

// The local clock set to the date whose day number is `day`.
void SetDay(int day) {
    for (int y = 1995; y < 2200; ++y) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= 31; ++d) {
                if (DayNumberOf(y, m, d) != day) continue;
                platform::SetLocalClock([=] {
                    std::tm tm{};
                    tm.tm_year = y - 1900;
                    tm.tm_mon = m - 1;
                    tm.tm_mday = d;
                    tm.tm_hour = 12;
                    return tm;
                });
                return;
            }
        }
    }
}

TEST(DayNumberTest, CountsFromTheFirstOfJanuary1995) {
    struct Case {
        int y, m, d, day;
    };
    const Case cases[] = {{1995, 1, 1, 1},    {1998, 12, 31, 1461}, {1999, 1, 1, 1462},
                          {1996, 2, 29, 425}, {1996, 3, 1, 425},    {2004, 1, 1, 3288},
                          {2005, 1, 1, 3654}};
    for (const auto& c : cases)
        EXPECT_EQ(DayNumberOf(c.y, c.m, c.d), c.day) << c.y << "-" << c.m << "-" << c.d;

    // Past the years a table would hold, each first of January follows the calendar.
    using namespace std::chrono;
    for (int y = 1995; y <= 2100; ++y) {
        int expected =
            static_cast<int>(
                (sys_days(year(y) / January / 1) - sys_days(year(1995) / January / 1)).count()) +
            1;
        ASSERT_EQ(DayNumberOf(y, 1, 1), expected) << y;
    }
}

class ScheduleTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    void SetUp() override {
        install.writeFile(install.file("VELDA.NOT"), "list");
        install.writeFile(install.file("VELDA.YES"), "list");
    }
    void TearDown() override { platform::SetLocalClock({}); }
};

TEST_F(ScheduleTest, AFreshInstallationCountsItsListsAsFetchedSixDaysAgo) {
    SetDay(2000);
    EXPECT_EQ(CheckDownloadDue(), 0);
    EXPECT_EQ(settings::ReadSetting(settings::kKeyNotDownloadDay), "1994");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyYesDownloadDay), "1994");
    SetDay(2001);
    EXPECT_EQ(CheckDownloadDue(), 1);
    EXPECT_EQ(Schedule().DownloadDue, 1) << "it stays set until an update runs";
}

TEST_F(ScheduleTest, EachListCountsItsOwnInterval) {
    settings::WriteSetting(settings::kKeyNotDownloadDay, {}, "1450");
    settings::WriteSetting(settings::kKeyYesDownloadDay, {}, "1456");
    SetDay(1456);
    EXPECT_EQ(CheckDownloadDue(), 0);
    SetDay(1457);
    EXPECT_EQ(ListDownloadIsDue(settings::kKeyYesDownloadDay), 0);
    EXPECT_EQ(CheckDownloadDue(), 1);
}

TEST_F(ScheduleTest, MissingListsMakeItDueAtOnceUnlessTheIntervalIsZero) {
    settings::WriteSetting(settings::kKeyNotDownloadDay, {}, "5000");
    settings::WriteSetting(settings::kKeyYesDownloadDay, {}, "5000");
    SetDay(5000);
    std::remove(install.file("VELDA.YES").c_str());
    EXPECT_EQ(CheckDownloadDue(), 1);

    ResetSchedule();
    install.writeFile(install.file("VELDA.YES"), "list");
    settings::WriteSetting(settings::kKeyNotListReplacement, {}, "MYLIST.NOT");
    EXPECT_EQ(CheckDownloadDue(), 1) << "the replacement list is missing";

    ResetSchedule();
    install.writeFile(install.file("MYLIST.NOT"), "list");
    EXPECT_EQ(CheckDownloadDue(), 0);

    ResetSchedule();
    install.writeFile(install.file("STRINGS.INI"), "[strings]\n26=0\n");
    resources::ResetStringTable();  // read at the next start
    std::remove(install.file("VELDA.NOT").c_str());
    SetDay(9000);
    EXPECT_EQ(CheckDownloadDue(), 0) << "interval 0: never due";
}

}  // namespace
