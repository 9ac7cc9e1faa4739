#include "ui/input.h"

#include <map>
#include <mutex>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/messages.h"
#include "ui/window.h"

namespace ui {

namespace detail {
constexpr UINT kUserPickItem = 0x03F0;
}

namespace input {
namespace {

// Actions waiting for the GUI thread. Each travels as a posted timer message for no window
// whose callback runs the action of its number: any message loop dispatches it, and an
// action whose message was thrown away (the window layer reset) is never run.
struct PendingActions {
    std::mutex mutex;
    std::map<UINT, std::function<void()>> actions;
    UINT next = 1;
};

PendingActions& Pending() {
    static PendingActions pending;
    return pending;
}

void RunPending(HWND, UINT, UINT id, std::uint32_t) {
    std::function<void()> action;
    {
        auto& p = Pending();
        std::lock_guard lock(p.mutex);
        auto it = p.actions.find(id);
        if (it == p.actions.end()) return;
        action = std::move(it->second);
        p.actions.erase(it);
    }
    action();
}

}  // namespace

void Click(HWND control) {
    if (GetControlType(control) == ControlType::kNone) return;
    PostMessage(control, BM_CLICK, 0, 0);
}

void Type(HWND control, std::string_view text) {
    SetFocus(control);
    for (char c : text) PostMessage(control, WM_CHAR, static_cast<unsigned char>(c), 0);
}

void ReplaceText(HWND control, std::string_view text) {
    SetFocus(control);
    PostMessage(control, EM_SETSEL, 0, -1);
    if (text.empty()) {
        PostMessage(control, WM_CHAR, VK_BACK, 0);
        return;
    }
    for (char c : text) PostMessage(control, WM_CHAR, static_cast<unsigned char>(c), 0);
}

void PickItem(HWND combo, int index) {
    PostMessage(combo, detail::kUserPickItem, static_cast<WPARAM>(index), 0);
}

void PressKey(HWND target, UINT virtualKey) {
    PostMessage(target, WM_KEYDOWN, virtualKey, 0);
    if (virtualKey == VK_RETURN || virtualKey == VK_ESCAPE || virtualKey == VK_BACK)
        PostMessage(target, WM_CHAR, virtualKey, 0);
    PostMessage(target, WM_KEYUP, virtualKey, 0);
}

void ChooseSystemMenuItem(HWND window, UINT command) {
    PostMessage(window, WM_SYSCOMMAND, command, 0);
}

void AnswerMessageBox(HWND box, int button) {
    PostMessage(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                static_cast<LPARAM>(GetDlgItem(box, button)));
}

void Focus(HWND control) {
    SetFocus(control);
}

bool AcceptsInput(HWND hwnd) {
    if (!IsWindow(hwnd) || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return false;
    HWND top = GetWindow(hwnd);
    return IsWindowEnabled(top) && !IsDialogEnded(top);
}

void RunOnGuiThread(std::function<void()> action) {
    UINT id;
    {
        auto& p = Pending();
        std::lock_guard lock(p.mutex);
        id = p.next++;
        if (p.next == 0) p.next = 1;
        p.actions.emplace(id, std::move(action));
    }
    PostMessage(0, WM_TIMER, id, reinterpret_cast<LPARAM>(&RunPending));
}

void MouseClick(HWND window, int x, int y) {
    const LPARAM at = static_cast<LPARAM>((static_cast<std::uint32_t>(x) & 0xffff) |
                                          ((static_cast<std::uint32_t>(y) & 0xffff) << 16));
    PostMessage(window, WM_LBUTTONDOWN, 0, at);
    PostMessage(window, WM_LBUTTONUP, 0, at);
}

}  // namespace input
}  // namespace ui
