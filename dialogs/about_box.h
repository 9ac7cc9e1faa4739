// The About box "AboutBox": product title, version, installation source code, and the
// credits that scroll through its frame when its icon is clicked.
//
// Opening the box settles the installation source code: with none in memory or in the
// setting Source, it becomes string 24 ("PXM-QTX-Web"), kept in memory
// (settings::Registration().source) so that later downloads send it; the setting is not
// written, so that an installer's /S code can still be recorded. Enter, Esc, Ok and the
// close command end the box with 1.
//
// The credits animation draws on the dialog's own surface inside the frame 7015, one line
// every 333 ms, and blocks the GUI thread for its whole run (no messages are processed).
#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <string_view>

#include "ui/types.h"

namespace dialogs {

// Control ids of the box.
inline constexpr int kAboutTitleId = 7161;
inline constexpr int kAboutVersionId = 1259;
inline constexpr int kAboutSourceId = 7006;
inline constexpr int kAboutIconId = 7014;
inline constexpr int kAboutSecondIconId = 7236;
inline constexpr int kAboutCreditsFrameId = 7015;
inline constexpr int kAboutOkId = 1023;

// One line of the credits, in its own font.
enum class CreditsWeight { kNormal, kBold };
enum class CreditsSlant { kUpright, kItalic };
struct CreditsLine {
    std::string_view text;  // empty: an empty line
    std::string_view face;
    int points;
    CreditsWeight weight;
    CreditsSlant slant;
};
// The credits in the order they scroll.
std::span<const CreditsLine> CreditsTable();

// The time between two lines of the animation.
inline constexpr std::chrono::milliseconds kCreditsLinePause{333};

// How the animation keeps its pace: a clock and a wait until a moment of that clock. By
// default the steady clock and a sleep; tests point them at a clock of their own (and may
// look at the box between frames from inside the wait).
struct CreditsClock {
    using TimePoint = std::chrono::steady_clock::time_point;
    std::function<TimePoint()> now;
    std::function<void(TimePoint)> waitUntil;
};
struct AboutBoxState {
    CreditsClock clock;
};
AboutBoxState& AboutBox();
void ResetAboutBox();  // puts the real clock back

// Runs the box modally with the main window as owner; ends with 1 (-1 when the box could
// not be made).
ui::INT_PTR RunAboutBox(ui::HWND owner);
// Runs the credits animation once in the frame control and returns when it is over.
void ScrollCredits(ui::HWND dialog, ui::HWND frame);

}  // namespace dialogs
