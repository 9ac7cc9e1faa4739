// Windows: classes, creation and destruction, messages sent directly, texts, positions,
// visibility, focus, and painting onto each window's own surface.
//
// Positions of top-level windows are screen pixels; a child's are relative to its parent.
// Windows have no non-client area here: the client rectangle is the window's size.
// Every window owns a Surface of its size; GetDC/BeginPaint draw onto it.
#pragma once

#include <string>
#include <string_view>

#include "ui/gdi.h"
#include "ui/messages.h"
#include "ui/types.h"

namespace ui {

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// Window styles.
constexpr std::uint32_t WS_OVERLAPPED = 0x00000000;
constexpr std::uint32_t WS_TABSTOP = 0x00010000;
constexpr std::uint32_t WS_GROUP = 0x00020000;
constexpr std::uint32_t WS_THICKFRAME = 0x00040000;
constexpr std::uint32_t WS_SYSMENU = 0x00080000;
constexpr std::uint32_t WS_HSCROLL = 0x00100000;
constexpr std::uint32_t WS_VSCROLL = 0x00200000;
constexpr std::uint32_t WS_DLGFRAME = 0x00400000;
constexpr std::uint32_t WS_BORDER = 0x00800000;
constexpr std::uint32_t WS_CAPTION = 0x00C00000;
constexpr std::uint32_t WS_MAXIMIZE = 0x01000000;
constexpr std::uint32_t WS_CLIPCHILDREN = 0x02000000;
constexpr std::uint32_t WS_DISABLED = 0x08000000;
constexpr std::uint32_t WS_VISIBLE = 0x10000000;
constexpr std::uint32_t WS_MINIMIZE = 0x20000000;
constexpr std::uint32_t WS_CHILD = 0x40000000;
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000;
constexpr std::uint32_t WS_MAXIMIZEBOX = 0x00010000;
constexpr std::uint32_t WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_RESTORE = 9;

// SetWindowPos flags.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr HWND HWND_TOP = 0;
constexpr HWND HWND_NOTOPMOST = static_cast<HWND>(-2);

// System commands (WM_SYSCOMMAND).
constexpr UINT SC_SIZE = 0xF000;
constexpr UINT SC_MOVE = 0xF010;
constexpr UINT SC_MINIMIZE = 0xF020;
constexpr UINT SC_MAXIMIZE = 0xF030;
constexpr UINT SC_CLOSE = 0xF060;
constexpr UINT SC_RESTORE = 0xF120;

// GetWindowLongPtr / SetWindowLongPtr indexes.
constexpr int GWLP_USERDATA = -21;
constexpr int GWL_STYLE = -16;
constexpr int GWLP_ID = -12;
constexpr int DWLP_MSGRESULT = 0;

// GetSystemMetrics indexes.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

struct WNDCLASS {
    std::string className;
    WNDPROC proc = nullptr;
    HICON icon = 0;
    HBRUSH background = 0;  // 0: the button-face colour
    UINT style = 0;
};

// Registers a class; FALSE when the name is taken.
BOOL RegisterClass(const WNDCLASS& wc);
BOOL UnregisterClass(std::string_view className);

HWND CreateWindowEx(std::uint32_t exStyle, std::string_view className, std::string_view title,
                    std::uint32_t style, int x, int y, int width, int height, HWND parent,
                    int id = 0, LPARAM createParam = 0);
// Destroys the window, its children and the windows it owns.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);

// Calls the window procedure at once; 0 for a window that does not exist.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

BOOL SetWindowText(HWND hwnd, std::string_view text);
std::string GetWindowText(HWND hwnd);
std::string GetClassName(HWND hwnd);

BOOL ShowWindow(HWND hwnd, int command);
BOOL IsWindowVisible(HWND hwnd);  // the window and all its parents are visible
BOOL IsIconic(HWND hwnd);
BOOL EnableWindow(HWND hwnd, BOOL enable);  // returns TRUE if it was disabled
BOOL IsWindowEnabled(HWND hwnd);

BOOL GetWindowRect(HWND hwnd, RECT& rect);  // screen coordinates
BOOL GetClientRect(HWND hwnd, RECT& rect);  // (0, 0, width, height)
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint = TRUE);
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
// Converts a point from a window's client coordinates to the screen's and back.
BOOL ClientToScreen(HWND hwnd, POINT& p);
BOOL ScreenToClient(HWND hwnd, POINT& p);
int GetSystemMetrics(int index);

HWND GetParent(HWND hwnd);  // the parent of a child, else the owner
HWND GetWindow(HWND hwnd);  // top-level window that contains hwnd (itself if top-level)
int GetDlgCtrlID(HWND hwnd);
HWND FindWindow(std::string_view className, std::string_view title = {});

HWND SetFocus(HWND hwnd);
HWND GetFocus();
// The top-level window that holds the keyboard focus (0 when none does).
HWND GetActiveWindow();

std::intptr_t GetWindowLongPtr(HWND hwnd, int index);
std::intptr_t SetWindowLongPtr(HWND hwnd, int index, std::intptr_t value);

// Painting.
struct PAINTSTRUCT {
    HDC hdc = 0;
    BOOL erase = FALSE;
    RECT paint;
};
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
// Sends WM_PAINT at once when the window needs painting.
BOOL UpdateWindow(HWND hwnd);
HDC BeginPaint(HWND hwnd, PAINTSTRUCT& ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT& ps);
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
// The window's own pixels (null for a window that does not exist).
const Surface* WindowSurface(HWND hwnd);
// The window with its visible children drawn at their places, for a person to look at.
Surface ComposeWindow(HWND hwnd);

// Every window that exists, top-level windows in creation order each followed by its
// children (for displays and tests).
std::vector<HWND> AllWindows();
std::vector<HWND> ChildWindows(HWND hwnd);

// Destroys every window and timer and empties the queue, as a fresh process has it.
void ResetWindowLayer();

}  // namespace ui
