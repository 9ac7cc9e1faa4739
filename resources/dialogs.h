// The console's dialog templates, by resource name.
#pragma once

#include <string_view>

#include "ui/dialog.h"

namespace resources {

// The template of a dialog resource ("GETFILE", ...); null for an unknown name.
const ui::DialogTemplate* FindDialogResource(std::string_view name);

}  // namespace resources
