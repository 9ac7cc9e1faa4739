// Help: a help file opened at a context number, shown by the display in use. With no
// display, or one that cannot show help, nothing is shown and a line on standard error
// says which page was asked for.
#pragma once

#include <string_view>

#include "ui/types.h"

namespace ui {

// Opens `file` (as the console names it, "VDP.HLP") at `context`; TRUE when a display
// showed it.
BOOL WinHelp(HWND owner, std::string_view file, UINT context);

}  // namespace ui
