#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

// The domain filter dialog: what a domain-name part is, the restricted and the approved
// parts (each an entry field over its sorted list), Save, Delete, Cancel and Help. The
// hidden default button makes Enter in an entry field add its text.
ui::DialogTemplate DomainTemplate() {
    using namespace ui;
    constexpr std::uint32_t kList =
        CBS_SIMPLE | CBS_SORT | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE;
    constexpr std::uint32_t kButton = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;
    DialogTemplate t;
    t.name = "DOMAIN";
    t.caption = "Domain Name Filter Setup";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.fontName = "System";
    t.pointSize = 8;
    t.x = 30;
    t.y = 20;
    t.cx = 270;
    t.cy = 210;
    t.controls = {
        {"STATIC", IDC_STATIC, "SURFICON", SS_ICON | WS_VISIBLE, 8, 8, 21, 20},
        {"STATIC", IDC_STATIC, "", SS_GRAYFRAME | WS_VISIBLE, 36, 6, 226, 30},
        {"STATIC", IDC_STATIC,
         "A domain name part stands for every site whose domain name ends in it: the filter "
         "restricts or approves all of them at once.",
         SS_LEFT | SS_NOPREFIX | WS_VISIBLE, 42, 10, 214, 22},
        {"STATIC", IDC_STATIC, "", SS_GRAYFRAME | WS_VISIBLE, 36, 40, 226, 30},
        {"STATIC", IDC_STATIC,
         "Examples: gov stands for every site in .gov, edu for every site in .edu, and "
         "example.com for every site of that domain.",
         SS_LEFT | SS_NOPREFIX | WS_VISIBLE, 42, 44, 214, 22},

        {"STATIC", IDC_STATIC, "Restricted Domains", SS_LEFT | WS_VISIBLE, 8, 78, 123, 8},
        {"COMBOBOX", 1241, "", kList | WS_GROUP, 8, 88, 123, 92},
        {"STATIC", IDC_STATIC, "Approved Domains", SS_LEFT | WS_VISIBLE, 139, 78, 123, 8},
        {"COMBOBOX", 1242, "", kList, 139, 88, 123, 92},

        {"BUTTON", 1023, "&Save Changes", kButton | WS_GROUP, 8, 188, 58, 14},
        {"BUTTON", 1256, "&Delete highlighted item", kButton, 70, 188, 100, 14},
        {"BUTTON", 1021, "&Cancel", kButton, 174, 188, 42, 14},
        {"BUTTON", 1215, "&Help", kButton, 220, 188, 42, 14},
        {"BUTTON", 1255, "", BS_DEFPUSHBUTTON, 0, 0, 1, 1},
    };
    return t;
}

}  // namespace resources
