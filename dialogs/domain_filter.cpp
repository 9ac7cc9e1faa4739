#include "dialogs/domain_filter.h"

namespace dialogs {
ui::INT_PTR RunDomainDialog(ui::HWND) {
    return 0;
}
}  // namespace dialogs
