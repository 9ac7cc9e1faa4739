#include "dialogs/about_box.h"

namespace dialogs {
ui::INT_PTR RunAboutBox(ui::HWND) {
    return 1;
}
void ScrollCredits(ui::HWND, ui::HWND) {}
}  // namespace dialogs
