#include "resources/dialogs.h"

#include <vector>

#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {
namespace {

using namespace ui;

std::vector<DialogTemplate> MakeTemplates() {
    std::vector<DialogTemplate> all;

    // The transfer progress window: status text, a bar drawn by the program, Cancel.
    DialogTemplate getfile;
    getfile.name = "GETFILE";
    getfile.caption = "Veldana Message";
    getfile.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    getfile.fontName = "System";
    getfile.pointSize = 8;
    getfile.x = 137;
    getfile.y = 74;
    getfile.cx = 176;
    getfile.cy = 85;
    getfile.controls = {
        {"STATIC", IDC_STATIC, "", SS_GRAYFRAME | SS_SUNKEN | WS_VISIBLE, 1, 3, 174, 80},
        {"STATIC", IDC_STATIC, "", SS_GRAYFRAME | SS_SUNKEN | WS_VISIBLE, 4, 55, 168, 25},
        {"BUTTON", 2, "&Cancel Download", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP | WS_VISIBLE,
         61, 64, 104, 12},
        {"STATIC", IDC_STATIC, "SURFICON", SS_ICON | SS_SUNKEN | WS_VISIBLE, 10, 59, 17, 17},
        {"STATIC", 100, "\nGetting File From Server", SS_CENTER | WS_GROUP | WS_VISIBLE, 6, 8,
         164, 26},
        {"STATIC", 7219, "", SS_GRAYFRAME | SS_SUNKEN, 8, 38, 159, 14},
    };
    all.push_back(std::move(getfile));

    all.push_back(HeadquartersTemplate());
    all.push_back(ProxyTemplate());
    all.push_back(WorkHoursTemplate());
    all.push_back(WebSitesTemplate());
    all.push_back(DomainTemplate());
    all.push_back(AboutBoxTemplate());
    return all;
}

}  // namespace

const DialogTemplate* FindDialogResource(std::string_view name) {
    static const std::vector<DialogTemplate> templates = MakeTemplates();
    for (const auto& t : templates)
        if (t.name == name) return &t;
    return nullptr;
}

}  // namespace resources
