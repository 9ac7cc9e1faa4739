#include "ui/dialog.h"

#include <algorithm>

#include "ui/controls.h"
#include "ui/internal.h"

namespace ui {
namespace {

using detail::Find;
using detail::State;
using detail::Window;

constexpr const char* kDialogClass = "#32770";
// Posted to a modeless dialog that EndDialog ended: it goes once its handler is done.
constexpr UINT kDestroyEndedDialog = 0x03F1;
constexpr LPARAM kHasDefId = 0x534B;

LRESULT DialogWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    DLGPROC proc = w ? w->dlgProc : nullptr;
    if (proc) {
        INT_PTR handled = proc(hwnd, message, wParam, lParam);
        if (message == WM_INITDIALOG) return handled;
        if (handled) return handled;
    }
    return DefDlgProc(hwnd, message, wParam, lParam);
}

int Scale(int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; }

HWND FirstTabStop(HWND dialog) {
    for (HWND child : ChildWindows(dialog)) {
        Window* c = Find(child);
        if (c && (c->style & WS_TABSTOP) && !(c->style & WS_DISABLED) && (c->style & WS_VISIBLE))
            return child;
    }
    return 0;
}

HWND DefaultButton(HWND dialog) {
    for (HWND child : ChildWindows(dialog)) {
        Window* c = Find(child);
        if (c && c->kind == detail::ControlKind::kButton &&
            (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return child;
    }
    return 0;
}

}  // namespace

namespace detail {

void RegisterDialogClass() {
    WNDCLASS wc;
    wc.className = kDialogClass;
    wc.proc = DialogWndProc;
    RegisterClass(wc);
}

bool DialogKeyMessage(const MSG& msg) {
    bool key = msg.message == WM_KEYDOWN || msg.message == WM_CHAR;
    if (!key) return false;
    UINT vk = static_cast<UINT>(msg.wParam);
    if (vk != VK_RETURN && vk != VK_ESCAPE && !(vk == VK_SPACE && msg.message == WM_KEYDOWN))
        return false;
    HWND dialog = GetWindow(msg.hwnd);
    Window* d = Find(dialog);
    if (!d || !d->isDialog) return false;
    if (msg.message == WM_CHAR) return vk != VK_SPACE;  // the key-down did the work
    return IsDialogMessage(dialog, msg) ? true : false;
}

}  // namespace detail

LRESULT DefDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            PostMessage(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        static_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
            return 0;
        case DM_GETDEFID: {
            HWND def = DefaultButton(hwnd);
            return def ? static_cast<LRESULT>(MAKEWPARAM(GetDlgCtrlID(def), kHasDefId)) : 0;
        }
        case kDestroyEndedDialog:
            DestroyWindow(hwnd);
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

BOOL IsDialogMessage(HWND dialog, const MSG& msg) {
    if (msg.message != WM_KEYDOWN || GetWindow(msg.hwnd) != dialog) return FALSE;
    UINT vk = static_cast<UINT>(msg.wParam);
    HWND focus = GetFocus();
    auto command = [&](int id) {
        HWND item = GetDlgItem(dialog, id);
        SendMessage(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), static_cast<LPARAM>(item));
    };
    if (vk == VK_ESCAPE) {
        command(IDCANCEL);
        return TRUE;
    }
    if (vk == VK_SPACE) {
        if (focus && GetWindow(focus) == dialog && GetControlType(focus) != ControlType::kEdit &&
            GetControlType(focus) != ControlType::kComboSimple) {
            SendMessage(focus, BM_CLICK, 0, 0);
            return TRUE;
        }
        return FALSE;
    }
    if (vk != VK_RETURN) return FALSE;
    ControlType focusType = GetControlType(focus);
    if (focus && GetWindow(focus) == dialog &&
        (focusType == ControlType::kPushButton || focusType == ControlType::kDefaultButton)) {
        if (IsWindowEnabled(focus)) command(GetDlgCtrlID(focus));
        return TRUE;
    }
    LRESULT def = SendMessage(dialog, DM_GETDEFID, 0, 0);
    int id = HIWORD(static_cast<std::uintptr_t>(def)) == kHasDefId ? LOWORD(static_cast<std::uintptr_t>(def)) : IDOK;
    HWND button = GetDlgItem(dialog, id);
    if (button && !IsWindowEnabled(button)) return TRUE;
    command(id);
    return TRUE;
}

HWND CreateDialogIndirect(const DialogTemplate& tmpl, HWND owner, DLGPROC proc, LPARAM initParam) {
    detail::EnsureBuiltinClasses();
    HFONT font = CreateFont(tmpl.fontName, tmpl.pointSize, false);
    SIZE base = DialogBaseUnits(font);
    if (base.cx <= 0 || base.cy <= 0) base = SIZE{8, 16};
    int x = Scale(tmpl.x, base.cx, 4), y = Scale(tmpl.y, base.cy, 8);
    int cx = Scale(tmpl.cx, base.cx, 4), cy = Scale(tmpl.cy, base.cy, 8);
    if (tmpl.style & DS_CENTER) {
        x = (GetSystemMetrics(SM_CXSCREEN) - cx) / 2;
        y = (GetSystemMetrics(SM_CYSCREEN) - cy) / 2;
    } else if ((tmpl.style & DS_OWNERRELATIVE) && owner) {
        RECT r;
        GetWindowRect(owner, r);
        x += r.left;
        y += r.top;
    }
    std::uint32_t style = (tmpl.style | WS_POPUP) & ~(WS_VISIBLE | WS_CHILD);
    HWND dialog = CreateWindowEx(0, kDialogClass, tmpl.caption, style, x, y, cx, cy, owner);
    Window* d = Find(dialog);
    if (!d) {
        DeleteObject(font);
        return 0;
    }
    d->isDialog = true;
    d->font = font;
    d->baseUnits = base;

    for (const auto& c : tmpl.controls) {
        HWND item = CreateWindowEx(c.exStyle, c.className, c.text, c.style | WS_CHILD,
                                   Scale(c.x, base.cx, 4), Scale(c.y, base.cy, 8),
                                   Scale(c.cx, base.cx, 4), Scale(c.cy, base.cy, 8), dialog, c.id);
        if (item == 0) {
            DestroyWindow(dialog);
            return 0;
        }
        SendMessage(item, WM_SETFONT, font, 0);
    }
    if (Window* again = Find(dialog)) again->dlgProc = proc;
    HWND first = FirstTabStop(dialog);
    if (SendMessage(dialog, WM_INITDIALOG, first, initParam) && first && IsWindow(first))
        SetFocus(first);
    if (IsWindow(dialog) && (tmpl.style & WS_VISIBLE)) ShowWindow(dialog, SW_SHOW);
    return IsWindow(dialog) ? dialog : 0;
}

INT_PTR DialogBoxIndirect(const DialogTemplate& tmpl, HWND owner, DLGPROC proc, LPARAM initParam) {
    // Created hidden; shown once initialised, unless it ended during initialisation.
    DialogTemplate hidden = tmpl;
    hidden.style &= ~WS_VISIBLE;
    State().modalLoops.push_back(0);  // the loop's place, filled once the window exists
    HWND dialog = CreateDialogIndirect(hidden, owner, proc, initParam);
    State().modalLoops.back() = dialog;
    if (!dialog) {
        State().modalLoops.pop_back();
        return -1;
    }
    BOOL ownerWasDisabled = owner ? EnableWindow(owner, FALSE) : TRUE;
    if (Window* d = Find(dialog); d && !d->ended) ShowWindow(dialog, SW_SHOW);

    MSG msg;
    bool quit = false;
    int quitCode = 0;
    while (true) {
        Window* d = Find(dialog);
        if (!d || d->ended) break;
        if (!GetMessage(msg)) {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            break;
        }
        TranslateMessage(msg);
        DispatchMessage(msg);
    }
    Window* d = Find(dialog);
    INT_PTR result = d && d->ended ? d->result : -1;
    if (owner && !ownerWasDisabled) EnableWindow(owner, TRUE);
    std::erase(State().modalLoops, dialog);
    if (d) {
        HFONT font = d->font;
        DestroyWindow(dialog);
        DeleteObject(font);
    }
    if (owner && IsWindow(owner)) SetFocus(owner);
    if (quit) PostQuitMessage(quitCode);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Window* d = Find(dialog);
    if (!d || !d->isDialog) return FALSE;
    d->ended = true;
    d->result = result;
    if (std::find(State().modalLoops.begin(), State().modalLoops.end(), dialog) == State().modalLoops.end()) {
        // A modeless dialog has no loop to end: it is hidden now and destroyed as soon
        // as the handler that ended it has returned.
        ShowWindow(dialog, SW_HIDE);
        PostMessage(dialog, kDestroyEndedDialog, 0, 0);
    } else {
        PostMessage(dialog, WM_NULL, 0, 0);  // wakes the modal loop
    }
    return TRUE;
}

bool IsDialogEnded(HWND dialog) {
    Window* d = Find(dialog);
    return d && d->ended;
}

SIZE GetDialogBaseUnits(HWND dialog) {
    Window* d = Find(dialog);
    return d ? d->baseUnits : SIZE{8, 16};
}

BOOL MapDialogRect(HWND dialog, RECT& r) {
    Window* d = Find(dialog);
    if (!d) return FALSE;
    r = RECT{Scale(r.left, d->baseUnits.cx, 4), Scale(r.top, d->baseUnits.cy, 8),
             Scale(r.right, d->baseUnits.cx, 4), Scale(r.bottom, d->baseUnits.cy, 8)};
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    for (HWND child : ChildWindows(dialog))
        if (GetDlgCtrlID(child) == id) return child;
    return 0;
}

BOOL SetDlgItemText(HWND dialog, int id, std::string_view text) {
    return SetWindowText(GetDlgItem(dialog, id), text);
}

std::string GetDlgItemText(HWND dialog, int id) { return GetWindowText(GetDlgItem(dialog, id)); }

LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessage(GetDlgItem(dialog, id), message, wParam, lParam);
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessage(dialog, id, BM_GETCHECK));
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND item = GetDlgItem(dialog, id);
    if (!item) return FALSE;
    SendMessage(item, BM_SETCHECK, check, 0);
    return TRUE;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    for (HWND child : ChildWindows(dialog)) {
        int id = GetDlgCtrlID(child);
        if (id >= first && id <= last)
            SendMessage(child, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

}  // namespace ui
