// Internal to the window layer: the window table and the queue state that its parts
// share. Nothing outside ui/ includes this.
#pragma once

#include <sys/eventfd.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog.h"
#include "ui/display.h"
#include "ui/gdi.h"
#include "ui/menu.h"
#include "ui/messages.h"
#include "ui/window.h"

namespace ui::detail {

enum class ControlKind { kNone, kButton, kStatic, kEdit, kComboBox };

struct ListItem {
    std::string text;
    std::intptr_t data = 0;
};

struct Window {
    HWND hwnd = 0;
    std::string className;
    WNDPROC proc = nullptr;
    HWND parent = 0;  // for child windows
    HWND owner = 0;   // for owned top-level windows
    int id = 0;
    std::string text;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    RECT rect;  // relative to the parent, or the screen for top-level windows
    std::vector<HWND> children;
    std::map<int, std::intptr_t> longs;
    HFONT font = 0;
    HICON classIcon = 0;
    HBRUSH background = 0;
    HMENU systemMenu = 0;

    // Dialogs.
    bool isDialog = false;
    DLGPROC dlgProc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    SIZE baseUnits{8, 16};
    bool isMessageBox = false;
    UINT messageBoxType = 0;

    // Controls.
    ControlKind kind = ControlKind::kNone;
    int check = 0;
    std::size_t textLimit = 30000;
    std::vector<ListItem> items;
    int curSel = -1;
    HGDIOBJ image = 0;

    // Painting.
    Surface surface;
    bool invalid = true;
    bool erase = true;
    int dcCount = 0;
};

struct Timer {
    HWND hwnd = 0;
    UINT id = 0;
    UINT elapse = 0;
    TIMERPROC callback = nullptr;
    std::uint64_t due = 0;
};

struct UiState {
    // Windows (GUI thread only).
    std::map<HWND, std::unique_ptr<Window>> windows;
    std::vector<HWND> topLevel;  // creation order
    HWND nextHandle = 0x100;
    HWND focus = 0;
    std::map<std::string, WNDCLASS> classes;  // key: lower-case name
    bool builtinClasses = false;
    std::map<HDC, HWND> dcs;
    bool waitCursor = false;
    std::vector<HWND> modalLoops;  // dialogs whose DialogBox loop is running

    // Timers (GUI thread only).
    std::vector<Timer> timers;
    UINT nextTimerId = 0x7000;

    // Posted messages (any thread).
    std::mutex queueMutex;
    std::deque<MSG> queue;
    // Made with the state (whose construction is thread-safe), so any thread may post at once.
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::atomic<std::thread::id> guiThread;

    Display* display = nullptr;

    // Watched descriptors (GUI thread only).
    struct Watch {
        int fd = -1;
        std::function<void()> ready;
    };
    std::vector<Watch> watches;
};

UiState& State();
Window* Find(HWND hwnd);
std::string Lower(std::string_view s);
std::uint64_t NowMs();

// Registers BUTTON, STATIC, EDIT, COMBOBOX and the dialog class on first use.
void EnsureBuiltinClasses();
void RegisterControlClasses();

// Display notifications (no-ops without a display).
void NotifyCreated(HWND hwnd);
void NotifyChanged(HWND hwnd);
void NotifyDestroyed(HWND hwnd);
void NotifySurface(HWND hwnd);

// The dialog manager's keyboard handling; true when it consumed the message.
bool DialogKeyMessage(const MSG& msg);
// Paint handling of the built-in classes.
void PaintControl(HWND hwnd, HDC hdc);
void EraseBackground(HWND hwnd, HDC hdc);

// Messages removed from the queue for a window that is going away.
void ForgetWindowTimers(HWND hwnd);

}  // namespace ui::detail
