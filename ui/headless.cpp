#include "ui/headless.h"

#include <cstdio>
#include <cstdlib>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/input.h"
#include "ui/internal.h"
#include "ui/message_box.h"

namespace ui {

HeadlessDisplay::HeadlessDisplay() : previous_(CurrentDisplay()) {
    SetDisplay(this);
    onStuck = [](const std::string& state) {
        std::fprintf(stderr, "headless display: the GUI thread waits with nothing left to do\n%s",
                     state.c_str());
        std::abort();
    };
}

HeadlessDisplay::~HeadlessDisplay() { SetDisplay(previous_); }

void HeadlessDisplay::Then(std::function<void()> step) { steps_.push_back(std::move(step)); }

void HeadlessDisplay::AnswerMessageBox(int button) { answers_.push_back(button); }

HWND HeadlessDisplay::TopMessageBox() const {
    auto windows = AllWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (GetMessageBoxInfo(*it).isMessageBox && IsWindowVisible(*it) && !IsDialogEnded(*it))
            return *it;
    return 0;
}

bool HeadlessDisplay::Idle(bool more) {
    if (HWND box = TopMessageBox(); box && !answers_.empty()) {
        int answer = answers_.front();
        answers_.pop_front();
        MessageBoxInfo info = GetMessageBoxInfo(box);
        boxes_.push_back(MessageBoxSeen{info.text, info.caption, info.type, answer});
        input::AnswerMessageBox(box, answer);
        return true;
    }
    if (!steps_.empty()) {
        auto step = std::move(steps_.front());
        steps_.pop_front();
        step();
        return true;
    }
    if (!more && onStuck) onStuck(DescribeWindows());
    return false;
}

void HeadlessDisplay::RunUntilIdle() {
    MSG msg;
    while (true) {
        while (PeekMessage(msg, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(msg);
            DispatchMessage(msg);
        }
        if (!Idle(true)) return;
    }
}

void HeadlessDisplay::Click(HWND control) { input::Click(control); }

void HeadlessDisplay::Click(HWND dialog, int id) { Click(GetDlgItem(dialog, id)); }

void HeadlessDisplay::Type(HWND control, std::string_view text) { input::Type(control, text); }

void HeadlessDisplay::ReplaceText(HWND control, std::string_view text) {
    input::ReplaceText(control, text);
}

void HeadlessDisplay::PickItem(HWND combo, int index) { input::PickItem(combo, index); }

bool HeadlessDisplay::PickItem(HWND combo, std::string_view text) {
    for (int i = 0; i < ComboCount(combo); ++i) {
        if (ComboItemText(combo, i) == text) {
            PickItem(combo, i);
            return true;
        }
    }
    return false;
}

void HeadlessDisplay::PressKey(HWND target, UINT virtualKey) {
    input::PressKey(target, virtualKey);
}

void HeadlessDisplay::PressKey(UINT virtualKey) {
    HWND focus = GetFocus();
    if (!focus) {
        auto windows = AllWindows();
        for (auto it = windows.rbegin(); it != windows.rend() && !focus; ++it)
            if (IsWindowVisible(*it) && GetWindow(*it) == *it) focus = *it;
    }
    PressKey(focus, virtualKey);
}

void HeadlessDisplay::ChooseSystemMenuItem(HWND window, UINT command) {
    input::ChooseSystemMenuItem(window, command);
}

HWND HeadlessDisplay::FindTopLevel(std::string_view caption) const {
    auto windows = AllWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (GetWindow(*it) == *it && IsWindowVisible(*it) && GetWindowText(*it) == caption) return *it;
    return 0;
}

bool HeadlessDisplay::WritePng(HWND hwnd, const std::string& path) {
    return ui::WritePng(ComposeWindow(hwnd), path);
}

std::string HeadlessDisplay::DescribeWindows() {
    std::string out;
    for (HWND h : AllWindows()) {
        bool top = GetWindow(h) == h;
        char line[512];
        std::snprintf(line, sizeof line, "%s%u %s id=%d \"%s\"%s%s\n", top ? "" : "    ", h,
                      GetClassName(h).c_str(), GetDlgCtrlID(h), GetWindowText(h).c_str(),
                      IsWindowVisible(h) ? "" : " hidden", IsWindowEnabled(h) ? "" : " disabled");
        out += line;
    }
    return out;
}

}  // namespace ui
