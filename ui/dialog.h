// Dialogs made from templates, modal (a nested message loop until EndDialog) and
// modeless, with the dialog-item helpers the console uses.
//
// Template rectangles are in dialog units: x and widths in quarters of the dialog font's
// average character width, y and heights in eighths of its height. A top-level dialog is
// placed relative to the screen (relative to its owner when DS_OWNERRELATIVE is given).
// The dialog manager handles the keys of every dialog: Enter sends WM_COMMAND with the
// default push button's id (IDOK when there is none), Escape sends IDCANCEL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/types.h"
#include "ui/window.h"

namespace ui {

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// Command ids of standard buttons (also MessageBox results).
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDC_STATIC = -1;

// Dialog styles.
constexpr std::uint32_t DS_ABSALIGN = 0x01;
constexpr std::uint32_t DS_SYSMODAL = 0x02;
constexpr std::uint32_t DS_SETFONT = 0x40;
constexpr std::uint32_t DS_MODALFRAME = 0x80;
constexpr std::uint32_t DS_CENTER = 0x0800;
constexpr std::uint32_t DS_OWNERRELATIVE =
    0x8000;  // ours: place relative to the owner's top-left corner

// Dialog messages.
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;

struct ControlTemplate {
    std::string className;  // "BUTTON", "STATIC", "EDIT", "COMBOBOX"
    int id = IDC_STATIC;
    std::string text;
    std::uint32_t style = 0;  // WS_CHILD is implied; WS_VISIBLE must be given
    int x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t exStyle = 0;
};

struct DialogTemplate {
    std::string name;
    std::string caption;
    std::uint32_t style = 0;
    std::string fontName = "System";
    int pointSize = 8;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::vector<ControlTemplate> controls;
};

HWND CreateDialogIndirect(const DialogTemplate& tmpl, HWND owner, DLGPROC proc,
                          LPARAM initParam = 0);
// Runs the dialog modally: the owner is disabled until EndDialog; returns its result,
// or -1 when the dialog could not be made.
INT_PTR DialogBoxIndirect(const DialogTemplate& tmpl, HWND owner, DLGPROC proc,
                          LPARAM initParam = 0);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Handles a keyboard message meant for a dialog (done by DispatchMessage anyway).
BOOL IsDialogMessage(HWND dialog, const MSG& msg);

// Converts a rectangle from the dialog's units to pixels.
BOOL MapDialogRect(HWND dialog, RECT& rect);
SIZE GetDialogBaseUnits(HWND dialog);

HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemText(HWND dialog, int id, std::string_view text);
std::string GetDlgItemText(HWND dialog, int id);
LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Check states.
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
// Checks `check` and unchecks every other radio button with an id in [first, last].
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);

// True while the dialog runs a modal loop that EndDialog has not ended yet.
bool IsDialogEnded(HWND dialog);

}  // namespace ui
