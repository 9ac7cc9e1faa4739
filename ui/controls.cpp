#include "ui/controls.h"

#include <algorithm>

#include "ui/dialog.h"
#include "ui/internal.h"

namespace ui {
namespace detail {

// Internal: a user picked item wParam of a combo box's list.
constexpr UINT kUserPickItem = 0x03F0;

}  // namespace detail

namespace {

using detail::ControlKind;
using detail::Find;
using detail::Window;

void Notify(HWND hwnd, int code) {
    Window* w = Find(hwnd);
    if (!w || !w->parent) return;
    SendMessage(w->parent, WM_COMMAND, MAKEWPARAM(w->id, code), static_cast<LPARAM>(hwnd));
}

void Changed(HWND hwnd) {
    InvalidateRect(hwnd, nullptr, TRUE);
    detail::NotifyChanged(hwnd);
}

std::uint32_t ButtonType(const Window* w) { return w->style & BS_TYPEMASK; }

// The radio buttons of hwnd's group: from the nearest WS_GROUP sibling at or before it up
// to the next WS_GROUP sibling.
std::vector<HWND> RadioGroup(HWND hwnd) {
    Window* w = Find(hwnd);
    std::vector<HWND> siblings = ChildWindows(w->parent);
    auto self = std::find(siblings.begin(), siblings.end(), hwnd);
    auto start = self;
    while (start != siblings.begin() && !(Find(*start)->style & WS_GROUP)) --start;
    std::vector<HWND> group;
    for (auto it = start; it != siblings.end(); ++it) {
        Window* s = Find(*it);
        if (it != start && (s->style & WS_GROUP)) break;
        if (s->kind == ControlKind::kButton && ButtonType(s) == BS_AUTORADIOBUTTON) group.push_back(*it);
    }
    return group;
}

void Click(HWND hwnd) {
    Window* w = Find(hwnd);
    if (!w || (w->style & WS_DISABLED)) return;
    switch (ButtonType(w)) {
        case BS_GROUPBOX:
            return;
        case BS_AUTOCHECKBOX:
            w->check = w->check ? 0 : 1;
            Changed(hwnd);
            break;
        case BS_AUTO3STATE:
            w->check = (w->check + 1) % 3;
            Changed(hwnd);
            break;
        case BS_AUTORADIOBUTTON:
            for (HWND other : RadioGroup(hwnd)) {
                Window* o = Find(other);
                int want = other == hwnd ? 1 : 0;
                if (o->check != want) {
                    o->check = want;
                    Changed(other);
                }
            }
            break;
        default:
            break;
    }
    if (w->style & WS_TABSTOP || ButtonType(w) <= BS_DEFPUSHBUTTON) SetFocus(hwnd);
    Notify(hwnd, BN_CLICKED);
}

void PaintAndValidate(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, ps);
    detail::PaintControl(hwnd, hdc);
    EndPaint(hwnd, ps);
}

LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    switch (message) {
        case WM_CREATE:
            w->kind = ControlKind::kButton;
            return 0;
        case BM_GETCHECK:
            return w->check;
        case BM_SETCHECK:
            if (w->check != static_cast<int>(wParam)) {
                w->check = static_cast<int>(wParam);
                Changed(hwnd);
            }
            return 0;
        case BM_GETSTATE:
            return w->check | (GetFocus() == hwnd ? 8 : 0);
        case BM_SETSTYLE:
            w->style = (w->style & ~0xFFFFu) | (static_cast<std::uint32_t>(wParam) & 0xFFFF);
            Changed(hwnd);
            return 0;
        case BM_CLICK:
        case WM_LBUTTONUP:
            Click(hwnd);
            return 0;
        case WM_PAINT:
            PaintAndValidate(hwnd);
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

void LoadStaticImage(Window* w) {
    std::uint32_t type = w->style & SS_TYPEMASK;
    if (type == SS_ICON && !w->text.empty()) w->image = LoadIconResource(w->text);
    if (type == SS_BITMAP && !w->text.empty()) w->image = LoadBitmapResource(w->text);
}

LRESULT StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    switch (message) {
        case WM_CREATE:
            w->kind = ControlKind::kStatic;
            LoadStaticImage(w);
            return 0;
        case STM_SETICON:
        case STM_SETIMAGE: {
            HGDIOBJ old = w->image;
            w->image = static_cast<HGDIOBJ>(message == STM_SETICON ? wParam : lParam);
            Changed(hwnd);
            return old;
        }
        case WM_SETTEXT: {
            // A text static given the text it already shows looks the same afterwards:
            // nothing to repaint (progress windows set their text once per step).
            std::uint32_t type = w ? (w->style & SS_TYPEMASK) : 0;
            if (w && type != SS_ICON && type != SS_BITMAP &&
                w->text == (lParam ? reinterpret_cast<const char*>(lParam) : ""))
                return TRUE;
            LRESULT r = DefWindowProc(hwnd, message, wParam, lParam);
            if (Window* again = Find(hwnd)) LoadStaticImage(again);
            return r;
        }
        case WM_PAINT:
            PaintAndValidate(hwnd);
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

// Typing into an edit field (or the edit part of a simple combo box).
bool TypeChar(Window* w, char c) {
    if (w->style & ES_READONLY && w->kind == ControlKind::kEdit) return false;
    if (w->longs.count(-1000)) {  // a full selection: typing replaces it
        w->longs.erase(-1000);
        w->text.clear();
    }
    if (c == static_cast<char>(VK_BACK)) {
        if (w->text.empty()) return false;
        w->text.pop_back();
        return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (w->text.size() >= w->textLimit) return false;
    w->text += c;
    return true;
}

LRESULT EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    switch (message) {
        case WM_CREATE:
            w->kind = ControlKind::kEdit;
            return 0;
        case EM_LIMITTEXT:
            w->textLimit = wParam ? wParam : 0x7FFFFFFE;
            return 0;
        case EM_GETLIMITTEXT:
            return static_cast<LRESULT>(w->textLimit);
        case EM_SETSEL:
            if (wParam == 0 && lParam == -1)
                w->longs[-1000] = 1;
            else
                w->longs.erase(-1000);
            return 0;
        case WM_CHAR: {
            std::size_t before = w->text.size();
            bool full = w->text.size() >= w->textLimit;
            if (TypeChar(w, static_cast<char>(wParam))) {
                Changed(hwnd);
                Notify(hwnd, EN_UPDATE);
                Notify(hwnd, EN_CHANGE);
            } else if (full && before == w->text.size() && wParam >= 0x20) {
                Notify(hwnd, EN_MAXTEXT);
            }
            return 0;
        }
        case WM_SETTEXT: {
            LRESULT r = DefWindowProc(hwnd, message, wParam, lParam);
            Notify(hwnd, EN_CHANGE);
            return r;
        }
        case WM_PAINT:
            PaintAndValidate(hwnd);
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

bool IsSimpleOrDropDown(const Window* w) { return (w->style & 3) != CBS_DROPDOWNLIST; }

void SetSelection(HWND hwnd, Window* w, int index) {
    w->curSel = index;
    if (IsSimpleOrDropDown(w)) w->text = index >= 0 ? w->items[static_cast<std::size_t>(index)].text : "";
    Changed(hwnd);
}

int FindItem(const Window* w, WPARAM start, std::string_view text, bool exact) {
    int n = static_cast<int>(w->items.size());
    if (n == 0) return static_cast<int>(CB_ERR);
    int first = static_cast<int>(static_cast<std::intptr_t>(start));
    if (first < -1 || first >= n) first = -1;
    std::string want = detail::Lower(text);
    for (int k = 1; k <= n; ++k) {
        int i = (first + k) % n;
        std::string have = detail::Lower(w->items[static_cast<std::size_t>(i)].text);
        if (exact ? have == want : have.compare(0, want.size(), want) == 0) return i;
    }
    return static_cast<int>(CB_ERR);
}

LRESULT ComboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    auto text = [&] { return std::string(lParam ? reinterpret_cast<const char*>(lParam) : ""); };
    int count = static_cast<int>(w ? w->items.size() : 0);
    int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
    switch (message) {
        case WM_CREATE:
            w->kind = ControlKind::kComboBox;
            return 0;
        case CB_ADDSTRING:
        case CB_INSERTSTRING: {
            detail::ListItem item{text(), 0};
            int at = count;
            if (message == CB_INSERTSTRING && index >= 0) {
                if (index > count) return CB_ERR;
                at = index;
            } else if (message == CB_ADDSTRING && (w->style & CBS_SORT)) {
                std::string key = detail::Lower(item.text);
                at = 0;
                while (at < count && detail::Lower(w->items[static_cast<std::size_t>(at)].text) <= key) ++at;
            }
            w->items.insert(w->items.begin() + at, std::move(item));
            if (w->curSel >= at) ++w->curSel;
            Changed(hwnd);
            return at;
        }
        case CB_DELETESTRING:
            if (index < 0 || index >= count) return CB_ERR;
            w->items.erase(w->items.begin() + index);
            if (w->curSel == index) w->curSel = -1;
            else if (w->curSel > index) --w->curSel;
            Changed(hwnd);
            return count - 1;
        case CB_RESETCONTENT:
            w->items.clear();
            w->curSel = -1;
            if (IsSimpleOrDropDown(w)) w->text.clear();
            Changed(hwnd);
            return 0;
        case CB_GETCOUNT:
            return count;
        case CB_GETCURSEL:
            return w->curSel;
        case CB_SETCURSEL:
            if (index < 0 || index >= count) {
                SetSelection(hwnd, w, -1);
                return CB_ERR;
            }
            SetSelection(hwnd, w, index);
            return index;
        case CB_GETLBTEXTLEN:
            if (index < 0 || index >= count) return CB_ERR;
            return static_cast<LRESULT>(w->items[static_cast<std::size_t>(index)].text.size());
        case CB_GETLBTEXT: {
            if (index < 0 || index >= count || !lParam) return CB_ERR;
            const std::string& t = w->items[static_cast<std::size_t>(index)].text;
            auto* out = reinterpret_cast<char*>(lParam);
            std::copy(t.begin(), t.end(), out);
            out[t.size()] = '\0';
            return static_cast<LRESULT>(t.size());
        }
        case CB_GETITEMDATA:
            if (index < 0 || index >= count) return CB_ERR;
            return w->items[static_cast<std::size_t>(index)].data;
        case CB_SETITEMDATA:
            if (index < 0 || index >= count) return CB_ERR;
            w->items[static_cast<std::size_t>(index)].data = lParam;
            return 0;
        case CB_FINDSTRING:
            return FindItem(w, wParam, text(), false);
        case CB_FINDSTRINGEXACT:
            return FindItem(w, wParam, text(), true);
        case CB_SELECTSTRING: {
            int found = FindItem(w, wParam, text(), false);
            if (found >= 0) SetSelection(hwnd, w, found);
            return found;
        }
        case CB_LIMITTEXT:
            w->textLimit = wParam ? wParam : 0x7FFFFFFE;
            return TRUE;
        case detail::kUserPickItem:
            if (index < 0 || index >= count || (w->style & WS_DISABLED)) return 0;
            SetSelection(hwnd, w, index);
            Notify(hwnd, CBN_SELCHANGE);
            return 0;
        case WM_CHAR:
            if (IsSimpleOrDropDown(w) && TypeChar(w, static_cast<char>(wParam))) {
                Changed(hwnd);
                Notify(hwnd, CBN_EDITCHANGE);
            }
            return 0;
        case EM_SETSEL:
            return EditProc(hwnd, message, wParam, lParam);
        case WM_PAINT:
            PaintAndValidate(hwnd);
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace detail {

void RegisterDialogClass();

void RegisterControlClasses() {
    const std::pair<const char*, WNDPROC> classes[] = {
        {"BUTTON", ButtonProc}, {"STATIC", StaticProc}, {"EDIT", EditProc}, {"COMBOBOX", ComboProc}};
    for (const auto& [name, proc] : classes) {
        WNDCLASS wc;
        wc.className = name;
        wc.proc = proc;
        State().classes.emplace(Lower(name), wc);
    }
    RegisterDialogClass();
}

}  // namespace detail

int ComboAddString(HWND combo, std::string_view text) {
    std::string copy(text);
    return static_cast<int>(SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(copy.c_str())));
}

int ComboFindStringExact(HWND combo, std::string_view text, int after) {
    std::string copy(text);
    return static_cast<int>(SendMessage(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(after),
                                        reinterpret_cast<LPARAM>(copy.c_str())));
}

std::string ComboItemText(HWND combo, int index) {
    Window* w = Find(combo);
    if (!w || w->kind != ControlKind::kComboBox || index < 0 ||
        index >= static_cast<int>(w->items.size()))
        return {};
    return w->items[static_cast<std::size_t>(index)].text;
}

int ComboCount(HWND combo) { return static_cast<int>(SendMessage(combo, CB_GETCOUNT)); }

int ComboSelection(HWND combo) {
    Window* w = Find(combo);
    return w && w->kind == ControlKind::kComboBox ? w->curSel : -1;
}

int GetCheck(HWND button) {
    Window* w = Find(button);
    return w && w->kind == ControlKind::kButton ? w->check : 0;
}

ControlType GetControlType(HWND hwnd) {
    Window* w = Find(hwnd);
    if (!w) return ControlType::kNone;
    switch (w->kind) {
        case ControlKind::kButton:
            switch (ButtonType(w)) {
                case BS_DEFPUSHBUTTON: return ControlType::kDefaultButton;
                case BS_OWNERDRAW: return ControlType::kOwnerDrawButton;
                case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_3STATE: case BS_AUTO3STATE:
                    return ControlType::kCheckBox;
                case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON: return ControlType::kRadioButton;
                case BS_GROUPBOX: return ControlType::kGroupBox;
                default: return ControlType::kPushButton;
            }
        case ControlKind::kStatic:
            switch (w->style & SS_TYPEMASK) {
                case SS_ICON: return ControlType::kIcon;
                case SS_BITMAP: return ControlType::kBitmap;
                case SS_BLACKRECT: case SS_GRAYRECT: case SS_WHITERECT: return ControlType::kRectangle;
                case SS_BLACKFRAME: case SS_GRAYFRAME: case SS_WHITEFRAME: return ControlType::kFrame;
                default: return ControlType::kStaticText;
            }
        case ControlKind::kEdit:
            return ControlType::kEdit;
        case ControlKind::kComboBox:
            return (w->style & 3) == CBS_SIMPLE ? ControlType::kComboSimple : ControlType::kComboList;
        default:
            return ControlType::kNone;
    }
}

}  // namespace ui
