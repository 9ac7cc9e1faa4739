#include "dialogs/web_sites.h"

namespace dialogs {
ui::INT_PTR RunWebSitesDialog(ui::HWND) {
    return 0;
}
}  // namespace dialogs
