// The About box "AboutBox": product title, version, installation source code, and the
// credits that scroll through its frame when its icon is clicked.
#pragma once

#include "ui/types.h"

namespace dialogs {

// Runs the box modally with the main window as owner; ends with 1.
ui::INT_PTR RunAboutBox(ui::HWND owner);
// Runs the credits animation once in the frame control and returns when it is over.
void ScrollCredits(ui::HWND dialog, ui::HWND frame);

}  // namespace dialogs
