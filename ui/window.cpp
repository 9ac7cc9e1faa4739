#include "ui/window.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/process_state.h"
#include "ui/controls.h"
#include "ui/internal.h"

namespace ui {
namespace detail {

UiState& State() {
    static UiState state;
    return state;
}

Window* Find(HWND hwnd) {
    auto& windows = State().windows;
    auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : it->second.get();
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void NotifyCreated(HWND hwnd) {
    if (auto* d = State().display) d->WindowCreated(hwnd);
}
void NotifyChanged(HWND hwnd) {
    if (auto* d = State().display) d->WindowChanged(hwnd);
}
void NotifyDestroyed(HWND hwnd) {
    if (auto* d = State().display) d->WindowDestroyed(hwnd);
}
void NotifySurface(HWND hwnd) {
    if (auto* d = State().display) d->SurfaceChanged(hwnd);
}

void ForgetWindowTimers(HWND hwnd) {
    auto& timers = State().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.hwnd == hwnd; }),
                 timers.end());
}

void EnsureBuiltinClasses() {
    auto& s = State();
    if (s.builtinClasses) return;
    s.builtinClasses = true;
    RegisterControlClasses();
}

}  // namespace detail

using detail::Find;
using detail::State;
using detail::Window;

void SetDisplay(Display* display) { State().display = display; }
Display* CurrentDisplay() { return State().display; }

BOOL RegisterClass(const WNDCLASS& wc) {
    detail::EnsureBuiltinClasses();
    auto key = detail::Lower(wc.className);
    if (wc.className.empty() || State().classes.count(key)) return FALSE;
    State().classes.emplace(key, wc);
    return TRUE;
}

BOOL UnregisterClass(std::string_view className) {
    return State().classes.erase(detail::Lower(className)) ? TRUE : FALSE;
}

HWND CreateWindowEx(std::uint32_t exStyle, std::string_view className, std::string_view title,
                    std::uint32_t style, int x, int y, int width, int height, HWND parent, int id,
                    LPARAM createParam) {
    auto& s = State();
    detail::EnsureBuiltinClasses();
    s.guiThread = std::this_thread::get_id();
    auto cls = s.classes.find(detail::Lower(className));
    if (cls == s.classes.end()) return 0;
    if (parent != 0 && !Find(parent)) return 0;

    auto w = std::make_unique<Window>();
    HWND hwnd = s.nextHandle++;
    w->hwnd = hwnd;
    w->className = cls->second.className;
    w->proc = cls->second.proc;
    w->classIcon = cls->second.icon;
    w->background = cls->second.background;
    w->exStyle = exStyle;
    w->style = style & ~WS_VISIBLE;
    w->text = std::string(title);
    w->id = id;
    w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    w->surface.Resize(std::max(width, 0), std::max(height, 0), GetSysColor(COLOR_BTNFACE));
    if (style & WS_CHILD) {
        w->parent = parent;
        Find(parent)->children.push_back(hwnd);
    } else {
        w->owner = parent;
        s.topLevel.push_back(hwnd);
    }
    s.windows.emplace(hwnd, std::move(w));
    detail::NotifyCreated(hwnd);

    if (SendMessage(hwnd, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (style & WS_VISIBLE) ShowWindow(hwnd, (style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : SW_SHOW);
    return hwnd;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) != nullptr; }

BOOL DestroyWindow(HWND hwnd) {
    auto& s = State();
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    // Windows it owns go first, then the window, then its children.
    std::vector<HWND> owned;
    for (HWND top : s.topLevel)
        if (Window* t = Find(top); t && t->owner == hwnd) owned.push_back(top);
    for (HWND o : owned) DestroyWindow(o);
    if (!IsWindow(hwnd)) return TRUE;

    if (s.focus == hwnd) s.focus = 0;
    SendMessage(hwnd, WM_DESTROY, 0, 0);
    if (Window* again = Find(hwnd))
        for (HWND child : std::vector<HWND>(again->children)) DestroyWindow(child);
    SendMessage(hwnd, WM_NCDESTROY, 0, 0);

    w = Find(hwnd);
    if (!w) return TRUE;
    if (w->parent) {
        if (Window* p = Find(w->parent)) std::erase(p->children, hwnd);
    } else {
        std::erase(s.topLevel, hwnd);
    }
    if (w->systemMenu) DestroyMenu(w->systemMenu);
    detail::ForgetWindowTimers(hwnd);
    for (auto it = s.dcs.begin(); it != s.dcs.end();) {
        if (it->second == hwnd) {
            DeleteSurfaceDC(it->first);
            it = s.dcs.erase(it);
        } else {
            ++it;
        }
    }
    if (s.focus == hwnd) s.focus = 0;
    s.windows.erase(hwnd);
    detail::NotifyDestroyed(hwnd);
    return TRUE;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(hwnd, message, wParam, lParam);
}

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    switch (message) {
        case WM_SETTEXT:
            w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
            detail::NotifyChanged(hwnd);
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(w->text.size());
        case WM_GETTEXT: {
            auto* buffer = reinterpret_cast<char*>(lParam);
            if (!buffer || wParam == 0) return 0;
            std::size_t n = std::min<std::size_t>(w->text.size(), wParam - 1);
            std::copy_n(w->text.data(), n, buffer);
            buffer[n] = '\0';
            return static_cast<LRESULT>(n);
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC hdc = BeginPaint(hwnd, ps);
            EndPaint(hwnd, ps);
            (void)hdc;
            return 0;
        }
        case WM_ERASEBKGND:
            detail::EraseBackground(hwnd, static_cast<HDC>(wParam));
            return TRUE;
        case WM_SETFONT:
            w->font = static_cast<HFONT>(wParam);
            return 0;
        case WM_GETFONT:
            return w->font;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_QUERYOPEN:
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE:
                    SendMessage(hwnd, WM_CLOSE, 0, 0);
                    return 0;
                case SC_MINIMIZE:
                    ShowWindow(hwnd, SW_MINIMIZE);
                    return 0;
                case SC_RESTORE:
                    if (IsIconic(hwnd) && !SendMessage(hwnd, WM_QUERYOPEN, 0, 0)) return 0;
                    ShowWindow(hwnd, SW_RESTORE);
                    return 0;
                default:
                    return 0;
            }
        default:
            return 0;
    }
}

BOOL SetWindowText(HWND hwnd, std::string_view text) {
    if (!IsWindow(hwnd)) return FALSE;
    std::string copy(text);
    return SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str())) ? TRUE : FALSE;
}

std::string GetWindowText(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->text : std::string();
}

std::string GetClassName(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->className : std::string();
}

BOOL ShowWindow(HWND hwnd, int command) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    switch (command) {
        case SW_HIDE:
            w->style &= ~WS_VISIBLE;
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            w->style |= WS_VISIBLE | WS_MINIMIZE;
            break;
        case SW_RESTORE:
        case SW_SHOWNORMAL:
            w->style = (w->style | WS_VISIBLE) & ~WS_MINIMIZE;
            break;
        default:
            w->style |= WS_VISIBLE;
            break;
    }
    if (!wasVisible && (w->style & WS_VISIBLE)) {
        SendMessage(hwnd, WM_SHOWWINDOW, TRUE, 0);
        InvalidateRect(hwnd, nullptr, TRUE);
    } else if (wasVisible && !(w->style & WS_VISIBLE)) {
        SendMessage(hwnd, WM_SHOWWINDOW, FALSE, 0);
    }
    detail::NotifyChanged(hwnd);
    return wasVisible;
}

BOOL IsWindowVisible(HWND hwnd) {
    for (Window* w = Find(hwnd); w; w = Find(w->parent))
        if (!(w->style & WS_VISIBLE)) return FALSE;
    return IsWindow(hwnd);
}

BOOL IsIconic(HWND hwnd) {
    Window* w = Find(hwnd);
    return w && (w->style & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable)
        w->style &= ~WS_DISABLED;
    else
        w->style |= WS_DISABLED;
    if (wasDisabled == (enable ? TRUE : FALSE)) {
        SendMessage(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
        InvalidateRect(hwnd, nullptr, TRUE);
        detail::NotifyChanged(hwnd);
    }
    if (!enable && State().focus == hwnd) State().focus = 0;
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
    Window* w = Find(hwnd);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL ClientToScreen(HWND hwnd, POINT& p) {
    for (Window* w = Find(hwnd); w; w = Find(w->parent)) {
        p.x += w->rect.left;
        p.y += w->rect.top;
        if (!w->parent) return TRUE;
    }
    return FALSE;
}

BOOL ScreenToClient(HWND hwnd, POINT& p) {
    POINT origin;
    if (!ClientToScreen(hwnd, origin)) return FALSE;
    p.x -= origin.x;
    p.y -= origin.y;
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT& rect) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    POINT origin;
    ClientToScreen(hwnd, origin);
    rect = RECT{origin.x, origin.y, origin.x + w->rect.width(), origin.y + w->rect.height()};
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT& rect) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    rect = RECT{0, 0, w->rect.width(), w->rect.height()};
    return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) r = RECT{x, y, x + r.width(), y + r.height()};
    if (!(flags & SWP_NOSIZE)) r = RECT{r.left, r.top, r.left + std::max(cx, 0), r.top + std::max(cy, 0)};
    bool moved = r.left != w->rect.left || r.top != w->rect.top;
    bool sized = r.width() != w->rect.width() || r.height() != w->rect.height();
    w->rect = r;
    if (sized) {
        w->surface.Resize(r.width(), r.height(), GetSysColor(COLOR_BTNFACE));
        w->invalid = true;
        w->erase = true;
    }
    if (moved) SendMessage(hwnd, WM_MOVE, 0, 0);
    if (sized) {
        SendMessage(hwnd, WM_SIZE, 0,
                    static_cast<LPARAM>((r.width() & 0xffff) | ((r.height() & 0xffff) << 16)));
    }
    if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOW);
    if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
    if (moved || sized) detail::NotifyChanged(hwnd);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    BOOL ok = SetWindowPos(hwnd, HWND_TOP, x, y, width, height, SWP_NOZORDER);
    if (ok && repaint) InvalidateRect(hwnd, nullptr, TRUE);
    return ok;
}

int GetSystemMetrics(int index) {
    SIZE screen = State().display ? State().display->ScreenSize() : SIZE{1024, 768};
    switch (index) {
        case SM_CXSCREEN:
            return screen.cx;
        case SM_CYSCREEN:
            return screen.cy;
        default:
            return 0;
    }
}

HWND GetParent(HWND hwnd) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    return w->parent ? w->parent : w->owner;
}

HWND GetWindow(HWND hwnd) {
    Window* w = Find(hwnd);
    while (w && w->parent) w = Find(w->parent);
    return w ? w->hwnd : 0;
}

int GetDlgCtrlID(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->id : 0;
}

HWND FindWindow(std::string_view className, std::string_view title) {
    for (HWND top : State().topLevel) {
        Window* w = Find(top);
        if (!w) continue;
        if (!className.empty() && detail::Lower(w->className) != detail::Lower(className)) continue;
        if (!title.empty() && w->text != title) continue;
        return top;
    }
    return 0;
}

HWND SetFocus(HWND hwnd) {
    auto& s = State();
    HWND old = s.focus;
    if (hwnd != 0 && !IsWindow(hwnd)) return 0;
    if (old == hwnd) return old;
    s.focus = hwnd;
    if (old) SendMessage(old, WM_KILLFOCUS, hwnd, 0);
    if (hwnd) SendMessage(hwnd, WM_SETFOCUS, old, 0);
    if (old) detail::NotifyChanged(old);
    if (hwnd) detail::NotifyChanged(hwnd);
    return old;
}

HWND GetFocus() { return State().focus; }

HWND GetActiveWindow() { return GetWindow(State().focus); }

std::intptr_t GetWindowLongPtr(HWND hwnd, int index) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    if (index == GWL_STYLE) return static_cast<std::intptr_t>(w->style);
    if (index == GWLP_ID) return w->id;
    auto it = w->longs.find(index);
    return it == w->longs.end() ? 0 : it->second;
}

std::intptr_t SetWindowLongPtr(HWND hwnd, int index, std::intptr_t value) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    std::intptr_t old = GetWindowLongPtr(hwnd, index);
    if (index == GWL_STYLE) {
        w->style = static_cast<std::uint32_t>(value);
        detail::NotifyChanged(hwnd);
    } else if (index == GWLP_ID) {
        w->id = static_cast<int>(value);
    } else {
        w->longs[index] = value;
    }
    return old;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    w->invalid = true;
    if (erase) w->erase = true;
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    if (w->invalid && IsWindowVisible(hwnd)) {
        SendMessage(hwnd, WM_PAINT, 0, 0);
        if (Window* again = Find(hwnd)) again->invalid = false;
    }
    return TRUE;
}

HDC GetDC(HWND hwnd) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    RECT clip{0, 0, w->surface.width(), w->surface.height()};
    HDC hdc = CreateSurfaceDC(&w->surface, POINT{0, 0}, clip);
    if (hdc) {
        State().dcs[hdc] = hwnd;
        ++w->dcCount;
    }
    return hdc;
}

int ReleaseDC(HWND hwnd, HDC hdc) {
    auto& dcs = State().dcs;
    auto it = dcs.find(hdc);
    if (it == dcs.end()) return 0;
    DeleteSurfaceDC(hdc);
    dcs.erase(it);
    if (Window* w = Find(hwnd)) {
        --w->dcCount;
        detail::NotifySurface(hwnd);
    }
    return 1;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT& ps) {
    Window* w = Find(hwnd);
    ps = PAINTSTRUCT{};
    if (!w) return 0;
    ps.hdc = GetDC(hwnd);
    ps.paint = RECT{0, 0, w->rect.width(), w->rect.height()};
    w->invalid = false;
    if (w->erase) {
        w->erase = false;
        ps.erase = SendMessage(hwnd, WM_ERASEBKGND, ps.hdc, 0) ? FALSE : TRUE;
    }
    return ps.hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT& ps) {
    ReleaseDC(hwnd, ps.hdc);
    return TRUE;
}

const Surface* WindowSurface(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? &w->surface : nullptr;
}

namespace {
void ComposeInto(Surface& target, HWND hwnd, int ox, int oy) {
    Window* w = Find(hwnd);
    if (!w) return;
    for (int y = 0; y < w->surface.height(); ++y)
        for (int x = 0; x < w->surface.width(); ++x)
            target.SetPixel(ox + x, oy + y, w->surface.Pixel(x, y));
    for (HWND child : w->children) {
        Window* c = Find(child);
        if (c && (c->style & WS_VISIBLE)) ComposeInto(target, child, ox + c->rect.left, oy + c->rect.top);
    }
}
}  // namespace

Surface ComposeWindow(HWND hwnd) {
    Surface out;
    Window* w = Find(hwnd);
    if (!w) return out;
    out.Resize(w->rect.width(), w->rect.height(), 0);
    ComposeInto(out, hwnd, 0, 0);
    return out;
}

std::vector<HWND> ChildWindows(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->children : std::vector<HWND>{};
}

std::vector<HWND> AllWindows() {
    std::vector<HWND> out;
    std::vector<HWND> stack;
    for (HWND top : State().topLevel) {
        stack.push_back(top);
        while (!stack.empty()) {
            HWND h = stack.back();
            stack.pop_back();
            out.push_back(h);
            Window* w = Find(h);
            if (!w) continue;
            for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) stack.push_back(*it);
        }
    }
    return out;
}

void ResetWindowLayer() {
    auto& s = State();
    for (HWND top : std::vector<HWND>(s.topLevel)) DestroyWindow(top);
    ResetMenus();
    s.windows.clear();
    s.topLevel.clear();
    s.timers.clear();
    s.watches.clear();
    s.focus = 0;
    s.waitCursor = false;
    s.dcs.clear();
    s.modalLoops.clear();
    s.classes.clear();
    s.builtinClasses = false;
    {
        std::lock_guard lock(s.queueMutex);
        s.queue.clear();
    }
    if (s.wakeFd >= 0) {
        std::uint64_t v;
        while (::read(s.wakeFd, &v, sizeof v) > 0) {
        }
    }
}
namespace {
const platform::StateReset kResetWindowLayer{platform::StateLayer::kUi, &ResetWindowLayer};
}  // namespace

}  // namespace ui
