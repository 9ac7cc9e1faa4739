#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

ui::DialogTemplate DomainTemplate() {
    ui::DialogTemplate t;
    t.name = "DOMAIN";
    return t;
}

}  // namespace resources
