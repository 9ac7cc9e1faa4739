#include "dialogs/headquarters.h"

namespace dialogs {
ui::INT_PTR RunHeadquartersDialog(ui::HWND) {
    return 0;
}
void RefreshPeriod(ui::HWND) {}
ui::INT_PTR RunProxyDialog(ui::HWND) {
    return 0;
}
std::string FormatShortDate(int, int, int) {
    return {};
}
std::string FormatDosDate(std::uint16_t, DosDateStyle) {
    return {};
}
void CallPrivacyProfile(ui::HWND, const char*) {}
}  // namespace dialogs
