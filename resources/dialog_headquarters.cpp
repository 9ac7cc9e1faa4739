#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

ui::DialogTemplate HeadquartersTemplate() {
    ui::DialogTemplate t;
    t.name = "SURF";
    return t;
}

ui::DialogTemplate ProxyTemplate() {
    ui::DialogTemplate t;
    t.name = "PROXY";
    return t;
}

}  // namespace resources
