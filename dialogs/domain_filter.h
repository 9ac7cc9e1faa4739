// The domain filter dialog "DOMAIN": the administrator's restricted and approved domain
// parts, sharing the 1024 records of the site list store; Save rebuilds the databases.
#pragma once

#include "ui/types.h"

namespace dialogs {

// Runs the dialog modally; 1 after Save and also after Cancel.
ui::INT_PTR RunDomainDialog(ui::HWND owner);

}  // namespace dialogs
