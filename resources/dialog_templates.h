// The templates of the console's dialogs, one file each; FindDialogResource (dialogs.h)
// finds them by name.
#pragma once

#include "ui/dialog.h"

namespace resources {

ui::DialogTemplate HeadquartersTemplate();  // "SURF"
ui::DialogTemplate ProxyTemplate();         // "PROXY"
ui::DialogTemplate WorkHoursTemplate();     // "WORKHOUR"
ui::DialogTemplate WebSitesTemplate();      // "WWW3"
ui::DialogTemplate DomainTemplate();        // "DOMAIN"
ui::DialogTemplate AboutBoxTemplate();      // "AboutBox"

}  // namespace resources
