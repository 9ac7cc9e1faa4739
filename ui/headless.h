// The headless display: a scripted user for tests.
//
// Steps given to Then() run one at a time whenever the GUI thread would otherwise wait
// (inside any message loop, modal ones included). Actions post the same messages a person
// would cause, so they take effect when the code under test dispatches them. A message box
// that opens is answered from the answers given to AnswerMessageBox(), in order, and
// recorded. When the GUI thread would wait with nothing left to do (no step, no answer, no
// timer) the display reports it stuck: by default it prints the open windows and aborts,
// so that a test fails instead of hanging.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/display.h"
#include "ui/gdi.h"
#include "ui/types.h"

namespace ui {

class HeadlessDisplay : public Display {
  public:
    // Becomes the display in use; the previous one is put back on destruction.
    HeadlessDisplay();
    ~HeadlessDisplay() override;
    HeadlessDisplay(const HeadlessDisplay&) = delete;
    HeadlessDisplay& operator=(const HeadlessDisplay&) = delete;

    // --- the script
    void Then(std::function<void()> step);
    void AnswerMessageBox(int button);
    std::size_t PendingSteps() const { return steps_.size(); }
    // Dispatches messages until none is waiting and no step is left.
    void RunUntilIdle();

    struct MessageBoxSeen {
        std::string text;
        std::string caption;
        UINT type = 0;
        int answer = 0;
    };
    const std::vector<MessageBoxSeen>& MessageBoxes() const { return boxes_; }
    int Beeps() const { return beeps_; }
    struct HelpSeen {
        std::string file;
        UINT context = 0;
    };
    const std::vector<HelpSeen>& HelpShown() const { return help_; }

    // --- what a person does
    void Click(HWND control);
    void Click(HWND dialog, int id);
    // Types characters into an edit field (or a simple combo box's edit part) after what
    // it holds; ReplaceText selects everything first.
    void Type(HWND control, std::string_view text);
    void ReplaceText(HWND control, std::string_view text);
    void PickItem(HWND combo, int index);
    bool PickItem(HWND combo, std::string_view text);  // false when no item has that text
    void PressKey(HWND target, UINT virtualKey);       // to the window, e.g. VK_RETURN
    void PressKey(UINT virtualKey);                    // to the window with the focus
    void ChooseSystemMenuItem(HWND window, UINT command);

    // --- what a person sees
    // The newest visible top-level window with this caption (0 when there is none).
    HWND FindTopLevel(std::string_view caption) const;
    HWND TopMessageBox() const;
    static bool WritePng(HWND hwnd, const std::string& path);

    // Called when the GUI thread would wait for ever; the default prints and aborts.
    std::function<void(const std::string& state)> onStuck;
    // A description of every window, for failure messages.
    static std::string DescribeWindows();

    // Display
    bool Idle(bool more) override;
    void Beep(UINT) override { ++beeps_; }
    bool ShowHelp(std::string_view file, UINT context) override {
        help_.push_back({std::string(file), context});
        return true;
    }
    SIZE ScreenSize() override { return screen_; }
    void SetScreenSize(SIZE s) { screen_ = s; }

  private:
    Display* previous_ = nullptr;
    std::deque<std::function<void()>> steps_;
    std::deque<int> answers_;
    std::vector<MessageBoxSeen> boxes_;
    int beeps_ = 0;
    std::vector<HelpSeen> help_;
    SIZE screen_{1024, 768};
};

}  // namespace ui
