// The web sites dialog "WWW3": the administrator's additional restricted and approved sites
// (512 a list), the block page and the logging flag; Save resolves the sites (IPADDR.LST)
// and rebuilds the databases.
#pragma once

#include "ui/types.h"

namespace dialogs {

// Runs the dialog modally: 1 after a successful Save, 0 after Cancel.
ui::INT_PTR RunWebSitesDialog(ui::HWND owner);

}  // namespace dialogs
