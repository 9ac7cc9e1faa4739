// When the category lists are due for download: every 7 days (string 26) after the last
// successful fetch of each list, kept as day numbers in QTXPNDLD and QTXPYDLD, and at once
// when a list file (or the replacement named by QTXPCBRF / QTXLCBRF) is missing.
//
// Day numbers count from 1 January 1995 (day 1), with February taken as 28 days in every
// year; the days before each year follow the calendar (366 in leap years).
#pragma once

namespace update {

struct ScheduleState {
    int DownloadDue = 0;  // set by the due test; cleared when an update runs
};
ScheduleState& Schedule();
void ResetSchedule();

// Runs the due test and returns DownloadDue.
int CheckDownloadDue();
// 1 when the list whose day setting is `dayKey` has run out its interval (and sets
// DownloadDue). An empty day setting is written as today + 1 - interval.
int ListDownloadIsDue(int dayKey);
// Today's day number from the local date (platform/clock.h).
int DayNumber();
// The day number of a date.
int DayNumberOf(int year, int month, int day);

}  // namespace update
