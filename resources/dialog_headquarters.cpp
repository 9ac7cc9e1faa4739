#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

using namespace ui;

// The Headquarters dialog: the bitmap and the period in force on the left, the status, the
// list choice and the web access in the middle, the command buttons on the right, and the
// category group across the bottom, so that hiding the group (the additional-only lists)
// cuts nothing else off. The dialog ends 9 pixels below the group, which is where growing it
// back after a hide puts its bottom.
DialogTemplate HeadquartersTemplate() {
    DialogTemplate t;
    t.name = "SURF";
    t.caption = "Veldana - Proxy Headquarters";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    t.x = 20;
    t.y = 20;
    t.cx = 316;
    t.cy = 254;
    constexpr std::uint32_t kShown = WS_VISIBLE;
    constexpr std::uint32_t kButton = BS_PUSHBUTTON | WS_TABSTOP | kShown;
    constexpr std::uint32_t kCheck = BS_AUTOCHECKBOX | WS_TABSTOP | kShown;
    t.controls = {
        // Left: the bitmap (a click opens the About box) and the two periods, each in a
        // frame that shows while its period is in force.
        {"BUTTON", 1237, "", BS_OWNERDRAW | WS_TABSTOP | kShown, 6, 6, 57, 37},
        {"STATIC", 7177, "", SS_GRAYFRAME | kShown, 6, 52, 60, 16},
        {"STATIC", 7178, "", SS_GRAYFRAME | kShown, 6, 72, 60, 16},
        {"BUTTON", 1261, "&Work Time", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | kShown, 11, 55,
         52, 10},
        {"BUTTON", 1262, "&Leisure Time", BS_AUTORADIOBUTTON | kShown, 11, 75, 52, 10},

        // Middle: status line, list choice with its date, web access.
        {"STATIC", 1231, "", SS_CENTER | SS_SUNKEN | WS_GROUP | kShown, 72, 6, 162, 10},
        {"COMBOBOX", 7163, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_GROUP | WS_TABSTOP | kShown, 72,
         20, 162, 12},
        {"STATIC", 7007, "Last Updated:", SS_LEFT | kShown, 72, 38, 50, 8},
        {"STATIC", 1240, "", SS_LEFT | kShown, 124, 38, 110, 8},
        {"BUTTON", 531, "&Full", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | kShown, 76, 54, 60,
         10},
        {"BUTTON", 532, "&None", BS_AUTORADIOBUTTON | kShown, 76, 66, 60, 10},
        {"BUTTON", 530, "F&iltered", BS_AUTORADIOBUTTON | kShown, 76, 78, 60, 10},

        // Right: the commands.
        {"BUTTON", 1201, "Sa&ve", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | kShown, 242, 6, 68,
         14},
        {"BUTTON", 1024, "&Update Lists", kButton, 242, 22, 68, 14},
        {"BUTTON", 1221, "We&b Sites", kButton, 242, 38, 68, 14},
        {"BUTTON", 1223, "Filter &Domains", kButton, 242, 54, 68, 14},
        {"BUTTON", 8000, "&Groups", kButton, 242, 70, 68, 14},
        {"BUTTON", 7055, "&Change Hours", kButton, 242, 86, 68, 14},
        {"BUTTON", 1216, "&Proxy Server Setup", kButton, 242, 102, 68, 14},
        {"BUTTON", 1215, "&Help", kButton, 242, 118, 68, 14},

        // Bottom: the categories, two columns of eight.
        {"BUTTON", 7153, "", BS_GROUPBOX | WS_GROUP | kShown, 6, 138, 304, 111},
    };
    for (int i = 0; i < 16; ++i) {
        const int column = i / 8, row = i % 8;
        t.controls.push_back({"BUTTON", 10001 + i, "", kCheck | (i == 0 ? WS_GROUP : 0u),
                              14 + column * 150, 151 + row * 12, 142, 10});
    }
    return t;
}

// The proxy server through which the list update reaches the update servers.
DialogTemplate ProxyTemplate() {
    DialogTemplate t;
    t.name = "PROXY";
    t.caption = "Proxy Server Setup";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    t.x = 40;
    t.y = 40;
    t.cx = 232;
    t.cy = 68;
    constexpr std::uint32_t kEdit = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE;
    constexpr std::uint32_t kButton = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;
    t.controls = {
        {"STATIC", IDC_STATIC, "Proxy Server Address:", SS_LEFT | WS_VISIBLE, 8, 10, 78, 8},
        {"EDIT", 1039, "", kEdit, 88, 8, 136, 12},
        {"STATIC", IDC_STATIC, "Proxy Server Port:", SS_LEFT | WS_VISIBLE, 8, 28, 78, 8},
        {"EDIT", 1126, "", kEdit, 88, 26, 40, 12},
        {"BUTTON", 1201, "&Save Changes", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 8,
         48, 68, 14},
        {"BUTTON", 1021, "&Cancel", kButton, 82, 48, 68, 14},
        {"BUTTON", 1215, "&Help", kButton, 156, 48, 68, 14},
    };
    return t;
}

}  // namespace resources
