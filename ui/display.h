// What a display driver sees of the window layer, and how it feeds input back.
//
// The layer knows nothing of any display: it tells the one display in use what changed
// (always on the GUI thread) and offers it an idle turn before the GUI thread waits. A
// display turns what a person (or a test script) does into posted messages; posting is
// safe from any thread.
#pragma once

#include <poll.h>

#include <span>
#include <string_view>
#include <vector>

#include "ui/types.h"

namespace ui {

class Display {
  public:
    virtual ~Display() = default;

    virtual void WindowCreated(HWND) {}
    // Text, position, visibility, enabled state, a control's value, a menu.
    virtual void WindowChanged(HWND) {}
    virtual void WindowDestroyed(HWND) {}
    // The window's surface was drawn on.
    virtual void SurfaceChanged(HWND) {}
    virtual void Beep(UINT /*type*/) {}
    virtual void CursorChanged(bool /*wait*/) {}
    // A help file opened at a context number (an anchor of its page). False when this
    // display cannot show help.
    virtual bool ShowHelp(std::string_view /*file*/, UINT /*context*/) { return false; }

    // The GUI thread is about to wait. `more` tells whether anything else can still wake
    // it (timers, descriptors, a time limit). Returns true when the display acted (for
    // example posted input), so that the layer looks at its queue again before waiting.
    virtual bool Idle(bool /*more*/) { return false; }
    // Descriptors the GUI thread also waits on, and the report of which were ready.
    virtual void AddPollFds(std::vector<pollfd>& /*fds*/) {}
    virtual void PollFdsReady(std::span<const pollfd> /*fds*/) {}

    virtual SIZE ScreenSize() { return SIZE{1024, 768}; }
};

// The display in use (none: windows exist but nobody sees them). Not owned.
void SetDisplay(Display* display);
Display* CurrentDisplay();

}  // namespace ui
