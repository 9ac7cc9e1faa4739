// What a person does to the windows, as the messages it causes.
//
// Every display uses these: the headless display's scripted user and the web display's
// page. They run on the GUI thread (some move the focus first, which only the GUI thread
// may do) and post the messages a person's action would cause, so that the action takes
// effect when the code under test or the running console dispatches them. A display on
// another thread hands an action to the GUI thread with RunOnGuiThread().
#pragma once

#include <functional>
#include <string_view>

#include "ui/types.h"

namespace ui::input {

void Click(HWND control);
// Types characters into an edit field (or a simple combo box's edit part) after what it
// holds; ReplaceText selects everything first.
void Type(HWND control, std::string_view text);
void ReplaceText(HWND control, std::string_view text);
void PickItem(HWND combo, int index);
void PressKey(HWND target, UINT virtualKey);  // to the window, e.g. VK_RETURN
void ChooseSystemMenuItem(HWND window, UINT command);
void AnswerMessageBox(HWND box, int button);
void Focus(HWND control);
// A left click at (x, y) of the window's client area: button down, then up.
void MouseClick(HWND window, int x, int y);

// Whether a person can reach the window now: it exists and is visible and enabled, and so
// is the top-level window that holds it (a dialog under a modal one is disabled), which
// must not be a dialog that has already ended.
bool AcceptsInput(HWND hwnd);

// Runs `action` on the GUI thread when it next dispatches messages (from any message
// loop, modal ones included). Safe from any thread.
void RunOnGuiThread(std::function<void()> action);

}  // namespace ui::input
