// The message queue of the GUI thread, timers, and the loops that drain it.
//
// One thread runs the window layer. Other threads may PostMessage (it is thread-safe and
// wakes a waiting GUI thread through QueueWakeFd()). GetMessage waits without spinning:
// it polls the queue's descriptor and the display's descriptors until a message is posted
// or a timer falls due. Before it blocks it offers the display an idle turn (the headless
// display runs its scripted user there). Posted messages come first, then due timers, then
// paint messages, as on Windows.
#pragma once

#include <poll.h>

#include <functional>
#include <span>

#include "ui/types.h"

namespace ui {

// Window messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_QUERYOPEN = 0x0013;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SYSCOLORCHANGE = 0x0015;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_USER = 0x0400;

// Virtual keys.
constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_TAB = 0x09;
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_ESCAPE = 0x1B;
constexpr UINT VK_SPACE = 0x20;

struct MSG {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

constexpr WPARAM MAKEWPARAM(int low, int high) {
    return static_cast<WPARAM>((static_cast<std::uint32_t>(low) & 0xffff) |
                               ((static_cast<std::uint32_t>(high) & 0xffff) << 16));
}
constexpr int LOWORD(std::uintptr_t v) {
    return static_cast<int>(v & 0xffff);
}
constexpr int HIWORD(std::uintptr_t v) {
    return static_cast<int>((v >> 16) & 0xffff);
}

// Thread-safe. False when the window does not exist (hwnd 0 posts to the thread).
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Waits for the next message; FALSE (0) when it is WM_QUIT.
BOOL GetMessage(MSG& msg, HWND filter = 0);
// Takes the next message without waiting; FALSE when there is none.
BOOL PeekMessage(MSG& msg, HWND filter = 0, UINT removeFlags = PM_REMOVE);
// Keyboard input needs no translation here (WM_CHAR is posted by the display itself).
BOOL TranslateMessage(const MSG& msg);
// Delivers a message to its window procedure (or a timer to its callback). Keys aimed at a
// dialog or one of its controls go through the dialog manager first (Enter, Escape).
LRESULT DispatchMessage(const MSG& msg);

// Removes every waiting message, translating and dispatching each, until none is left.
void PumpMessages();
// Removes and dispatches at most one waiting message.
void PumpOneMessage();

// Waits until a message may be waiting, one of `extra` is ready, or timeoutMs passes
// (-1: no limit; it is cut to the next timer). Offers the display its idle turn first.
// Returns the number of ready `extra` descriptors (their revents are set), 0 otherwise.
int WaitForInput(std::span<pollfd> extra, int timeoutMs);
// A descriptor that becomes readable when a message is posted to the GUI thread.
int QueueWakeFd();

// Descriptors the GUI thread watches besides its queue (a listening socket, a signal
// descriptor): while one is readable (or hung up), `ready` runs on the GUI thread from inside
// the wait, and should read what is there and post what it means. Watching a descriptor
// again replaces its function; the caller owns the descriptor and unwatches it first.
void WatchDescriptor(int fd, std::function<void()> ready);
void UnwatchDescriptor(int fd);

// Timers: every `elapseMs` the window gets WM_TIMER(id), or `callback` runs.
using TIMERPROC = void (*)(HWND, UINT message, UINT id, std::uint32_t tickCount);
UINT SetTimer(HWND hwnd, UINT id, UINT elapseMs, TIMERPROC callback = nullptr);
BOOL KillTimer(HWND hwnd, UINT id);

// Milliseconds of a monotonic clock (the system tick count).
std::uint32_t GetTickCount();

}  // namespace ui
