// How long work (resolving names, building databases) shows what it is doing without
// knowing the window that shows it. That window lives above the work: it installs a
// ProgressReport here, and the work calls the free functions below, which show nothing
// while no report is installed.
#pragma once

#include <string_view>

#include "ui/types.h"

namespace ui {

struct ProgressReport {
    // Opens the shared progress window with `text` unless one is open; true when this call
    // opened it.
    bool (*open)(std::string_view text) = nullptr;
    // Sets the shared window's text when one is open.
    void (*setText)(std::string_view text) = nullptr;
    // Closes the shared window, whoever opened it.
    void (*close)() = nullptr;
    // A window of its own for one step, 0 when none can be made; the caller destroys it.
    HWND (*openOwn)(std::string_view text) = nullptr;
};

// The report the work uses from now on; nullptr for none. `report` must outlive its use.
void InstallProgressReport(const ProgressReport* report);

bool OpenProgress(std::string_view text);
void SetProgressText(std::string_view text);
void CloseProgress();
HWND OpenOwnProgress(std::string_view text);

}  // namespace ui
