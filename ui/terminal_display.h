// The display of a console that runs without windows (quick run): nobody sees the windows,
// and a message box never waits for a person who is not there. A box is asked on the
// controlling terminal when there is one; otherwise it is written to standard error and
// answered with its default button, so that a scheduled run always ends.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ui/display.h"

namespace ui {

// Asking a message box on a terminal, shared by the displays that do.
// The newest open message box that waits for its answer (0 when none does).
HWND OpenMessageBoxWindow();
// The box as a terminal shows it: caption, text, and the buttons with their letters.
std::string MessageBoxPrompt(HWND box);
// The button a line typed at the prompt chooses (an empty line: the default button);
// nothing when it names no button of the box, and the prompt is to be shown again.
std::optional<int> ParseMessageBoxAnswer(HWND box, std::string_view line);

class TerminalDisplay : public Display {
public:
    // Becomes the display in use; the previous one is put back on destruction.
    // `terminal` is the device to ask on ("" = never ask, always the default).
    explicit TerminalDisplay(std::string terminal = "/dev/tty");
    ~TerminalDisplay() override;
    TerminalDisplay(const TerminalDisplay&) = delete;
    TerminalDisplay& operator=(const TerminalDisplay&) = delete;

    bool Idle(bool more) override;

private:
    int Ask(HWND box);
    Display* previous_ = nullptr;
    std::string terminal_;
};

}  // namespace ui
