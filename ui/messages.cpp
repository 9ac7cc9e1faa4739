#include "ui/messages.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "ui/internal.h"

namespace ui {
namespace {

using detail::State;

void DrainWakeFd() {
    std::uint64_t v;
    while (::read(State().wakeFd, &v, sizeof v) > 0) {
    }
}

bool Matches(HWND msgHwnd, HWND filter) {
    if (filter == 0) return true;
    for (HWND h = msgHwnd; h != 0;) {
        if (h == filter) return true;
        detail::Window* w = detail::Find(h);
        h = w ? w->parent : 0;
    }
    return false;
}

bool TakePosted(MSG& msg, HWND filter, bool remove) {
    auto& s = State();
    std::lock_guard lock(s.queueMutex);
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (!Matches(it->hwnd, filter)) continue;
        msg = *it;
        if (remove) s.queue.erase(it);
        return true;
    }
    return false;
}

bool TakeTimer(MSG& msg, HWND filter, bool remove) {
    std::uint64_t now = detail::NowMs();
    for (auto& t : State().timers) {
        if (t.due > now || !Matches(t.hwnd, filter)) continue;
        msg = MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.callback)};
        if (remove) t.due = now + std::max<UINT>(t.elapse, 1);
        return true;
    }
    return false;
}

// Pre-order: a parent is painted before its children.
HWND FirstInvalid(HWND hwnd, HWND filter) {
    detail::Window* w = detail::Find(hwnd);
    if (!w || !(w->style & WS_VISIBLE)) return 0;
    if (w->invalid && Matches(hwnd, filter)) return hwnd;
    for (HWND child : std::vector<HWND>(w->children))
        if (HWND found = FirstInvalid(child, filter)) return found;
    return 0;
}

bool TakePaint(MSG& msg, HWND filter) {
    for (HWND top : State().topLevel) {
        if (HWND h = FirstInvalid(top, filter)) {
            msg = MSG{h, WM_PAINT, 0, 0};
            return true;
        }
    }
    return false;
}

bool NextMessage(MSG& msg, HWND filter, bool remove) {
    return TakePosted(msg, filter, remove) || TakeTimer(msg, filter, remove) ||
           TakePaint(msg, filter);
}

bool QueueNonEmpty() {
    auto& s = State();
    std::lock_guard lock(s.queueMutex);
    return !s.queue.empty();
}

}  // namespace

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(detail::NowMs()); }

int QueueWakeFd() {
    return State().wakeFd;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& s = State();
    // Off the GUI thread the window table must not be read; a message for a window that
    // is gone is dropped at dispatch instead.
    if (hwnd != 0 && std::this_thread::get_id() == s.guiThread && !IsWindow(hwnd)) return FALSE;
    {
        std::lock_guard lock(s.queueMutex);
        s.queue.push_back(MSG{hwnd, message, wParam, lParam});
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(s.wakeFd, &one, sizeof one);
    return TRUE;
}

void PostQuitMessage(int exitCode) { PostMessage(0, WM_QUIT, static_cast<WPARAM>(exitCode), 0); }

int WaitForInput(std::span<pollfd> extra, int timeoutMs) {
    auto& s = State();
    MSG probe;
    if (NextMessage(probe, 0, false)) return 0;

    bool more = !s.timers.empty() || !extra.empty() || !s.watches.empty() || timeoutMs >= 0;
    if (s.display && s.display->Idle(more)) return 0;

    DrainWakeFd();
    if (QueueNonEmpty()) return 0;

    std::vector<pollfd> fds;
    fds.push_back(pollfd{s.wakeFd, POLLIN, 0});
    if (s.display) s.display->AddPollFds(fds);
    std::size_t displayEnd = fds.size();
    for (const auto& p : extra) fds.push_back(pollfd{p.fd, p.events, 0});
    const std::size_t extraEnd = fds.size();
    for (const auto& w : s.watches) fds.push_back(pollfd{w.fd, POLLIN, 0});

    long timeout = timeoutMs;
    std::uint64_t now = detail::NowMs();
    for (const auto& t : s.timers) {
        long untilDue = t.due > now ? static_cast<long>(t.due - now) : 0;
        if (timeout < 0 || untilDue < timeout) timeout = untilDue;
    }
    int rc = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long>(timeout, INT_MAX)));
    if (rc <= 0) return 0;
    if (s.display && displayEnd > 1)
        s.display->PollFdsReady(std::span<const pollfd>(fds.data() + 1, displayEnd - 1));
    int ready = 0;
    for (std::size_t i = 0; i < extra.size(); ++i) {
        extra[i].revents = fds[displayEnd + i].revents;
        if (extra[i].revents) ++ready;
    }
    // A watch's function may watch or unwatch: run copies, for descriptors still watched.
    for (std::size_t i = extraEnd; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        auto it = std::find_if(s.watches.begin(), s.watches.end(),
                               [&](const detail::UiState::Watch& w) { return w.fd == fds[i].fd; });
        if (it == s.watches.end()) continue;
        const auto onReady = it->ready;
        onReady();
    }
    return ready;
}

BOOL GetMessage(MSG& msg, HWND filter) {
    State().guiThread = std::this_thread::get_id();
    while (!NextMessage(msg, filter, true)) WaitForInput({}, -1);
    return msg.message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(MSG& msg, HWND filter, UINT removeFlags) {
    State().guiThread = std::this_thread::get_id();
    return NextMessage(msg, filter, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG&) { return FALSE; }

LRESULT DispatchMessage(const MSG& msg) {
    if (msg.message == WM_TIMER && msg.lParam != 0) {
        auto callback = reinterpret_cast<TIMERPROC>(msg.lParam);
        callback(msg.hwnd, WM_TIMER, static_cast<UINT>(msg.wParam), GetTickCount());
        return 0;
    }
    if (msg.hwnd == 0 || !IsWindow(msg.hwnd)) return 0;
    if (detail::DialogKeyMessage(msg)) return 0;
    if (msg.message == WM_PAINT) {
        LRESULT r = SendMessage(msg.hwnd, WM_PAINT, 0, 0);
        // A window that does not paint must not be asked for ever.
        if (detail::Window* w = detail::Find(msg.hwnd)) w->invalid = false;
        return r;
    }
    return SendMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void PumpMessages() {
    MSG msg;
    while (PeekMessage(msg, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the main loop to see
            return;
        }
        TranslateMessage(msg);
        DispatchMessage(msg);
    }
}

void PumpOneMessage() {
    MSG msg;
    if (!PeekMessage(msg, 0, PM_REMOVE)) return;
    if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
}

void WatchDescriptor(int fd, std::function<void()> ready) {
    auto& watches = State().watches;
    for (auto& w : watches) {
        if (w.fd == fd) {
            w.ready = std::move(ready);
            return;
        }
    }
    watches.push_back({fd, std::move(ready)});
}

void UnwatchDescriptor(int fd) {
    std::erase_if(State().watches, [fd](const detail::UiState::Watch& w) { return w.fd == fd; });
}

UINT SetTimer(HWND hwnd, UINT id, UINT elapseMs, TIMERPROC callback) {
    auto& s = State();
    if (hwnd != 0 && !IsWindow(hwnd)) return 0;
    if (hwnd == 0) id = s.nextTimerId++;
    std::uint64_t due = detail::NowMs() + std::max<UINT>(elapseMs, 1);
    for (auto& t : s.timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t = detail::Timer{hwnd, id, elapseMs, callback, due};
            return id == 0 ? 1 : id;
        }
    }
    s.timers.push_back(detail::Timer{hwnd, id, elapseMs, callback, due});
    return id == 0 ? 1 : id;
}

BOOL KillTimer(HWND hwnd, UINT id) {
    auto& timers = State().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const detail::Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}

}  // namespace ui
