// The web sites dialog "WWW3": the administrator's additional restricted and approved sites
// (512 a list), the block page and the logging flag; Save resolves the sites (IPADDR.LST)
// and rebuilds the databases.
//
// The lists show what USER.LST holds when the dialog opens. An entry is a host name (its
// scheme removed, port and path kept), a dotted address, or the name of an existing local
// file listing sites, stored as the file's full path; every entry is lower case, at most 63
// characters, in one list only, and carries the address it resolved to when it was added
// (0 for a file). Save stores both lists, RedirectedSite ("http://" put in front when it has
// no scheme) and LogSites, and rebuilds every database, None databases included; a refused
// entry, a missing block page or a socket library that cannot be loaded keeps the dialog
// open with nothing written, a failed rebuild keeps it open with the lists and settings
// written. The socket library is released whenever the dialog ends.
#pragma once

#include "ui/types.h"

namespace dialogs {

// Runs the dialog modally: 1 after a successful Save, 0 after Cancel.
ui::INT_PTR RunWebSitesDialog(ui::HWND owner);

}  // namespace dialogs
