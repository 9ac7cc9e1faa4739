#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

ui::DialogTemplate WebSitesTemplate() {
    ui::DialogTemplate t;
    t.name = "WWW3";
    return t;
}

}  // namespace resources
