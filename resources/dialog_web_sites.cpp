#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

// "WWW3": the two site lists side by side under the explanation, the two options below
// them, the block page, and one row of buttons. The hidden default button takes Enter in
// an entry field.
ui::DialogTemplate WebSitesTemplate() {
    using namespace ui;
    DialogTemplate t;
    t.name = "WWW3";
    t.caption = "Web Sites Control";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_OWNERRELATIVE;
    t.fontName = "System";
    t.pointSize = 8;
    t.x = 24;
    t.y = 20;
    t.cx = 300;
    t.cy = 236;
    constexpr std::uint32_t kSiteList =
        CBS_SIMPLE | CBS_SORT | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP | WS_VISIBLE;
    constexpr std::uint32_t kButton = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;
    t.controls = {
        {"STATIC", IDC_STATIC, "SURFICON", SS_ICON | WS_VISIBLE, 8, 8, 20, 20},
        {"STATIC", IDC_STATIC,
         "Veldana restricts access to certain material on the Internet based on these "
         "parameters: time of day, the VeldaLISTs,  Category Restrictions,  and these 2 "
         "lists.  These lists will take precedence over the VeldaNOT restrictions.",
         SS_LEFT | WS_VISIBLE, 36, 6, 256, 40},
        {"STATIC", IDC_STATIC, "Additional &Restrictions", SS_LEFT | WS_VISIBLE, 8, 52, 138, 8},
        {"COMBOBOX", 1241, "", kSiteList, 8, 62, 138, 100},
        {"STATIC", IDC_STATIC, "Additional &Approvals", SS_LEFT | WS_VISIBLE, 154, 52, 138, 8},
        {"COMBOBOX", 1242, "", kSiteList, 154, 62, 138, 100},
        {"BUTTON", 1404, "Store &Blocked Sites to Logfile",
         BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP | WS_VISIBLE, 8, 168, 138, 10},
        {"BUTTON", 1405, "Resol&ve All Additional Sites",
         BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP | WS_VISIBLE, 154, 168, 138, 10},
        {"STATIC", IDC_STATIC, "Redirected WEB site (if blocked):", SS_LEFT | WS_VISIBLE, 8, 184,
         284, 8},
        {"EDIT", 1039, "",
         ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP | WS_VISIBLE, 8, 194, 284,
         12},
        {"BUTTON", 1023, "&Save Changes", kButton | WS_GROUP, 8, 214, 70, 14},
        {"BUTTON", 1256, "&Delete highlighted item", kButton, 84, 214, 100, 14},
        {"BUTTON", 1021, "&Cancel", kButton, 190, 214, 48, 14},
        {"BUTTON", 1215, "&Help", kButton, 244, 214, 48, 14},
        // Not shown: the default button, so that Enter in an entry field adds its text.
        {"BUTTON", 1255, "", BS_DEFPUSHBUTTON, 8, 214, 70, 14},
    };
    return t;
}

}  // namespace resources
