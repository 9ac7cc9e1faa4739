// Message boxes (a modal dialog with a text and buttons, answered in a nested message
// loop), beeps and the wait cursor.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/types.h"

namespace ui {

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONSTOP = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_ICONMASK = 0xF0;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;
constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;

// Shows the box and waits (dispatching messages) until it is answered; returns the id of
// the button chosen (IDOK, IDCANCEL, IDYES, ...), or 0 when it could not be shown.
int MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type);
// The buttons a box of this type has, in order, and which is the default.
std::vector<int> MessageBoxButtons(UINT type);
int MessageBoxDefaultButton(UINT type);

struct MessageBoxInfo {
    bool isMessageBox = false;
    std::string text;
    std::string caption;
    UINT type = 0;
};
MessageBoxInfo GetMessageBoxInfo(HWND hwnd);

BOOL MessageBeep(UINT type);

// The wait cursor: shown while `wait` is set.
void SetWaitCursor(bool wait);
bool IsWaitCursorShown();

}  // namespace ui
