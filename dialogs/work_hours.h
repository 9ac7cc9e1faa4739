// The work-hours dialog "WORKHOUR": the two work periods of the day (morning and afternoon,
// each from a start to an end quarter hour) and the days of the week without work time.
#pragma once

#include <string>

#include "ui/types.h"

namespace dialogs {

// Runs the dialog modally: 1 after a successful Save, 0 after Cancel.
ui::INT_PTR RunWorkHoursDialog(ui::HWND owner);
// Sets the control's text to FormatTime of quarter hour q (hour q / 4, minute (q % 4) * 15).
void FormatQuarterHour(ui::HWND dialog, int control, int quarter);
// A time of day in the system's time format (section "intl" of WIN.INI: sTime, s1159,
// s2359, iTLZero, iTime). Without a separator a colon is used; midnight shows as 12 on the
// 12-hour clock and as 0 on the 24-hour one.
std::string FormatTime(int hour, int minute);

}  // namespace dialogs
