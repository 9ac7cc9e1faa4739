#include "resources/dialog_templates.h"
#include "ui/controls.h"

namespace resources {

ui::DialogTemplate WorkHoursTemplate() {
    ui::DialogTemplate t;
    t.name = "WORKHOUR";
    return t;
}

}  // namespace resources
