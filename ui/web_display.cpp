#include "ui/web_display.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/input.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/terminal_display.h"
#include "ui/window.h"

namespace embedded {
extern const std::span<const unsigned char> index_html;
extern const std::span<const unsigned char> app_js;
extern const std::span<const unsigned char> app_css;
}  // namespace embedded

namespace ui {

using nlohmann::json;

namespace {

constexpr std::uint64_t kRebuildIntervalMs = 20;
constexpr std::size_t kServerThreads = 24;
constexpr auto kKeepAliveInterval = std::chrono::seconds(15);
constexpr auto kInputWait = std::chrono::seconds(2);
constexpr const char* kTokenHeader = "X-Veldana-Token";

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::string_view AsText(std::span<const unsigned char> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// 32 random bytes as hex; empty when the system gives none.
std::string MakeToken() {
    unsigned char bytes[32];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        got += static_cast<std::size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += digits[b >> 4];
        token += digits[b & 15];
    }
    return token;
}

// Compares without stopping at the first difference, so that timing tells nothing.
bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

const char* ControlTypeName(ControlType type) {
    switch (type) {
        case ControlType::kPushButton:
            return "push";
        case ControlType::kDefaultButton:
            return "default";
        case ControlType::kOwnerDrawButton:
            return "ownerdraw";
        case ControlType::kCheckBox:
            return "check";
        case ControlType::kRadioButton:
            return "radio";
        case ControlType::kGroupBox:
            return "group";
        case ControlType::kStaticText:
            return "text";
        case ControlType::kFrame:
            return "frame";
        case ControlType::kRectangle:
            return "rect";
        case ControlType::kIcon:
            return "icon";
        case ControlType::kBitmap:
            return "bitmap";
        case ControlType::kEdit:
            return "edit";
        case ControlType::kComboList:
            return "dropdown";
        case ControlType::kComboSimple:
            return "combo";
        case ControlType::kNone:
            break;
    }
    return "custom";
}

// Controls the page draws itself; every other child is part of its window's image.
bool DrawnByPage(ControlType type) {
    switch (type) {
        case ControlType::kPushButton:
        case ControlType::kDefaultButton:
        case ControlType::kCheckBox:
        case ControlType::kRadioButton:
        case ControlType::kGroupBox:
        case ControlType::kStaticText:
        case ControlType::kEdit:
        case ControlType::kComboList:
        case ControlType::kComboSimple:
            return true;
        default:
            return false;
    }
}

const char* IconName(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND:
            return "hand";
        case MB_ICONQUESTION:
            return "question";
        case MB_ICONEXCLAMATION:
            return "exclamation";
        case MB_ICONASTERISK:
            return "asterisk";
        default:
            return "";
    }
}

RECT RectIn(HWND top, HWND child) {
    RECT t, c;
    GetWindowRect(top, t);
    GetWindowRect(child, c);
    return RECT{c.left - t.left, c.top - t.top, c.right - t.left, c.bottom - t.top};
}

// What a person sees of a top-level window's painting: its own surface with the children
// the page does not draw itself laid over it. A frame draws its edge only, so the face
// colour inside it lets through what its window drew there.
Surface ComposeImage(HWND top) {
    Surface out;
    const Surface* own = WindowSurface(top);
    if (!own) return out;
    out = *own;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    std::vector<HWND> stack = ChildWindows(top);
    std::reverse(stack.begin(), stack.end());
    while (!stack.empty()) {
        HWND child = stack.back();
        stack.pop_back();
        if (!IsWindowVisible(child)) continue;
        ControlType type = GetControlType(child);
        if (!DrawnByPage(type)) {
            const Surface* s = WindowSurface(child);
            RECT r = RectIn(top, child);
            bool edgeOnly = type == ControlType::kFrame;
            for (int y = 0; s && y < s->height(); ++y)
                for (int x = 0; x < s->width(); ++x) {
                    COLORREF p = s->Pixel(x, y);
                    if (edgeOnly && p == face) continue;
                    out.SetPixel(r.left + x, r.top + y, p);
                }
        }
        auto grand = ChildWindows(child);
        for (auto it = grand.rbegin(); it != grand.rend(); ++it) stack.push_back(*it);
    }
    return out;
}

json MenuJson(HWND window) {
    json items = json::array();
    HMENU menu = GetSystemMenu(window, FALSE);
    if (!menu) return items;
    for (const MenuItem& item : MenuItems(menu)) {
        items.push_back({{"id", item.id},
                         {"text", item.text},
                         {"separator", (item.flags & MF_SEPARATOR) != 0},
                         {"checked", (item.flags & MF_CHECKED) != 0},
                         {"grayed", (item.flags & (MF_GRAYED | MF_DISABLED)) != 0}});
    }
    return items;
}

void AddControls(HWND top, HWND parent, json& out) {
    HWND focus = GetFocus();
    for (HWND c : ChildWindows(parent)) {
        ControlType type = GetControlType(c);
        RECT r = RectIn(top, c);
        auto style = static_cast<std::uint32_t>(GetWindowLongPtr(c, GWL_STYLE));
        json j = {{"hwnd", c},
                  {"id", GetDlgCtrlID(c)},
                  {"type", ControlTypeName(type)},
                  {"text", GetWindowText(c)},
                  {"x", r.left},
                  {"y", r.top},
                  {"w", r.right - r.left},
                  {"h", r.bottom - r.top},
                  {"visible", IsWindowVisible(c) != 0},
                  {"enabled", IsWindowEnabled(c) != 0},
                  {"focus", focus == c},
                  {"tabstop", (style & WS_TABSTOP) != 0},
                  {"group", (style & WS_GROUP) != 0}};
        switch (type) {
            case ControlType::kCheckBox:
            case ControlType::kRadioButton:
                j["check"] = GetCheck(c);
                break;
            case ControlType::kStaticText:
                j["align"] = (style & SS_TYPEMASK) == SS_CENTER  ? "center"
                             : (style & SS_TYPEMASK) == SS_RIGHT ? "right"
                                                                 : "left";
                j["noprefix"] = (style & SS_NOPREFIX) != 0;
                break;
            case ControlType::kEdit:
                j["readonly"] = (style & ES_READONLY) != 0;
                j["limit"] = SendMessage(c, EM_GETLIMITTEXT);
                break;
            case ControlType::kComboList:
            case ControlType::kComboSimple: {
                json items = json::array();
                for (int i = 0, n = ComboCount(c); i < n; ++i) items.push_back(ComboItemText(c, i));
                j["items"] = std::move(items);
                j["selection"] = ComboSelection(c);
                break;
            }
            default:
                break;
        }
        out.push_back(std::move(j));
        AddControls(top, c, out);
    }
}

struct Target {
    HWND hwnd = 0;
    std::string action;
    std::string text;
    int index = 0;
    UINT command = 0;
    UINT key = 0;
    int x = 0, y = 0;  // a mouse click, in the window's client coordinates
};

std::optional<UINT> KeyCode(std::string_view name) {
    if (name == "enter") return VK_RETURN;
    if (name == "escape") return VK_ESCAPE;
    if (name == "space") return VK_SPACE;
    if (name == "backspace") return VK_BACK;
    if (name == "tab") return VK_TAB;
    return std::nullopt;
}

// Runs one action of the page on the GUI thread, if the window can take it now.
bool Perform(const Target& t) {
    const std::string& a = t.action;
    if (a == "syscommand") {
        // The system menu of a window disabled under a modal dialog is out of reach too.
        if (!IsWindow(t.hwnd) || GetWindow(t.hwnd) != t.hwnd || !IsWindowEnabled(t.hwnd))
            return false;
        HMENU menu = GetSystemMenu(t.hwnd, FALSE);
        bool listed = t.command == SC_RESTORE;
        for (const MenuItem& item : MenuItems(menu))
            if (item.id == t.command && !(item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)))
                listed = true;
        if (!listed) return false;
        input::ChooseSystemMenuItem(t.hwnd, t.command);
        return true;
    }
    if (!input::AcceptsInput(t.hwnd)) return false;
    ControlType type = GetControlType(t.hwnd);
    bool typable = type == ControlType::kEdit || type == ControlType::kComboSimple;
    if (a == "click") {
        if (type == ControlType::kNone) return false;
        input::Click(t.hwnd);
    } else if (a == "type" && typable) {
        input::Type(t.hwnd, t.text);
    } else if (a == "replace" && typable) {
        input::ReplaceText(t.hwnd, t.text);
    } else if (a == "backspace" && typable) {
        input::Focus(t.hwnd);
        for (int i = 0; i < std::min(t.index, 4096); ++i) input::PressKey(t.hwnd, VK_BACK);
    } else if (a == "pick" &&
               (type == ControlType::kComboList || type == ControlType::kComboSimple)) {
        if (t.index < 0 || t.index >= ComboCount(t.hwnd)) return false;
        input::PickItem(t.hwnd, t.index);
    } else if (a == "focus") {
        input::Focus(t.hwnd);
    } else if (a == "key") {
        input::PressKey(t.hwnd, t.key);
    } else if (a == "mouse") {
        // A click on what the window paints itself (an icon, a picture): only where the
        // window is.
        RECT client;
        if (!GetClientRect(t.hwnd, client) || t.x < 0 || t.y < 0 || t.x >= client.right ||
            t.y >= client.bottom)
            return false;
        input::MouseClick(t.hwnd, t.x, t.y);
    } else if (a == "answer") {
        if (!GetMessageBoxInfo(t.hwnd).isMessageBox) return false;
        auto buttons = MessageBoxButtons(GetMessageBoxInfo(t.hwnd).type);
        if (std::find(buttons.begin(), buttons.end(), t.index) == buttons.end()) return false;
        input::AnswerMessageBox(t.hwnd, t.index);
    } else {
        return false;
    }
    return true;
}

// Parses an input request; an error text when it is not one.
std::optional<Target> ParseInput(const std::string& body, std::string& error) {
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "the body is not a JSON object";
        return std::nullopt;
    }
    Target t;
    auto number = [&](const char* name, auto& out) {
        auto it = j.find(name);
        if (it == j.end() || !it->is_number_integer()) return false;
        out = it->get<std::remove_reference_t<decltype(out)>>();
        return true;
    };
    if (!j.contains("action") || !j["action"].is_string() || !number("hwnd", t.hwnd)) {
        error = "an input names an action and a window (hwnd)";
        return std::nullopt;
    }
    t.action = j["action"].get<std::string>();
    if (t.action == "type" || t.action == "replace") {
        if (!j.contains("text") || !j["text"].is_string()) {
            error = "typing needs a text";
            return std::nullopt;
        }
        t.text = j["text"].get<std::string>();
    } else if (t.action == "pick" || t.action == "backspace") {
        if (!number("index", t.index)) {
            error = "an index is missing";
            return std::nullopt;
        }
    } else if (t.action == "answer") {
        if (!number("button", t.index)) {
            error = "a button is missing";
            return std::nullopt;
        }
    } else if (t.action == "syscommand") {
        if (!number("command", t.command)) {
            error = "a command is missing";
            return std::nullopt;
        }
    } else if (t.action == "key") {
        auto k = j.contains("key") && j["key"].is_string() ? KeyCode(j["key"].get<std::string>())
                                                           : std::nullopt;
        if (!k) {
            error = "unknown key";
            return std::nullopt;
        }
        t.key = *k;
    } else if (t.action == "mouse") {
        if (!number("x", t.x) || !number("y", t.y)) {
            error = "a mouse click needs x and y";
            return std::nullopt;
        }
    } else if (t.action != "click" && t.action != "focus") {
        error = "unknown action";
        return std::nullopt;
    }
    return t;
}

// Relative links between help pages keep the token, so that they can be followed.
std::string LinkHelpPages(std::string html, const std::string& token) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        std::size_t href = html.find("href=\"", pos);
        if (href == std::string::npos) break;
        std::size_t start = href + 6;
        std::size_t end = html.find('"', start);
        if (end == std::string::npos) break;
        std::string target = html.substr(start, end - start);
        out.append(html, pos, start - pos);
        bool relative = target.find(':') == std::string::npos && !target.empty() &&
                        target[0] != '#' && target[0] != '/';
        if (relative) {
            std::size_t hash = target.find('#');
            std::string name = target.substr(0, hash);
            std::string anchor = hash == std::string::npos ? "" : target.substr(hash);
            target = name + "?token=" + token + anchor;
        }
        out += target;
        pos = end;
    }
    out.append(html, pos, std::string::npos);
    return out;
}

bool SafeHelpName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'))
            return false;
    return name.find("..") == std::string_view::npos;
}

}  // namespace

struct WebDisplay::Impl {
    WebDisplayOptions options;
    Display* previous = nullptr;
    std::string token;
    std::string host;
    int port = 0;
    std::string address;  // host:port as the Host header must name it
    std::string origin;   // http://host:port
    std::string error;
    bool started = false;

    httplib::Server server;
    std::thread thread;

    // Shared with the server's threads.
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string snapshot = "{}";
    std::uint64_t version = 0;
    std::map<HWND, std::pair<std::uint64_t, std::string>> images;  // version, PNG
    std::map<std::string, std::string> helpPages;                  // name -> HTML
    int pages = 0;
    bool stopping = false;

    // GUI thread only.
    bool dirty = true;
    std::uint64_t lastBuild = 0;
    std::set<HWND> dirtyImages;
    std::map<HWND, Surface> composed;
    std::uint64_t imageVersion = 0;
    bool waitCursor = false;
    json help = nullptr;
    std::uint64_t helpSeq = 0;

    // The terminal asked about an open message box (GUI thread only).
    int ttyFd = -1;
    HWND ttyBox = 0;

    // Set while the snapshot is built: what the layer reports then comes from reading it
    // (asking for a system menu tells that the menu "changed").
    bool building = false;

    void MarkDirty(HWND hwnd) {
        if (building) return;
        dirty = true;
        if (hwnd) dirtyImages.insert(GetWindow(hwnd));
    }

    void Rebuild();
    void TerminalTurn();
    void CloseTerminal(const char* note);
    void Setup();
    bool Refuse(const httplib::Request& req, httplib::Response& res);
    void Secure(httplib::Response& res, const char* csp) const;
};

void WebDisplay::Impl::Secure(httplib::Response& res, const char* csp) const {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cross-Origin-Resource-Policy", "same-origin");
    res.set_header("Content-Security-Policy", csp);
}

constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; frame-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";
constexpr const char* kHelpPolicy =
    "default-src 'none'; style-src 'self' 'unsafe-inline'; img-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'self'";

// The checks every request passes before any handler sees it. True when it was refused
// (the response then says why).
bool WebDisplay::Impl::Refuse(const httplib::Request& req, httplib::Response& res) {
    auto refuse = [&](int status, const std::string& why) {
        res.status = status;
        res.set_content(why + "\n", "text/plain; charset=utf-8");
        Secure(res, kPagePolicy);
        return true;
    };
    // A page of another site that got the browser to resolve its name to us (DNS
    // rebinding) sends its own name as Host.
    if (req.get_header_value("Host") != address)
        return refuse(403, "forbidden: the Host header must name " + address);
    std::string given = req.has_header(kTokenHeader) ? req.get_header_value(kTokenHeader)
                                                     : req.get_param_value("token");
    if (given.empty()) return refuse(401, "unauthorized: the token is missing");
    if (!SameSecret(given, token)) return refuse(401, "unauthorized: the token is wrong");

    const std::string& p = req.path;
    bool get = req.method == "GET" || req.method == "HEAD";
    bool known = p == "/" || p == "/app.js" || p == "/app.css" || p == "/api/state" ||
                 p == "/api/events" || p == "/api/input" || p.starts_with("/surface/") ||
                 p.starts_with("/help/");
    if (!known) return refuse(404, "not found");
    if (p == "/api/input" ? req.method != "POST" : !get) {
        res.set_header("Allow", p == "/api/input" ? "POST" : "GET, HEAD");
        return refuse(405, "method not allowed");
    }
    if (req.method == "POST") {
        // Only the page itself changes anything: a page of another origin may make the
        // browser send a request with the token it stole, but not with our Origin.
        if (req.has_header("Origin")) {
            if (req.get_header_value("Origin") != origin)
                return refuse(403, "forbidden: the request comes from another origin");
        } else {
            std::string referer = req.get_header_value("Referer");
            if (!referer.empty() && !referer.starts_with(origin + "/"))
                return refuse(403, "forbidden: the request comes from another origin");
        }
        std::string site = req.get_header_value("Sec-Fetch-Site");
        if (!site.empty() && site != "same-origin" && site != "none")
            return refuse(403, "forbidden: the request comes from another site");
        // A plain HTML form cannot send JSON: this keeps cross-site form posts out.
        std::string type = req.get_header_value("Content-Type");
        std::string bare = type.substr(0, type.find(';'));
        if (bare != "application/json")
            return refuse(415, "unsupported media type: input is application/json");
    }
    return false;
}

void WebDisplay::Impl::Setup() {
    // Every open page holds a thread for its event stream, and a browser keeps several
    // connections per page: more threads than the library's default of eight.
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_keep_alive_timeout(2);
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return Refuse(req, res) ? httplib::Server::HandlerResponse::Handled
                                : httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        std::string page(AsText(embedded::index_html));
        for (std::size_t at; (at = page.find("{{TOKEN}}")) != std::string::npos;)
            page.replace(at, 9, token);
        res.set_content(page, "text/html; charset=utf-8");
        res.set_header("X-Frame-Options", "DENY");
        Secure(res, kPagePolicy);
    });
    server.Get("/app.js", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(AsText(embedded::app_js)), "text/javascript; charset=utf-8");
        Secure(res, kPagePolicy);
    });
    server.Get("/app.css", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(AsText(embedded::app_css)), "text/css; charset=utf-8");
        Secure(res, kPagePolicy);
    });
    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(mutex);
        res.set_content(snapshot, "application/json");
        Secure(res, kPagePolicy);
    });
    server.Get(R"(/surface/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
        HWND hwnd = static_cast<HWND>(std::strtoul(req.matches[1].str().c_str(), nullptr, 10));
        Secure(res, kPagePolicy);
        std::lock_guard lock(mutex);
        auto it = images.find(hwnd);
        if (it == images.end()) {
            res.status = 404;
            res.set_content("no such image\n", "text/plain");
            return;
        }
        res.set_content(it->second.second, "image/png");
    });
    server.Get(R"(/help/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        std::string name = req.matches[1].str();
        std::optional<std::string> html;
        if (SafeHelpName(name)) {
            std::lock_guard lock(mutex);
            if (auto it = helpPages.find(name); it != helpPages.end()) html = it->second;
        }
        if (!html && SafeHelpName(name) && options.helpPage) html = options.helpPage(name);
        Secure(res, kHelpPolicy);
        if (!html) {
            res.status = 404;
            res.set_content("no such help page\n", "text/plain");
            return;
        }
        res.set_content(LinkHelpPages(*html, token), "text/html; charset=utf-8");
    });
    server.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        Secure(res, kPagePolicy);
        {
            std::lock_guard lock(mutex);
            ++pages;
        }
        auto sent = std::make_shared<std::uint64_t>(0);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, sent](std::size_t, httplib::DataSink& sink) {
                std::unique_lock lock(mutex);
                changed.wait_for(lock, kKeepAliveInterval,
                                 [&] { return stopping || version != *sent; });
                if (stopping) return false;
                std::string message;
                if (version != *sent) {
                    *sent = version;
                    message = "data: " + snapshot + "\n\n";
                } else {
                    message = ": still here\n\n";
                }
                lock.unlock();
                return sink.write(message.data(), message.size());
            },
            [this](bool) {
                std::lock_guard lock(mutex);
                --pages;
            });
    });
    server.Post("/api/input", [this](const httplib::Request& req, httplib::Response& res) {
        Secure(res, kPagePolicy);
        std::string error;
        std::optional<Target> target = ParseInput(req.body, error);
        if (!target) {
            res.status = 400;
            res.set_content("bad request: " + error + "\n", "text/plain");
            return;
        }
        auto done = std::make_shared<std::promise<bool>>();
        std::future<bool> result = done->get_future();
        input::RunOnGuiThread([t = *target, done] { done->set_value(Perform(t)); });
        if (result.wait_for(kInputWait) != std::future_status::ready) {
            res.status = 202;
            res.set_content(R"({"done":false})", "application/json");
            return;
        }
        bool taken = result.get();
        res.status = taken ? 200 : 409;
        res.set_content(
            taken ? R"({"done":true})"
                  : R"({"done":false,"refused":"the window does not take this input now"})",
            "application/json");
    });
}

void WebDisplay::Impl::Rebuild() {
    if (building) return;
    building = true;
    dirty = false;
    lastBuild = NowMs();
    json windows = json::array();
    HWND focus = GetFocus();
    std::vector<std::pair<HWND, std::string>> newImages;
    std::set<HWND> alive;
    for (HWND h : AllWindows()) {
        if (GetWindow(h) != h) continue;
        alive.insert(h);
        RECT r;
        GetWindowRect(h, r);
        auto style = static_cast<std::uint32_t>(GetWindowLongPtr(h, GWL_STYLE));
        MessageBoxInfo box = GetMessageBoxInfo(h);
        bool dialog = GetClassName(h) == "#32770" || box.isMessageBox;
        const char* kind = box.isMessageBox ? "messagebox"
                           : IsIconic(h)    ? "minimized"
                           : dialog         ? "dialog"
                                            : "window";
        json w = {{"hwnd", h},
                  {"kind", kind},
                  {"class", GetClassName(h)},
                  {"title", GetWindowText(h)},
                  {"x", r.left},
                  {"y", r.top},
                  {"w", r.right - r.left},
                  {"h", r.bottom - r.top},
                  {"visible", IsWindowVisible(h) != 0 && !IsDialogEnded(h)},
                  {"enabled", IsWindowEnabled(h) != 0},
                  {"active", focus != 0 && GetWindow(focus) == h},
                  {"caption", (style & WS_CAPTION) == WS_CAPTION}};
        if (style & WS_SYSMENU) w["menu"] = MenuJson(h);
        if (box.isMessageBox) {
            json buttons = json::array();
            for (int b : MessageBoxButtons(box.type)) buttons.push_back(b);
            w["messageBox"] = {{"text", box.text},
                               {"icon", IconName(box.type)},
                               {"buttons", std::move(buttons)},
                               {"default", MessageBoxDefaultButton(box.type)}};
        }
        json controls = json::array();
        AddControls(h, h, controls);
        w["controls"] = std::move(controls);

        if (dirtyImages.count(h) || !composed.count(h)) {
            Surface image = ComposeImage(h);
            auto old = composed.find(h);
            if (old == composed.end() || !(old->second == image)) {
                newImages.emplace_back(h, EncodePng(image));
                composed[h] = std::move(image);
            }
        }
        windows.push_back(std::move(w));
    }
    dirtyImages.clear();
    building = false;
    for (auto it = composed.begin(); it != composed.end();)
        it = alive.count(it->first) ? std::next(it) : composed.erase(it);

    std::lock_guard lock(mutex);
    for (auto& [h, png] : newImages) images[h] = {++imageVersion, std::move(png)};
    for (auto it = images.begin(); it != images.end();)
        it = alive.count(it->first) ? std::next(it) : images.erase(it);
    for (json& w : windows) {
        auto it = images.find(w["hwnd"].get<HWND>());
        w["image"] = it == images.end() ? 0 : it->second.first;
    }
    json state = {
        {"version", version + 1},
        {"screen", {{"w", GetSystemMetrics(SM_CXSCREEN)}, {"h", GetSystemMetrics(SM_CYSCREEN)}}},
        {"focus", focus},
        {"wait", waitCursor},
        {"help", help},
        {"windows", std::move(windows)}};
    std::string text = state.dump();
    if (text == snapshot) return;
    snapshot = std::move(text);
    ++version;
    changed.notify_all();
}

WebDisplay::WebDisplay(WebDisplayOptions options) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.options = std::move(options);
    d.previous = CurrentDisplay();
    d.token = MakeToken();
    std::string listen = d.options.listen;
    std::size_t colon = listen.rfind(':');
    d.host = colon == std::string::npos ? listen : listen.substr(0, colon);
    int wantedPort = colon == std::string::npos ? 0 : std::atoi(listen.c_str() + colon + 1);
    if (!d.host.empty() && d.host.front() == '[' && d.host.back() == ']')
        d.host = d.host.substr(1, d.host.size() - 2);
    if (d.token.empty()) {
        d.error = "no random token could be made";
        return;
    }
    d.Setup();
    if (wantedPort == 0) {
        d.port = d.server.bind_to_any_port(d.host);
    } else if (d.server.bind_to_port(d.host, wantedPort)) {
        d.port = wantedPort;
    } else {
        d.port = -1;
    }
    if (d.port <= 0) {
        d.error = "cannot listen on " + listen;
        return;
    }
    std::string shown = d.host.find(':') != std::string::npos ? "[" + d.host + "]" : d.host;
    d.address = shown + ":" + std::to_string(d.port);
    d.origin = "http://" + d.address;
    SetDisplay(this);
    d.Rebuild();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    d.thread = std::thread([this, ended] {
        impl_->server.listen_after_bind();
        *ended = true;
    });
    // Stopping a server that has not begun to listen would not stop it: wait for it.
    while (!d.server.is_running() && !*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d.started = true;
}

WebDisplay::~WebDisplay() {
    Impl& d = *impl_;
    if (d.started) {
        SetDisplay(d.previous);
        {
            std::lock_guard lock(d.mutex);
            d.stopping = true;
        }
        d.changed.notify_all();
        d.server.stop();
        if (d.thread.joinable()) d.thread.join();
    }
    d.CloseTerminal(nullptr);
}

bool WebDisplay::Started() const {
    return impl_->started;
}
std::string WebDisplay::Error() const {
    return impl_->error;
}
std::string WebDisplay::Address() const {
    return impl_->address;
}
std::string WebDisplay::Url() const {
    return impl_->origin + "/?token=" + impl_->token;
}
const std::string& WebDisplay::Token() const {
    return impl_->token;
}
int WebDisplay::ConnectedPages() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->pages;
}

void WebDisplay::WindowCreated(HWND hwnd) {
    impl_->MarkDirty(hwnd);
}
void WebDisplay::WindowDestroyed(HWND) {
    impl_->MarkDirty(0);
}

void WebDisplay::WindowChanged(HWND hwnd) {
    impl_->MarkDirty(hwnd);
    if (NowMs() - impl_->lastBuild >= kRebuildIntervalMs) impl_->Rebuild();
}

// Long work may keep the GUI thread from waiting for a while: its drawing still reaches
// the page, at most every kRebuildIntervalMs.
void WebDisplay::SurfaceChanged(HWND hwnd) {
    impl_->MarkDirty(hwnd);
    if (NowMs() - impl_->lastBuild >= kRebuildIntervalMs) impl_->Rebuild();
}

void WebDisplay::CursorChanged(bool wait) {
    impl_->waitCursor = wait;
    impl_->MarkDirty(0);
}

bool WebDisplay::ShowHelp(std::string_view file, UINT context) {
    Impl& d = *impl_;
    if (!d.options.help) return false;
    std::optional<WebHelpPage> page = d.options.help(file, context);
    if (!page || !SafeHelpName(page->name)) return false;
    {
        std::lock_guard lock(d.mutex);
        d.helpPages[page->name] = page->html;
    }
    d.help = {{"seq", ++d.helpSeq}, {"name", page->name}, {"anchor", page->anchor}};
    d.dirty = true;
    return true;
}

bool WebDisplay::Idle(bool) {
    Impl& d = *impl_;
    if (d.dirty) d.Rebuild();
    d.TerminalTurn();
    return false;
}

// --- the terminal, for message boxes while no page is there

void WebDisplay::Impl::CloseTerminal(const char* note) {
    if (ttyFd < 0) return;
    if (note) [[maybe_unused]]
        ssize_t n = ::write(ttyFd, note, std::strlen(note));
    ::close(ttyFd);
    ttyFd = -1;
    ttyBox = 0;
}

void WebDisplay::Impl::TerminalTurn() {
    if (ttyFd >= 0 && (!IsWindow(ttyBox) || IsDialogEnded(ttyBox) || !IsWindowVisible(ttyBox))) {
        CloseTerminal("\n(answered in the browser)\n");
    }
    if (ttyFd >= 0 || options.terminal.empty()) return;
    {
        std::lock_guard lock(mutex);
        if (pages > 0) return;
    }
    HWND box = OpenMessageBoxWindow();
    if (!box) return;
    ttyFd = ::open(options.terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (ttyFd < 0) return;
    ttyBox = box;
    std::string prompt = MessageBoxPrompt(box);
    [[maybe_unused]] ssize_t n = ::write(ttyFd, prompt.data(), prompt.size());
}

void WebDisplay::AddPollFds(std::vector<pollfd>& fds) {
    if (impl_->ttyFd >= 0) fds.push_back(pollfd{impl_->ttyFd, POLLIN, 0});
}

void WebDisplay::PollFdsReady(std::span<const pollfd> fds) {
    Impl& d = *impl_;
    for (const pollfd& p : fds) {
        if (p.fd != d.ttyFd || d.ttyFd < 0 || !p.revents) continue;
        char line[64] = {};
        ssize_t n = ::read(d.ttyFd, line, sizeof line - 1);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            d.CloseTerminal(nullptr);  // the terminal went away: the page may still answer
            return;
        }
        std::optional<int> answer = ParseMessageBoxAnswer(d.ttyBox, line);
        if (!answer) {
            std::string prompt = MessageBoxPrompt(d.ttyBox);
            [[maybe_unused]] ssize_t w = ::write(d.ttyFd, prompt.data(), prompt.size());
            return;
        }
        HWND box = d.ttyBox;
        d.CloseTerminal(nullptr);
        input::AnswerMessageBox(box, *answer);
        return;
    }
}

}  // namespace ui
