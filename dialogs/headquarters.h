// The Headquarters dialog "SURF", where the administrator edits the policy of one period at
// a time (web access, category list, categories) and reaches every other dialog; the proxy
// server dialog "PROXY"; the date formats; the calls into the privacy-profile library.
#pragma once

#include <cstdint>
#include <string>

#include "ui/types.h"

namespace dialogs {

// Runs the dialog modally with the main window as owner; 0 when it ends.
ui::INT_PTR RunHeadquartersDialog(ui::HWND owner);
// Shows the period in force now and, when it is not the one viewed, switches to it. Called
// by the main window's timer while the dialog is open.
void RefreshPeriod(ui::HWND headquarters);
// Runs the proxy server dialog modally: 1 after Save, 0 after Cancel.
ui::INT_PTR RunProxyDialog(ui::HWND owner);

// A date in the system's short date format (sShortDate of section "intl" of WIN.INI).
std::string FormatShortDate(int day, int month, int year);
enum class DosDateStyle { kShortDate = 1, kDigits = 3, kTimeDigits = 4 };
// A 16-bit DOS date (or, with kTimeDigits, DOS time) as text.
std::string FormatDosDate(std::uint16_t value, DosDateStyle style);

// Calls `entry` ("IpUIDialog", "UpdGrpMask") of the privacy-profile library VDpIpUI.dll
// (a shared object in the program directory) with the owner and the two policy words;
// says so in a message box when the library or its entry is missing.
void CallPrivacyProfile(ui::HWND owner, const char* entry);

}  // namespace dialogs
