// The transfer progress window: one modeless window made from the GETFILE template, with a
// status text, a progress bar drawn by the program and a Cancel button. Nested users open
// and close levels of it; the window closes when the last level does, and closing an
// inner level puts back the text of the level below. Cancel closes the window at once and
// sets TransferCancelRequested, which the running transfer reads.
//
// The work below this window (resolving, building databases) reaches it only through the
// window layer's ProgressReport (ui/progress.h), which InstallProgressWindow installs.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "ui/dialog.h"
#include "ui/gdi.h"

namespace progress {

// Sent to the window to make it end itself (WM_USER + 108).
constexpr ui::UINT WM_CLOSE_TRANSFER_STATUS = 1132;
constexpr int kStatusTextId = 100;
constexpr int kCancelButtonId = 2;
constexpr int kBarAreaId = 7219;
constexpr int kStatusLevels = 10;

struct TransferStatusState {
    ui::HWND window = 0;  // 0 while no window is open; shared by every user of the window
    bool TransferActive = false;           // a transaction runs: the bar is repainted
    bool TransferCancelRequested = false;  // Cancel was used
    int depth = 0;
    std::array<std::string, kStatusLevels> texts;
    bool barShown = false;
    bool cancelShown = false;
    int percentage = 0;  // share of the file received, 0..100

    // Drawing objects, from the first bar drawing to the close of the window.
    bool haveDrawingObjects = false;
    ui::HPEN darkBluePen = 0;
    ui::HPEN whitePen = 0;
    ui::HBRUSH yellowBrush = 0;
    ui::HBRUSH blueBrush = 0;
    ui::RECT bar;
};
TransferStatusState& TransferStatus();
// Closes the window and forgets every level; the window stays installed as the report.
void ResetTransferStatus();
// Makes this window the progress report of the work below it (ui/progress.h).
void InstallProgressWindow();

// How ShowTransferStatus treats the level stack, the window's parts and its painting.
enum class StatusLevel { kSame, kNew };
struct StatusParts {
    bool cancel = true;  // the Cancel button; counts only when the window is created
    bool bar = true;     // the progress bar; counts only when the window is created
};
enum class StatusPaint { kNow, kLater };

// Opens the window if it is not open, sets the text (none: keeps it), records the level
// (kNew opens one more), redraws the bar and, with kNow, updates the window at once.
void ShowTransferStatus(std::optional<std::string_view> text, StatusLevel level,
                        StatusParts parts = {}, StatusPaint paint = StatusPaint::kNow);
// Closes one level, or all of them.
enum class StatusClose { kOneLevel, kAll };
void CloseTransferStatus(StatusClose close);
ui::INT_PTR TransferStatusProc(ui::HWND hwnd, ui::UINT message, ui::WPARAM wParam,
                               ui::LPARAM lParam);

// For work that cannot be cancelled (resolving, building databases): a window of the same
// kind without its Cancel button, outside the level stack.
// Opens one as the shared window unless a window is open already; true when it opened it.
bool OpenSharedProgressWindow(std::string_view text);
// A window of its own, not shared; 0 when it cannot be made.
ui::HWND OpenPrivateProgressWindow(std::string_view text);
// Sets the shared window's text when a window is open.
void SetProgressText(std::string_view text);
// Destroys the shared window, whoever opened it, and forgets it.
void DestroySharedProgressWindow();

}  // namespace progress
