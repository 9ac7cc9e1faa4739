#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

ui::DialogTemplate AboutBoxTemplate() {
    ui::DialogTemplate t;
    t.name = "AboutBox";
    return t;
}

}  // namespace resources
