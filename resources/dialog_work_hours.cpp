#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

// The work-hours dialog: a row per work period, each with its start and end time between
// a "«" (one quarter hour earlier) and a "»" (later) button; the weekdays without work
// time; Save, Cancel and Help.
ui::DialogTemplate WorkHoursTemplate() {
    using namespace ui;
    constexpr std::uint32_t kArrow = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;
    constexpr std::uint32_t kTime = SS_CENTER | SS_SUNKEN | SS_NOPREFIX | WS_VISIBLE;
    constexpr std::uint32_t kLabel = SS_RIGHT | WS_VISIBLE;
    constexpr std::uint32_t kDay = BS_AUTOCHECKBOX | WS_TABSTOP | WS_VISIBLE;
    DialogTemplate t;
    t.name = "WORKHOUR";
    t.caption = "Work / Leisure Time";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.fontName = "System";
    t.pointSize = 8;
    t.x = 40;
    t.y = 30;
    t.cx = 222;
    t.cy = 138;
    t.controls = {
        {"BUTTON", IDC_STATIC, "Morning Work Period (in 15 min. increments)",
         BS_GROUPBOX | WS_VISIBLE, 7, 6, 208, 32},
        {"STATIC", IDC_STATIC, "&From:", kLabel, 12, 21, 24, 8},
        {"BUTTON", 7166, "«", kArrow | WS_GROUP, 38, 19, 14, 12},
        {"STATIC", 410, "", kTime, 54, 20, 40, 10},
        {"BUTTON", 7165, "»", kArrow, 96, 19, 14, 12},
        {"STATIC", IDC_STATIC, "&To:", kLabel, 114, 21, 20, 8},
        {"BUTTON", 7167, "«", kArrow, 136, 19, 14, 12},
        {"STATIC", 411, "", kTime, 152, 20, 40, 10},
        {"BUTTON", 7168, "»", kArrow, 194, 19, 14, 12},

        {"BUTTON", IDC_STATIC, "Afternoon Work Period (in 15 min. increments)",
         BS_GROUPBOX | WS_VISIBLE, 7, 42, 208, 32},
        {"STATIC", IDC_STATIC, "&From:", kLabel, 12, 57, 24, 8},
        {"BUTTON", 7170, "«", kArrow | WS_GROUP, 38, 55, 14, 12},
        {"STATIC", 403, "", kTime, 54, 56, 40, 10},
        {"BUTTON", 7169, "»", kArrow, 96, 55, 14, 12},
        {"STATIC", IDC_STATIC, "&To:", kLabel, 114, 57, 20, 8},
        {"BUTTON", 7171, "«", kArrow, 136, 55, 14, 12},
        {"STATIC", 405, "", kTime, 152, 56, 40, 10},
        {"BUTTON", 7172, "»", kArrow, 194, 55, 14, 12},

        {"BUTTON", IDC_STATIC, "Work Periods EXCLUDED on:", BS_GROUPBOX | WS_VISIBLE, 7, 78, 208,
         30},
        {"BUTTON", 467, "Sun.", kDay | WS_GROUP, 13, 92, 28, 10},
        {"BUTTON", 468, "Mon.", kDay, 42, 92, 28, 10},
        {"BUTTON", 469, "Tue.", kDay, 71, 92, 28, 10},
        {"BUTTON", 470, "Wed.", kDay, 100, 92, 28, 10},
        {"BUTTON", 471, "Thu.", kDay, 129, 92, 28, 10},
        {"BUTTON", 472, "Fri.", kDay, 158, 92, 28, 10},
        {"BUTTON", 466, "Sat.", kDay, 187, 92, 26, 10},

        {"BUTTON", 1201, "&Save Changes", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP | WS_VISIBLE, 7,
         116, 64, 14},
        {"BUTTON", 1021, "&Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 79, 116, 64, 14},
        {"BUTTON", 1215, "&Help", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 151, 116, 64, 14},
    };
    return t;
}

}  // namespace resources
