// How the built-in classes look: a plain, classic rendering onto each window's surface,
// so that a person (or a PNG) sees a dialog as it is.
#include <algorithm>

#include "ui/controls.h"
#include "ui/internal.h"

namespace ui::detail {
namespace {

// A brush or pen that is deleted when it goes.
class Gdi {
public:
    explicit Gdi(HGDIOBJ h) : h_(h) {}
    ~Gdi() { DeleteObject(h_); }
    Gdi(const Gdi&) = delete;
    Gdi& operator=(const Gdi&) = delete;
    HGDIOBJ get() const { return h_; }

private:
    HGDIOBJ h_;
};

void Fill(HDC hdc, const RECT& r, COLORREF color) {
    Gdi brush(CreateSolidBrush(color));
    FillRect(hdc, r, brush.get());
}

void Frame(HDC hdc, const RECT& r, COLORREF color) {
    if (r.width() <= 0 || r.height() <= 0) return;
    Gdi pen(CreatePen(0, 1, color));
    HGDIOBJ old = SelectObject(hdc, pen.get());
    MoveToEx(hdc, r.left, r.top, nullptr);
    LineTo(hdc, r.right - 1, r.top);
    LineTo(hdc, r.right - 1, r.bottom - 1);
    LineTo(hdc, r.left, r.bottom - 1);
    LineTo(hdc, r.left, r.top);
    SelectObject(hdc, old);
}

void Text(HDC hdc, const Window* w, std::string_view text, RECT r, UINT format, bool enabled) {
    HFONT font = w->font;
    if (!font) {
        if (const Window* p = Find(w->parent)) font = p->font;
    }
    HGDIOBJ oldFont = font ? SelectObject(hdc, font) : 0;
    SetBkMode(hdc, 1 /* TRANSPARENT */);
    SetTextColor(hdc, enabled ? GetSysColor(COLOR_BTNTEXT) : GetSysColor(COLOR_GRAYTEXT));
    DrawText(hdc, text, r, format);
    if (oldFont) SelectObject(hdc, oldFont);
}

void PaintButton(HWND hwnd, const Window* w, HDC hdc, RECT r) {
    bool enabled = !(w->style & WS_DISABLED);
    std::uint32_t type = w->style & BS_TYPEMASK;
    if (type == BS_OWNERDRAW) {
        DRAWITEMSTRUCT dis;
        dis.ctlId = static_cast<UINT>(w->id);
        dis.hwndItem = hwnd;
        dis.hdc = hdc;
        dis.rcItem = r;
        dis.itemState = (enabled ? 0u : ODS_DISABLED) | (GetFocus() == hwnd ? ODS_FOCUS : 0u);
        SendMessage(w->parent, WM_DRAWITEM, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&dis));
        return;
    }
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    Fill(hdc, r, face);
    if (type == BS_GROUPBOX) {
        int textHeight = 12;
        RECT box{r.left, r.top + textHeight / 2, r.right, r.bottom};
        Frame(hdc, box, GetSysColor(COLOR_BTNSHADOW));
        RECT t{r.left + 8, r.top, r.right - 8, r.top + textHeight + 2};
        RECT measure = t;
        DrawText(hdc, w->text, measure, DT_CALCRECT | DT_SINGLELINE);
        Fill(hdc, RECT{t.left - 2, t.top, std::min(t.left + measure.width() + 2, r.right), t.bottom}, face);
        Text(hdc, w, w->text, t, DT_LEFT | DT_SINGLELINE, enabled);
        return;
    }
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
        Frame(hdc, r, RGB(0, 0, 0));
        if (type == BS_DEFPUSHBUTTON) Frame(hdc, RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, RGB(0, 0, 0));
        Text(hdc, w, w->text, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE, enabled);
        return;
    }
    // Check boxes and radio buttons: a 13-pixel box, then the text.
    int size = 13;
    int top = r.top + (r.height() - size) / 2;
    RECT box{r.left, top, r.left + size, top + size};
    Fill(hdc, box, RGB(255, 255, 255));
    Frame(hdc, box, RGB(0, 0, 0));
    if (w->check) {
        RECT mark{box.left + 3, box.top + 3, box.right - 3, box.bottom - 3};
        bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
        if (radio || w->check == 2) {
            Fill(hdc, mark, radio ? RGB(0, 0, 0) : GetSysColor(COLOR_BTNSHADOW));
        } else {
            Gdi pen(CreatePen(0, 1, RGB(0, 0, 0)));
            HGDIOBJ old = SelectObject(hdc, pen.get());
            MoveToEx(hdc, mark.left, mark.top, nullptr);
            LineTo(hdc, mark.right, mark.bottom);
            MoveToEx(hdc, mark.right - 1, mark.top, nullptr);
            LineTo(hdc, mark.left - 1, mark.bottom);
            SelectObject(hdc, old);
        }
    }
    RECT t{r.left + size + 4, r.top, r.right, r.bottom};
    Text(hdc, w, w->text, t, DT_LEFT | DT_VCENTER | DT_SINGLELINE, enabled);
}

void PaintStatic(const Window* w, HDC hdc, RECT r) {
    switch (w->style & SS_TYPEMASK) {
        case SS_ICON:
            if (w->image) DrawIcon(hdc, 0, 0, w->image);
            return;
        case SS_BITMAP:
            if (w->image) DrawBitmap(hdc, 0, 0, w->image);
            return;
        case SS_BLACKRECT: Fill(hdc, r, RGB(0, 0, 0)); return;
        case SS_GRAYRECT: Fill(hdc, r, GetSysColor(COLOR_BTNSHADOW)); return;
        case SS_WHITERECT: Fill(hdc, r, RGB(255, 255, 255)); return;
        // Frames draw their edge only: what is inside belongs to whoever draws there.
        case SS_BLACKFRAME: Frame(hdc, r, RGB(0, 0, 0)); return;
        case SS_GRAYFRAME: Frame(hdc, r, GetSysColor(COLOR_BTNSHADOW)); return;
        case SS_WHITEFRAME: Frame(hdc, r, RGB(255, 255, 255)); return;
        default: break;
    }
    std::uint32_t type = w->style & SS_TYPEMASK;
    UINT format = type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
    if (type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP) format |= DT_WORDBREAK;
    if (w->style & SS_NOPREFIX) format |= DT_NOPREFIX;
    Text(hdc, w, w->text, r, format, !(w->style & WS_DISABLED));
}

void PaintEditLike(const Window* w, HDC hdc, RECT r, const std::string& text) {
    Fill(hdc, r, RGB(255, 255, 255));
    Frame(hdc, r, RGB(0, 0, 0));
    RECT t{r.left + 3, r.top + 1, r.right - 2, r.bottom - 1};
    Text(hdc, w, text, t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, !(w->style & WS_DISABLED));
}

void PaintCombo(const Window* w, HDC hdc, RECT r) {
    bool simple = (w->style & 3) == CBS_SIMPLE;
    bool list = (w->style & 3) == CBS_DROPDOWNLIST;
    std::string shown = list ? (w->curSel >= 0 ? w->items[static_cast<std::size_t>(w->curSel)].text : "") : w->text;
    if (!simple) {
        PaintEditLike(w, hdc, r, shown);
        return;
    }
    int line = 16;
    PaintEditLike(w, hdc, RECT{r.left, r.top, r.right, r.top + line + 4}, shown);
    RECT box{r.left, r.top + line + 6, r.right, r.bottom};
    Fill(hdc, box, RGB(255, 255, 255));
    Frame(hdc, box, RGB(0, 0, 0));
    int y = box.top + 1;
    for (std::size_t i = 0; i < w->items.size() && y + line <= box.bottom; ++i, y += line) {
        RECT t{box.left + 1, y, box.right - 1, y + line};
        if (static_cast<int>(i) == w->curSel) Fill(hdc, t, RGB(0, 0, 128));
        HFONT font = w->font;
        HGDIOBJ oldFont = font ? SelectObject(hdc, font) : 0;
        SetBkMode(hdc, 1);
        SetTextColor(hdc, static_cast<int>(i) == w->curSel ? RGB(255, 255, 255) : RGB(0, 0, 0));
        RECT tt{t.left + 2, t.top, t.right, t.bottom};
        DrawText(hdc, w->items[i].text, tt, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        if (oldFont) SelectObject(hdc, oldFont);
    }
}

}  // namespace

void EraseBackground(HWND hwnd, HDC hdc) {
    const Window* w = Find(hwnd);
    if (!w) return;
    RECT r{0, 0, w->rect.width(), w->rect.height()};
    if (w->kind == ControlKind::kStatic) {
        std::uint32_t type = w->style & SS_TYPEMASK;
        if (type == SS_BLACKFRAME || type == SS_GRAYFRAME || type == SS_WHITEFRAME) return;
    }
    if (w->background) {
        FillRect(hdc, r, w->background);
        return;
    }
    Fill(hdc, r, GetSysColor(COLOR_BTNFACE));
}

void PaintControl(HWND hwnd, HDC hdc) {
    const Window* w = Find(hwnd);
    if (!w || !hdc) return;
    RECT r{0, 0, w->rect.width(), w->rect.height()};
    switch (w->kind) {
        case ControlKind::kButton: PaintButton(hwnd, w, hdc, r); break;
        case ControlKind::kStatic: PaintStatic(w, hdc, r); break;
        case ControlKind::kEdit: PaintEditLike(w, hdc, r, w->text); break;
        case ControlKind::kComboBox: PaintCombo(w, hdc, r); break;
        default: break;
    }
}

}  // namespace ui::detail
