#include "ui/help.h"

#include <cstdio>

#include "ui/display.h"

namespace ui {

BOOL WinHelp(HWND /*owner*/, std::string_view file, UINT context) {
    if (Display* display = CurrentDisplay(); display && display->ShowHelp(file, context))
        return TRUE;
    std::fprintf(stderr, "veldana: help %.*s, context %u, not shown: no display shows help\n",
                 static_cast<int>(file.size()), file.data(), context);
    return FALSE;
}

}  // namespace ui
