// The web display: the console's windows in a browser, for the administrator.
//
// An HTTP server (on a thread of its own) serves one page that draws what the window layer
// holds and sends the person's input back. The window layer stays on the GUI thread: the
// display builds a snapshot of every window (JSON) and images of their painted surfaces
// there, in its Display callbacks, and hands them to the server under a lock; the server
// sends every change to each connected page as a server-sent event, and hands input to
// the GUI thread (ui/input.h), where it is checked against the windows as they are then.
//
// Every request must carry the token made at construction and name the listening address
// as its Host; a POST must come from the page's own origin with a JSON body. A request that
// is refused changes nothing and says why in its status. docs/web-display.md describes
// the endpoints and the rules.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/display.h"
#include "ui/types.h"

namespace ui {

struct WebHelpPage {
    std::string name;    // the page's file name, "headquarters.html"
    std::string html;    // the page as it is served
    std::string anchor;  // the element to open it at, "ctx-999" ("" = the top)
};

struct WebDisplayOptions {
    // host:port to listen on; port 0 takes any free port. Loopback unless the caller says
    // otherwise (the token is required either way).
    std::string listen = "127.0.0.1:0";
    // The help page a help request (file, context) opens; nothing when there is none.
    // Called on the GUI thread.
    std::function<std::optional<WebHelpPage>(std::string_view file, UINT context)> help;
    // A help page by name, for the links between pages; nothing for an unknown name.
    // Called on the server's threads: it must be safe to call from any thread.
    std::function<std::optional<std::string>(std::string_view name)> helpPage;
    // Ask message boxes that open while no page is connected on this terminal too
    // ("" = never). The first answer, from the page or the terminal, wins.
    std::string terminal;
};

class WebDisplay : public Display {
  public:
    // Starts the server and becomes the display in use; the previous display is put back
    // on destruction. Check Started() (and Error()) before use.
    explicit WebDisplay(WebDisplayOptions options = {});
    ~WebDisplay() override;
    WebDisplay(const WebDisplay&) = delete;
    WebDisplay& operator=(const WebDisplay&) = delete;

    bool Started() const;
    std::string Error() const;
    // The address the server listens on, host:port with the real port.
    std::string Address() const;
    // The address of the page with the token: what the administrator opens.
    std::string Url() const;
    const std::string& Token() const;
    // How many pages follow the event stream now.
    int ConnectedPages() const;

    // Display
    void WindowCreated(HWND hwnd) override;
    void WindowChanged(HWND hwnd) override;
    void WindowDestroyed(HWND hwnd) override;
    void SurfaceChanged(HWND hwnd) override;
    void CursorChanged(bool wait) override;
    bool ShowHelp(std::string_view file, UINT context) override;
    bool Idle(bool more) override;
    void AddPollFds(std::vector<pollfd>& fds) override;
    void PollFdsReady(std::span<const pollfd> fds) override;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace ui
