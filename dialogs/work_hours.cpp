#include "dialogs/work_hours.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dialogs/console.h"
#include "platform/process_state.h"
#include "platform/profile.h"
#include "policy/policy.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/settings_store.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/help.h"
#include "ui/message_box.h"

namespace dialogs {
namespace {

constexpr int kSaveButton = 1201;
constexpr int kCancelButton = 1021;
constexpr int kHelpButton = 1215;
constexpr ui::UINT kHelpContext = 134;
constexpr int kInvalidTimesString = 2440;
constexpr int kEndOfDay = 96;

// The four period values, in the order the range repair and Save compare them.
enum Field { kAmStart, kAmEnd, kPmStart, kPmEnd, kFieldCount };

struct FieldControls {
    int timeControl;  // the static that shows the time
    int earlier;      // "«" button
    int later;        // "»" button
    int lowest;       // step limits of the buttons
    int highest;
    int settingKey;
};
constexpr std::array<FieldControls, kFieldCount> kFields{{
    {410, 7166, 7165, 0, 93, settings::kKeyAmStart},
    {411, 7167, 7168, 1, 94, settings::kKeyAmEnd},
    {403, 7170, 7169, 2, 94, settings::kKeyPmStart},
    {405, 7171, 7172, 3, 95, settings::kKeyPmEnd},
}};

// One press of an arrow: which value moves, which way, and the command posted when the
// move leaves the periods out of order.
enum class FollowWhen { kNever, kAtOrAboveNext, kAboveNext, kAtOrBelowPrevious };
struct ArrowSpec {
    int id;
    Field field;
    int step;
    FollowWhen when;
    int followUp;
};
constexpr std::array<ArrowSpec, 8> kArrows{{
    {7165, kAmStart, +1, FollowWhen::kAtOrAboveNext, 7168},
    {7166, kAmStart, -1, FollowWhen::kNever, 0},
    {7167, kAmEnd, -1, FollowWhen::kAtOrBelowPrevious, 7166},
    {7168, kAmEnd, +1, FollowWhen::kAboveNext, 7169},
    {7169, kPmStart, +1, FollowWhen::kAtOrAboveNext, 7172},
    {7170, kPmStart, -1, FollowWhen::kAtOrBelowPrevious, 7167},
    {7171, kPmEnd, -1, FollowWhen::kAtOrBelowPrevious, 7170},
    {7172, kPmEnd, +1, FollowWhen::kNever, 0},
}};

// The day boxes in day order, Sunday first.
constexpr std::array<int, 7> kDayBoxes{467, 468, 469, 470, 471, 472, 466};

// The period values the dialog last accepted when it opened, for the life of the program.
struct WorkHoursState {
    std::array<std::uint16_t, kFieldCount> lastValid{33, 48, 52, 69};
};
WorkHoursState g_state;
void ResetWorkHours() {
    g_state = WorkHoursState{};
}
const platform::StateReset kResetWorkHours{platform::StateLayer::kDialogs, &ResetWorkHours};

std::uint16_t& ModelValue(Field field) {
    policy::FilterPolicy& p = policy::Policy().policy;
    switch (field) {
        case kAmStart:
            return p.amStart;
        case kAmEnd:
            return p.amEnd;
        case kPmStart:
            return p.pmStart;
        default:
            return p.pmEnd;
    }
}

// Each value must lie between the one before it (as repaired) and the end of the day; a
// value that does not is replaced by the last one accepted.
void RepairRanges() {
    for (int f = 0; f < kFieldCount; ++f) {
        const Field field = static_cast<Field>(f);
        int lowest = 0;
        if (field == kAmEnd) lowest = ModelValue(kAmStart) + 1;
        if (field == kPmStart) lowest = ModelValue(kAmEnd);
        if (field == kPmEnd) lowest = ModelValue(kPmStart) + 1;
        std::uint16_t& value = ModelValue(field);
        if (value >= lowest && value <= kEndOfDay)
            g_state.lastValid[f] = value;
        else
            value = g_state.lastValid[f];
    }
}

// An arrow is usable while its value has not reached the arrow's limit (a value the
// repair let past the limit counts as at it).
void RefreshArrows(ui::HWND dialog, Field field) {
    const FieldControls& controls = kFields[field];
    const int value = ModelValue(field);
    ui::EnableWindow(ui::GetDlgItem(dialog, controls.earlier), value > controls.lowest);
    ui::EnableWindow(ui::GetDlgItem(dialog, controls.later), value < controls.highest);
}

void ShowField(ui::HWND dialog, Field field) {
    FormatQuarterHour(dialog, kFields[field].timeControl, ModelValue(field));
    RefreshArrows(dialog, field);
}

void Initialise(ui::HWND dialog) {
    Console().timerBusy = true;
    RepairRanges();
    for (int f = 0; f < kFieldCount; ++f) ShowField(dialog, static_cast<Field>(f));
    const std::string& days = policy::Policy().policy.days;
    for (std::size_t d = 0; d < kDayBoxes.size(); ++d)
        ui::CheckDlgButton(dialog, kDayBoxes[d],
                           d < days.size() && days[d] == '0' ? ui::BST_CHECKED : ui::BST_UNCHECKED);
    Console().timerBusy = false;
}

void PressArrow(ui::HWND dialog, const ArrowSpec& arrow) {
    const FieldControls& controls = kFields[arrow.field];
    std::uint16_t& value = ModelValue(arrow.field);
    if (arrow.step > 0 ? value >= controls.highest : value <= controls.lowest) return;
    value = static_cast<std::uint16_t>(value + arrow.step);
    ShowField(dialog, arrow.field);

    bool follow = false;
    switch (arrow.when) {
        case FollowWhen::kNever:
            break;
        case FollowWhen::kAtOrAboveNext:
            follow = value >= ModelValue(static_cast<Field>(arrow.field + 1));
            break;
        case FollowWhen::kAboveNext:
            follow = value > ModelValue(static_cast<Field>(arrow.field + 1));
            break;
        case FollowWhen::kAtOrBelowPrevious:
            follow = value <= ModelValue(static_cast<Field>(arrow.field - 1));
            break;
    }
    // Posted, so that a chain of moves runs through the dialog's own queue.
    if (follow)
        ui::PostMessage(dialog, ui::WM_COMMAND, ui::MAKEWPARAM(arrow.followUp, ui::BN_CLICKED),
                        static_cast<ui::LPARAM>(ui::GetDlgItem(dialog, arrow.followUp)));
}

void Save(ui::HWND dialog) {
    const int amStart = ModelValue(kAmStart), amEnd = ModelValue(kAmEnd);
    const int pmStart = ModelValue(kPmStart), pmEnd = ModelValue(kPmEnd);
    if (!(amStart < amEnd && amEnd <= pmStart && pmStart < pmEnd && pmEnd <= kEndOfDay)) {
        ui::MessageBox(0, resources::LoadStr(kInvalidTimesString),
                       resources::LoadStr(resources::kMessageCaptionString), ui::MB_OK);
        return;
    }
    bool stored = true;
    for (int f = 0; f < kFieldCount; ++f)
        stored &= settings::WriteSetting(kFields[f].settingKey, {},
                                         std::to_string(ModelValue(static_cast<Field>(f)))) == 1;
    std::string days;
    for (int box : kDayBoxes)
        days += ui::IsDlgButtonChecked(dialog, box) == ui::BST_CHECKED ? '0' : '1';
    stored &= settings::WriteSetting(settings::kKeyDaysOfOperation, {}, days) == 1;
    if (!stored) {
        // The dialog stays open with what was entered; Cancel puts the stored hours back.
        ReportSettingsNotSaved(dialog);
        return;
    }
    policy::Policy().policy.days = days;
    ui::EndDialog(dialog, 1);
}

// Undoes the arrows: the period values come back from the settings.
void Cancel(ui::HWND dialog) {
    for (int f = 0; f < kFieldCount; ++f)
        ModelValue(static_cast<Field>(f)) = static_cast<std::uint16_t>(
            settings::DecimalValue(settings::ReadTableSetting(kFields[f].settingKey)));
    ui::EndDialog(dialog, 0);
}

ui::INT_PTR WorkHoursProc(ui::HWND dialog, ui::UINT message, ui::WPARAM wParam, ui::LPARAM) {
    switch (message) {
        case ui::WM_INITDIALOG:
            Initialise(dialog);
            return 1;
        case ui::WM_COMMAND: {
            const int id = ui::LOWORD(wParam);
            for (const ArrowSpec& arrow : kArrows) {
                if (arrow.id == id) {
                    PressArrow(dialog, arrow);
                    return 1;
                }
            }
            switch (id) {
                case kSaveButton:
                    Save(dialog);
                    return 1;
                case kCancelButton:
                case ui::IDCANCEL:
                    Cancel(dialog);
                    return 1;
                case kHelpButton:
                    ui::WinHelp(dialog, kHelpFile, kHelpContext);
                    return 1;
                default:
                    return 0;
            }
        }
        default:
            return 0;
    }
}

}  // namespace

ui::INT_PTR RunWorkHoursDialog(ui::HWND owner) {
    return RunDialogResource("WORKHOUR", owner, WorkHoursProc) == 1 ? 1 : 0;
}

void FormatQuarterHour(ui::HWND dialog, int control, int quarter) {
    ui::SetDlgItemText(dialog, control, FormatTime(quarter / 4, (quarter % 4) * 15));
}

std::string FormatTime(int hour, int minute) {
    // A missing or empty separator would end the text after the hour: a colon stands in.
    const std::string sTime = platform::GetProfileString("intl", "sTime", "");
    const char separator = sTime.empty() ? ':' : sTime[0];
    const std::string suffix =
        platform::GetProfileString("intl", hour < 12 ? "s1159" : "s2359", "").substr(0, 9);
    const bool leadingZero =
        settings::DecimalValue(platform::GetProfileString("intl", "iTLZero", "0")) != 0;
    const bool twentyFour =
        settings::DecimalValue(platform::GetProfileString("intl", "iTime", "0")) != 0;

    // Midnight is 12 on the 12-hour clock; the 24-hour clock shows it as 0.
    int shown = hour;
    if (!twentyFour && hour == 0)
        shown = 12;
    else if (!twentyFour && hour > 12)
        shown = hour - 12;
    char text[64];
    std::snprintf(text, sizeof text, leadingZero ? "%02d%c%02d%s" : "%d%c%02d%s", shown, separator,
                  minute, suffix.c_str());
    return text;
}

}  // namespace dialogs
