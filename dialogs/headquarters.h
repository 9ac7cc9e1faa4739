// The Headquarters dialog "SURF", where the administrator edits the policy of one period at
// a time (web access, category list, categories) and reaches every other dialog; the proxy
// server dialog "PROXY"; the date formats; the calls into the privacy-profile library.
//
// The dialog publishes itself as Console().headquartersWindow while it is open; the main
// window's timer hands that window to RefreshPeriod every minute.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/types.h"

namespace dialogs {

// Runs the dialog modally with the main window as owner; 0 when it ends.
ui::INT_PTR RunHeadquartersDialog(ui::HWND owner);
// Shows the period in force now and, when it is not the one viewed, switches to it. Called
// by the main window's timer while the dialog is open. While edits are pending the switch
// waits (only the frames follow the clock), so that no unsaved edit is silently replaced.
void RefreshPeriod(ui::HWND headquarters);

enum class Period { kWork, kLeisure };
// The list selection box, the list date and the labels of the list in use in `period`.
void ShowListInfo(ui::HWND headquarters, Period period);
// The web access buttons, the category group (labels, checks, enabled state) and the
// dialog's height (the group hides for the additional-only selections) of `period`.
void ShowPeriodSettings(ui::HWND headquarters, Period period);

// Runs the proxy server dialog modally: 1 after Save, 0 after Cancel.
ui::INT_PTR RunProxyDialog(ui::HWND owner);

// A date in the system's short date format (sShortDate of section "intl" of WIN.INI).
std::string FormatShortDate(int day, int month, int year);
enum class DosDateStyle { kShortDate = 1, kDigits = 3, kTimeDigits = 4 };
// A 16-bit DOS date (or, with kTimeDigits, DOS time) as text: kShortDate as
// FormatShortDate, kDigits "YYYYMMDD", kTimeDigits "HHMMSS".
std::string FormatDosDate(std::uint16_t value, DosDateStyle style);

// The privacy-profile library: a shared object of this exact name in the program
// directory, loaded for each call and released after it.
inline constexpr const char* kPrivacyProfileLibrary = "VDpIpUI.dll";
inline constexpr const char* kPrivacyProfileDialogEntry = "IpUIDialog";  // the Groups button
inline constexpr const char* kPrivacyProfileMaskEntry = "UpdGrpMask";    // after a Save

// The contract of both entries, for whoever writes such a library. In C:
//
//     int IpUIDialog(uint32_t owner, uint32_t *policyWords);
//     int UpdGrpMask(uint32_t owner, uint32_t *policyWords);
//
// `owner` is the window handle of the Headquarters dialog. `policyWords` points at two words,
// [0] for work time and [1] for leisure time, each
//     (list selection * 256 + web access) * 65536 + category mask
// (list selection 0..3, web access 1 filtered, 2 full, 3 none, the 16-bit category mask),
// valid only during the call; what the library writes there is not read back. The result
// is not used. The call runs on the GUI thread and may run its own dialog.
extern "C" typedef int PrivacyProfileEntry(std::uint32_t owner, std::uint32_t* policyWords);

// Calls `entry` of the privacy-profile library with the owner and the two policy words;
// says so in a message box (8300, 8301) when the library or its entry is missing.
void CallPrivacyProfile(ui::HWND owner, std::string_view entry);

}  // namespace dialogs
