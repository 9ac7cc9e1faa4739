#include "update/download_schedule.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/process_state.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"

namespace update {
namespace {

ScheduleState g_schedule;

constexpr int kIntervalString = 26;  // days between automatic downloads
constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int Interval() { return static_cast<int>(settings::DecimalValue(resources::LoadStr(kIntervalString))); }

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1 January 1995 to 1 January of `year` (negative before 1995).
int DaysBeforeYear(int year) {
    int days = 0;
    for (int y = 1995; y < year; ++y) days += IsLeapYear(y) ? 366 : 365;
    for (int y = year; y < 1995; ++y) days -= IsLeapYear(y) ? 366 : 365;
    return days;
}

// A replacement list named by the setting, when there is one, must exist.
bool ReplacementMissing(int key) {
    std::string name = settings::ReadTableSetting(key);
    settings::SetListName(name);
    return !name.empty() &&
           settings::OpenCatalogueFile(settings::kFileNamedList, settings::kModeExists) == 0;
}

bool Missing(int fileId) { return settings::OpenCatalogueFile(fileId, settings::kModeExists) == 0; }

}  // namespace

ScheduleState& Schedule() { return g_schedule; }
void ResetSchedule() { g_schedule = ScheduleState{}; }
namespace {
const platform::StateReset kResetSchedule{platform::StateLayer::kUpdate, &ResetSchedule};
}  // namespace

int DayNumberOf(int year, int month, int day) {
    int days = DaysBeforeYear(year);
    for (int m = 1; m < month && m <= 12; ++m) days += kMonthDays[m - 1];
    return days + day;
}

int DayNumber() {
    std::tm now = platform::LocalNow();
    return DayNumberOf(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
}

int ListDownloadIsDue(int dayKey) {
    int interval = Interval();
    std::string text = settings::ReadTableSetting(dayKey);
    long last;
    if (text.empty()) {
        last = DayNumber() + 1 - interval;
        char value[24];
        std::snprintf(value, sizeof value, "%u", static_cast<unsigned>(last));
        settings::WriteSetting(dayKey, {}, value);
    } else {
        last = settings::DecimalValue(text);
    }
    if (DayNumber() - last >= interval) {
        g_schedule.DownloadDue = 1;
        return 1;
    }
    return 0;
}

int CheckDownloadDue() {
    if (Interval() == 0) return g_schedule.DownloadDue;
    if (ReplacementMissing(settings::kKeyNotListReplacement) || Missing(settings::kFileVeldaNot) ||
        ReplacementMissing(settings::kKeyYesListReplacement) || Missing(settings::kFileVeldaYes)) {
        g_schedule.DownloadDue = 1;
        return 1;
    }
    if (!ListDownloadIsDue(settings::kKeyNotDownloadDay))
        ListDownloadIsDue(settings::kKeyYesDownloadDay);
    return g_schedule.DownloadDue;
}

}  // namespace update
