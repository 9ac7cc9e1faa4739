// What the console's dialogs share with its main window: the main window (owner of the
// About box wherever it opens from), the timer-busy flag that keeps the main window's
// one-minute timer from running while a dialog initialises, the Headquarters-open flag and
// window, and the one dialog position they share (the setting WindowPosition).
#pragma once

#include <string_view>

#include "ui/dialog.h"
#include "ui/types.h"

namespace dialogs {

// The help file every dialog opens (ui::WinHelp), at its own context.
inline constexpr const char* kHelpFile = "VDP.HLP";

struct ConsoleState {
    ui::HWND mainWindow = 0;
    bool timerBusy = false;
    bool headquartersOpen = false;    // set by the main window around the Headquarters dialog
    ui::HWND headquartersWindow = 0;  // set by the Headquarters dialog while it is open
};
ConsoleState& Console();
void ResetConsole();

// Places the dialog at WindowPosition ("x, y"; anything else, or nothing, is 0, 0), kept
// on the screen, without resizing it.
void RestoreDialogPosition(ui::HWND dialog);
// Runs the dialog of that template (resources/dialogs.h) modally: its result, or -1 when it
// could not be made.
ui::INT_PTR RunDialogResource(std::string_view name, ui::HWND owner, ui::DLGPROC proc);

// Says that a Save found the settings store not writable (why, from the store), over
// `owner`; the dialog then stays open with what was entered.
void ReportSettingsNotSaved(ui::HWND owner);

// Stores the dialog's top-left corner, kept on the screen, as WindowPosition "x, y".
void SaveDialogPosition(ui::HWND dialog);

}  // namespace dialogs
