#include "ui/message_box.h"

#include <algorithm>
#include <vector>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/internal.h"

namespace ui {
namespace {

constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 0xFFFE;

const char* ButtonText(int id) {
    switch (id) {
        case IDOK: return "OK";
        case IDCANCEL: return "Cancel";
        case IDABORT: return "&Abort";
        case IDRETRY: return "&Retry";
        case IDIGNORE: return "&Ignore";
        case IDYES: return "&Yes";
        case IDNO: return "&No";
        default: return "";
    }
}

const char* IconName(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND: return "IDI_HAND";
        case MB_ICONQUESTION: return "IDI_QUESTION";
        case MB_ICONEXCLAMATION: return "IDI_EXCLAMATION";
        case MB_ICONASTERISK: return "IDI_ASTERISK";
        default: return nullptr;
    }
}

// The answer Escape (or closing the box) gives; 0 when the box cannot be left that way.
int EscapeAnswer(UINT type) {
    std::vector<int> buttons = MessageBoxButtons(type);
    if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) return IDCANCEL;
    if (buttons.size() == 1) return buttons[0];
    return 0;
}

INT_PTR MessageBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    detail::Window* w = detail::Find(hwnd);
    switch (message) {
        case WM_INITDIALOG: {
            HWND def = GetDlgItem(hwnd, MessageBoxDefaultButton(w->messageBoxType));
            if (def) SetFocus(def);
            return FALSE;
        }
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            std::vector<int> buttons = MessageBoxButtons(w->messageBoxType);
            if (id == IDCANCEL) id = EscapeAnswer(w->messageBoxType);
            if (id != 0 && std::find(buttons.begin(), buttons.end(), id) != buttons.end())
                EndDialog(hwnd, id);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

std::vector<int> MessageBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL: return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO: return {IDYES, IDNO};
        case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
        default: return {IDOK};
    }
}

int MessageBoxDefaultButton(UINT type) {
    std::vector<int> buttons = MessageBoxButtons(type);
    std::size_t index = (type & MB_DEFMASK) >> 8;
    return buttons[std::min(index, buttons.size() - 1)];
}

int MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) {
    // Lay the box out in dialog units of the System font (4 x 8 units per character).
    std::vector<int> buttons = MessageBoxButtons(type);
    int lines = 1, longest = 0, current = 0;
    for (char c : text) {
        if (c == '\n') {
            ++lines;
            longest = std::max(longest, current);
            current = 0;
        } else if (c != '\r') {
            ++current;
        }
    }
    longest = std::max(longest, current);
    int wrapAt = 60;  // characters per line before the text wraps
    lines += longest / wrapAt;
    int textWidth = std::min(longest, wrapAt) * 4 + 8;
    bool icon = IconName(type) != nullptr;
    int textLeft = icon ? 36 : 10;
    int buttonsWidth = static_cast<int>(buttons.size()) * 50 + (static_cast<int>(buttons.size()) - 1) * 6;
    int width = std::max(textLeft + textWidth + 10, buttonsWidth + 20);
    int textHeight = std::max(lines * 8 + 2, icon ? 20 : 8);

    DialogTemplate tmpl;
    tmpl.name = "MessageBox";
    tmpl.caption = std::string(caption);
    tmpl.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    tmpl.cx = width;
    tmpl.cy = 10 + textHeight + 8 + 14 + 8;
    if (icon)
        tmpl.controls.push_back({"STATIC", kIconId, IconName(type), SS_ICON | WS_VISIBLE, 8, 10, 20, 20});
    tmpl.controls.push_back({"STATIC", kTextId, std::string(text), SS_LEFT | SS_NOPREFIX | WS_VISIBLE,
                             textLeft, 10, textWidth, textHeight});
    int x = (width - buttonsWidth) / 2;
    int def = MessageBoxDefaultButton(type);
    for (int id : buttons) {
        std::uint32_t style = (id == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP | WS_VISIBLE;
        tmpl.controls.push_back({"BUTTON", id, ButtonText(id), style, x, 10 + textHeight + 8, 50, 14});
        x += 56;
    }

    // The box is marked before its loop runs, so that a display knows it from the start.
    struct Marker {
        static INT_PTR Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_INITDIALOG) {
                detail::Window* w = detail::Find(hwnd);
                w->isMessageBox = true;
                w->messageBoxType = static_cast<UINT>(lParam);
                detail::NotifyChanged(hwnd);
            }
            return MessageBoxProc(hwnd, message, wParam, lParam);
        }
    };
    INT_PTR result = DialogBoxIndirect(tmpl, owner, Marker::Proc, static_cast<LPARAM>(type));
    return result < 0 ? 0 : static_cast<int>(result);
}

MessageBoxInfo GetMessageBoxInfo(HWND hwnd) {
    MessageBoxInfo info;
    detail::Window* w = detail::Find(hwnd);
    if (!w || !w->isMessageBox) return info;
    info.isMessageBox = true;
    info.caption = w->text;
    info.text = GetDlgItemText(hwnd, kTextId);
    info.type = w->messageBoxType;
    return info;
}

BOOL MessageBeep(UINT type) {
    if (auto* d = detail::State().display) d->Beep(type);
    return TRUE;
}

void SetWaitCursor(bool wait) {
    auto& s = detail::State();
    if (s.waitCursor == wait) return;
    s.waitCursor = wait;
    if (s.display) s.display->CursorChanged(wait);
}

bool IsWaitCursorShown() { return detail::State().waitCursor; }

}  // namespace ui
