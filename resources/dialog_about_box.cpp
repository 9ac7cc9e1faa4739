#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

// The About box: the product title, version and installation source code beside the
// icon, the frame the credits scroll through, and Ok.
ui::DialogTemplate AboutBoxTemplate() {
    using namespace ui;
    DialogTemplate t;
    t.name = "AboutBox";
    t.caption = "About Veldana";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.fontName = "System";
    t.pointSize = 8;
    t.x = 40;
    t.y = 30;
    t.cx = 200;
    t.cy = 150;
    t.controls = {
        {"STATIC", 7014, "SURFICON", SS_ICON | WS_VISIBLE, 10, 8, 21, 20},
        {"STATIC", 7161, "Veldana - Proxy for Windows", SS_CENTER | SS_NOPREFIX | WS_VISIBLE, 36, 8,
         128, 10},
        {"STATIC", 1259, "", SS_CENTER | SS_NOPREFIX | WS_VISIBLE, 36, 20, 128, 10},
        {"STATIC", 7236, "SURFICON", SS_ICON | WS_VISIBLE, 169, 8, 21, 20},
        {"STATIC", IDC_STATIC, "Source:", SS_RIGHT | WS_VISIBLE, 36, 34, 50, 10},
        {"STATIC", 7006, "", SS_LEFT | SS_NOPREFIX | WS_VISIBLE, 90, 34, 100, 10},
        {"STATIC", 7015, "", SS_GRAYFRAME | WS_VISIBLE, 10, 48, 180, 76},
        {"BUTTON", 1023, "&Ok", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP | WS_VISIBLE, 75, 130, 50,
         14},
    };
    return t;
}

}  // namespace resources
