// The web display as a browser meets it: an HTTP client on another thread reads the
// snapshot, follows the event stream and sends input while the GUI thread runs its loop;
// and every request the security rules refuse changes nothing.
#include "ui/web_display.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/window.h"

namespace {

using namespace ui;
using nlohmann::json;

constexpr int kCheckId = 30;
constexpr int kEditId = 40;
constexpr int kComboId = 50;
constexpr int kDisabledId = 60;
constexpr int kHiddenId = 61;
constexpr int kBarId = 70;

std::vector<std::string> g_log;

DialogTemplate SampleTemplate() {
    DialogTemplate t;
    t.name = "SAMPLE";
    t.caption = "Sample";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.x = 20;
    t.y = 20;
    t.cx = 200;
    t.cy = 120;
    t.controls = {
        {"BUTTON", IDOK, "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 10, 100, 40, 14},
        {"BUTTON", IDCANCEL, "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 60, 100, 40, 14},
        {"BUTTON", 10, "&Work", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 10, 10, 50,
         10},
        {"BUTTON", 11, "&Leisure", BS_AUTORADIOBUTTON | WS_VISIBLE, 10, 22, 50, 10},
        {"BUTTON", kCheckId, "Category", BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 10,
         40, 80, 10},
        {"EDIT", kEditId, "", ES_AUTOHSCROLL | WS_TABSTOP | WS_VISIBLE, 10, 55, 80, 12},
        {"COMBOBOX", kComboId, "", CBS_SIMPLE | CBS_SORT | WS_VISIBLE, 100, 10, 90, 50},
        {"BUTTON", kDisabledId, "Off", BS_AUTOCHECKBOX | WS_DISABLED | WS_VISIBLE, 100, 70, 40, 10},
        {"BUTTON", kHiddenId, "Unseen", BS_AUTOCHECKBOX, 150, 70, 40, 10},
        {"STATIC", kBarId, "", SS_GRAYFRAME | WS_VISIBLE, 10, 80, 80, 10},
    };
    return t;
}

INT_PTR LoggingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SendDlgItemMessage(hwnd, kEditId, EM_LIMITTEXT, 5);
        for (const char* s : {"pear", "apple", "fig"})
            ComboAddString(GetDlgItem(hwnd, kComboId), s);
        CheckRadioButton(hwnd, 10, 11, 10);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        g_log.push_back(std::to_string(LOWORD(wParam)) + ":" + std::to_string(HIWORD(wParam)));
        return TRUE;
    }
    return FALSE;
}

// Paints the frame as a progress bar does: from outside, with a DC of its own.
void PaintBar(HWND dialog) {
    HWND bar = GetDlgItem(dialog, kBarId);
    HDC hdc = GetDC(bar);
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    RECT r{1, 1, 40, 9};
    FillRect(hdc, r, blue);
    DeleteObject(blue);
    ReleaseDC(bar, hdc);
}

// A child's rectangle in its dialog's client coordinates.
RECT RectOf(HWND child) {
    RECT c, d;
    GetWindowRect(child, c);
    GetWindowRect(GetWindow(child), d);
    return RECT{c.left - d.left, c.top - d.top, c.right - d.left, c.bottom - d.top};
}

class WebDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowLayer();
        g_log.clear();
        ASSERT_TRUE(display.Started()) << display.Error();
        dialog = CreateDialogIndirect(SampleTemplate(), 0, LoggingProc);
        ShowWindow(dialog, SW_SHOW);
        PaintBar(dialog);
        port = std::stoi(display.Address().substr(display.Address().rfind(':') + 1));
    }
    void TearDown() override { ResetWindowLayer(); }

    // Runs `client` on another thread while this (the GUI) thread runs its message loop.
    void Drive(const std::function<void()>& client) {
        std::thread t([&] {
            client();
            PostQuitMessage(0);
        });
        MSG msg;
        while (GetMessage(msg)) {
            TranslateMessage(msg);
            DispatchMessage(msg);
        }
        t.join();
    }

    httplib::Headers Auth() const { return {{"X-Veldana-Token", display.Token()}}; }
    httplib::Headers PostHeaders() const {
        return {{"X-Veldana-Token", display.Token()}, {"Origin", "http://" + display.Address()}};
    }

    json State(httplib::Client& cli) const {
        auto res = cli.Get("/api/state", Auth());
        if (!res || res->status != 200) return json::object();
        return json::parse(res->body);
    }
    static json Control(const json& state, HWND hwnd) {
        for (const json& w : state.value("windows", json::array()))
            for (const json& c : w["controls"])
                if (c["hwnd"] == hwnd) return c;
        return json::object();
    }
    // Reads the snapshot until `ready` holds for it (the GUI thread works meanwhile).
    json WaitFor(httplib::Client& cli, const std::function<bool(const json&)>& ready) const {
        json s;
        for (int i = 0; i < 500; ++i) {
            s = State(cli);
            if (ready(s)) return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return s;
    }
    int Post(httplib::Client& cli, const json& body) const {
        auto res = cli.Post("/api/input", PostHeaders(), body.dump(), "application/json");
        return res ? res->status : -1;
    }

    WebDisplay display;
    HWND dialog = 0;
    int port = 0;
};

TEST_F(WebDisplayTest, SnapshotShowsTheDialogAndItsControls) {
    json state;
    HWND combo = GetDlgItem(dialog, kComboId), work = GetDlgItem(dialog, 10);
    Drive([&] {
        httplib::Client cli("127.0.0.1", port);
        // Snapshots made while the dialog was being built show it half made: wait for the
        // one after its initialisation.
        state = WaitFor(cli, [&](const json& s) {
            return Control(s, combo).value("items", json::array()).size() == 3 &&
                   Control(s, work).value("check", 0) == 1;
        });
    });
    ASSERT_TRUE(state.contains("windows"));
    const json* win = nullptr;
    for (const json& w : state["windows"])
        if (w["hwnd"] == dialog) win = &w;
    ASSERT_NE(win, nullptr) << state.dump(1);
    EXPECT_EQ((*win)["title"], "Sample");
    EXPECT_EQ((*win)["kind"], "dialog");
    EXPECT_TRUE((*win)["visible"]);
    RECT r;
    GetWindowRect(dialog, r);
    EXPECT_EQ((*win)["x"], r.left);
    EXPECT_EQ((*win)["w"], r.right - r.left);
    EXPECT_GT((*win)["image"].get<int>(), 0);
    EXPECT_FALSE((*win)["menu"].empty());

    auto c = [&](int id) { return Control(state, GetDlgItem(dialog, id)); };
    EXPECT_EQ(c(IDOK)["type"], "default");
    EXPECT_EQ(c(10)["type"], "radio");
    EXPECT_EQ(c(10)["check"], 1);
    EXPECT_EQ(c(11)["check"], 0);
    EXPECT_EQ(c(kCheckId)["check"], 0);
    EXPECT_FALSE(c(kDisabledId)["enabled"]);
    EXPECT_FALSE(c(kHiddenId)["visible"]);
    EXPECT_EQ(c(kEditId)["limit"], 5);
    EXPECT_EQ(c(kComboId)["type"], "combo");
    EXPECT_EQ(c(kComboId)["items"], json::array({"apple", "fig", "pear"}));
    POINT origin{0, 0};
    ClientToScreen(GetDlgItem(dialog, kEditId), origin);
    EXPECT_EQ(c(kEditId)["x"], origin.x - r.left);
}

TEST_F(WebDisplayTest, InputClicksTypesAndPicksAsThePersonWould) {
    json afterClick, afterType, afterPick;
    HWND check = GetDlgItem(dialog, kCheckId);
    HWND edit = GetDlgItem(dialog, kEditId);
    HWND combo = GetDlgItem(dialog, kComboId);
    HWND disabled = GetDlgItem(dialog, kDisabledId);
    Drive([&] {
        httplib::Client cli("127.0.0.1", port);
        EXPECT_EQ(Post(cli, {{"action", "click"}, {"hwnd", check}}), 200);
        afterClick =
            WaitFor(cli, [&](const json& s) { return Control(s, check).value("check", 0) == 1; });
        // The console's limit of five characters applies to what is typed.
        EXPECT_EQ(Post(cli, {{"action", "type"}, {"hwnd", edit}, {"text", "abcdefg"}}), 200);
        afterType = WaitFor(
            cli, [&](const json& s) { return Control(s, edit).value("text", "") == "abcde"; });
        EXPECT_EQ(Post(cli, {{"action", "pick"}, {"hwnd", combo}, {"index", 1}}), 200);
        afterPick = WaitFor(
            cli, [&](const json& s) { return Control(s, combo).value("selection", -1) == 1; });
        // A disabled control takes nothing.
        EXPECT_EQ(Post(cli, {{"action", "click"}, {"hwnd", disabled}}), 409);
    });
    EXPECT_EQ(Control(afterClick, check)["check"], 1);
    EXPECT_EQ(Control(afterType, edit)["text"], "abcde");
    EXPECT_TRUE(Control(afterType, edit)["focus"]);
    EXPECT_EQ(Control(afterPick, combo)["text"], "fig");
    EXPECT_EQ(IsDlgButtonChecked(dialog, kCheckId), BST_CHECKED);
    EXPECT_EQ(GetDlgItemText(dialog, kEditId), "abcde");
    EXPECT_EQ(IsDlgButtonChecked(dialog, kDisabledId), BST_UNCHECKED);
    // The dialog heard what a person's actions tell it.
    auto has = [](const std::string& entry) {
        return std::find(g_log.begin(), g_log.end(), entry) != g_log.end();
    };
    EXPECT_TRUE(has(std::to_string(kCheckId) + ":" + std::to_string(BN_CLICKED)));
    EXPECT_TRUE(has(std::to_string(kEditId) + ":" + std::to_string(EN_CHANGE)));
    EXPECT_TRUE(has(std::to_string(kComboId) + ":" + std::to_string(CBN_SELCHANGE)));
}

TEST_F(WebDisplayTest, EventStreamDeliversAChange) {
    HWND check = GetDlgItem(dialog, kCheckId);
    bool sawChecked = false;
    int events = 0;
    Drive([&] {
        httplib::Client stream("127.0.0.1", port);
        httplib::Client cli("127.0.0.1", port);
        std::string buffer;
        stream.Get("/api/events?token=" + display.Token(), [&](const char* data, size_t n) {
            buffer.append(data, n);
            for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
                std::string event = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                if (!event.starts_with("data: ")) continue;
                json s = json::parse(event.substr(6));
                if (++events == 1) {
                    EXPECT_EQ(display.ConnectedPages(), 1);
                    Post(cli, {{"action", "click"}, {"hwnd", check}});
                }
                if (Control(s, check).value("check", 0) == 1) sawChecked = true;
            }
            return !sawChecked && events < 50;
        });
    });
    EXPECT_TRUE(sawChecked);
    EXPECT_GE(events, 2);
}

// A PNG as the page gets it: its size and pixel rows (8-bit RGB, no filter, as EncodePng
// writes them), inflated. Empty when it is not such a PNG.
struct DecodedPng {
    std::uint32_t width = 0, height = 0;
    std::vector<unsigned char> raw;
    COLORREF Pixel(int x, int y) const {
        std::size_t at = static_cast<std::size_t>(y) * (1 + 3 * width) + 1 + 3 * x;
        return RGB(raw[at], raw[at + 1], raw[at + 2]);
    }
};

DecodedPng DecodePng(const std::string& png) {
    DecodedPng out;
    if (png.size() < 33 || png.substr(0, 8) != std::string("\x89PNG\r\n\x1a\n", 8)) return out;
    auto be32 = [&](std::size_t at) {
        auto b = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(png[i]));
        };
        return b(at) << 24 | b(at + 1) << 16 | b(at + 2) << 8 | b(at + 3);
    };
    std::string idat;
    for (std::size_t at = 8; at + 8 <= png.size();) {
        std::uint32_t len = be32(at);
        if (png.substr(at + 4, 4) == "IDAT") idat += png.substr(at + 8, len);
        at += 12 + len;
    }
    std::uint32_t width = be32(16), height = be32(20);
    std::vector<unsigned char> raw(static_cast<std::size_t>(height) * (1 + 3 * width));
    uLongf size = raw.size();
    if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(idat.data()), idat.size()) !=
            Z_OK ||
        size != raw.size())
        return out;
    out.width = width;
    out.height = height;
    out.raw = std::move(raw);
    return out;
}

// The window's image is what a person sees of its painting: the bar drawn into a frame
// and, inside the frame's edge, what the dialog drew on itself (as the About box does).
TEST_F(WebDisplayTest, SurfaceImageShowsThePaintingAtItsPlace) {
    RECT bar = RectOf(GetDlgItem(dialog, kBarId));
    PumpMessages();  // the dialog's own painting first: it would erase what is drawn now
    {
        HDC hdc = GetDC(dialog);
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        RECT own{bar.left + 50, bar.top + 2, bar.left + 60, bar.top + 8};
        FillRect(hdc, own, red);
        DeleteObject(red);
        ReleaseDC(dialog, hdc);
    }
    RECT r;
    GetWindowRect(dialog, r);
    DecodedPng image;
    std::string type, cache;
    Drive([&] {
        httplib::Client cli("127.0.0.1", port);
        for (int i = 0; i < 500; ++i) {
            int version = 0;
            for (const json& w : State(cli).value("windows", json::array()))
                if (w["hwnd"] == dialog) version = w["image"];
            auto res = cli.Get("/surface/" + std::to_string(dialog) +
                               "?v=" + std::to_string(version) + "&token=" + display.Token());
            if (res && res->status == 200) {
                type = res->get_header_value("Content-Type");
                cache = res->get_header_value("Cache-Control");
                image = DecodePng(res->body);
                if (image.width && image.Pixel(bar.left + 55, bar.top + 5) == RGB(255, 0, 0)) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    EXPECT_EQ(type, "image/png");
    EXPECT_EQ(cache, "no-store");
    ASSERT_EQ(image.width, static_cast<std::uint32_t>(r.right - r.left));
    ASSERT_EQ(image.height, static_cast<std::uint32_t>(r.bottom - r.top));
    EXPECT_EQ(image.Pixel(bar.left + 5, bar.top + 5), RGB(0, 0, 255));   // the bar
    EXPECT_EQ(image.Pixel(bar.left + 55, bar.top + 5), RGB(255, 0, 0));  // the dialog's own
    EXPECT_EQ(image.Pixel(bar.left, bar.top + 5), GetSysColor(COLOR_BTNSHADOW));  // the edge
}

// A message box answered from the page; the dialog under it takes no input meanwhile.
TEST_F(WebDisplayTest, MessageBoxIsModalAndAnsweredFromThePage) {
    HWND check = GetDlgItem(dialog, kCheckId);
    int answer = 0;
    std::thread client([&] {
        httplib::Client cli("127.0.0.1", port);
        json s = WaitFor(cli, [](const json& st) {
            for (const json& w : st.value("windows", json::array()))
                if (w["kind"] == "messagebox") return true;
            return false;
        });
        HWND box = 0;
        for (const json& w : s["windows"])
            if (w["kind"] == "messagebox") {
                box = w["hwnd"];
                EXPECT_EQ(w["messageBox"]["text"], "Save the changes?");
                EXPECT_EQ(w["messageBox"]["buttons"], json::array({IDYES, IDNO}));
                EXPECT_EQ(w["messageBox"]["icon"], "question");
            }
        for (const json& w : s["windows"])
            if (w["hwnd"] == dialog) {
                EXPECT_FALSE(w["enabled"]);
            }
        EXPECT_EQ(Post(cli, {{"action", "click"}, {"hwnd", check}}), 409);
        EXPECT_EQ(Post(cli, {{"action", "answer"}, {"hwnd", box}, {"button", IDNO}}), 200);
    });
    answer = MessageBox(dialog, "Save the changes?", "Sample", MB_YESNO | MB_ICONQUESTION);
    client.join();
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(IsDlgButtonChecked(dialog, kCheckId), BST_UNCHECKED);
}

TEST_F(WebDisplayTest, HelpOpensThePageAtItsAnchor) {
    ResetWindowLayer();
    WebDisplayOptions options;
    options.help = [](std::string_view, UINT context) -> std::optional<WebHelpPage> {
        return WebHelpPage{"hq.html", "<p id=\"ctx-1\"><a href=\"other.html#ctx-2\">x</a>",
                           "ctx-" + std::to_string(context)};
    };
    WebDisplay helped(options);
    ASSERT_TRUE(helped.Started());
    ASSERT_TRUE(helped.ShowHelp("VDP.HLP", 999));
    int helpPort = std::stoi(helped.Address().substr(helped.Address().rfind(':') + 1));
    json help;
    std::string page;
    Drive([&] {
        httplib::Client cli("127.0.0.1", helpPort);
        httplib::Headers auth{{"X-Veldana-Token", helped.Token()}};
        auto res = cli.Get("/api/state", auth);
        ASSERT_TRUE(res);
        help = json::parse(res->body)["help"];
        auto p = cli.Get("/help/hq.html", auth);
        ASSERT_TRUE(p);
        page = p->body;
    });
    EXPECT_EQ(help["name"], "hq.html");
    EXPECT_EQ(help["anchor"], "ctx-999");
    EXPECT_NE(page.find("other.html?token=" + helped.Token() + "#ctx-2"), std::string::npos);
}

// Every request the rules refuse is answered with its reason and changes nothing.
TEST_F(WebDisplayTest, RefusedRequestsChangeNothing) {
    HWND check = GetDlgItem(dialog, kCheckId);
    const std::string click = json{{"action", "click"}, {"hwnd", check}}.dump();
    const std::string form = "action=click&hwnd=" + std::to_string(check);
    struct Case {
        const char* name;
        const char* method;
        std::string path;
        httplib::Headers headers;
        std::string body;
        std::string type;
        int status;
    };
    const std::string self = "http://" + display.Address();
    const std::string token = display.Token();
    const std::string wrong(token.size(), '0');
    std::vector<Case> cases = {
        {"no token", "POST", "/api/input", {{"Origin", self}}, click, "application/json", 401},
        {"no token (page)", "GET", "/", {}, "", "", 401},
        {"wrong token",
         "POST",
         "/api/input",
         {{"X-Veldana-Token", wrong}, {"Origin", self}},
         click,
         "application/json",
         401},
        {"wrong token (query)", "GET", "/api/state?token=" + wrong, {}, "", "", 401},
        {"foreign Host",
         "POST",
         "/api/input",
         {{"X-Veldana-Token", token},
          {"Origin", self},
          {"Host", "evil.example:" + std::to_string(port)}},
         click,
         "application/json",
         403},
        {"foreign Host (page)",
         "GET",
         "/?token=" + token,
         {{"Host", "localhost.evil.example"}},
         "",
         "",
         403},
        {"foreign Origin",
         "POST",
         "/api/input",
         {{"X-Veldana-Token", token}, {"Origin", "http://evil.example"}},
         click,
         "application/json",
         403},
        {"cross-site form post",
         "POST",
         "/api/input?token=" + token,
         {{"Origin", "http://evil.example"}, {"Sec-Fetch-Site", "cross-site"}},
         form,
         "application/x-www-form-urlencoded",
         403},
        {"form post without Origin",
         "POST",
         "/api/input?token=" + token,
         {},
         form,
         "application/x-www-form-urlencoded",
         415},
        {"foreign Referer",
         "POST",
         "/api/input",
         {{"X-Veldana-Token", token}, {"Referer", "http://evil.example/page"}},
         click,
         "application/json",
         403},
        {"cross-site fetch",
         "POST",
         "/api/input",
         {{"X-Veldana-Token", token}, {"Sec-Fetch-Site", "cross-site"}},
         click,
         "application/json",
         403},
        {"unknown path", "GET", "/etc/passwd?token=" + token, {}, "", "", 404},
        {"wrong method", "GET", "/api/input?token=" + token, {}, "", "", 405},
        {"wrong method (page)",
         "POST",
         "/?token=" + token,
         {{"Origin", self}},
         click,
         "application/json",
         405},
    };
    std::vector<std::pair<int, std::string>> results;
    std::string pageCsp;
    Drive([&] {
        httplib::Client cli("127.0.0.1", port);
        for (const Case& c : cases) {
            auto res = std::string(c.method) == "GET" ? cli.Get(c.path, c.headers)
                                                      : cli.Post(c.path, c.headers, c.body, c.type);
            results.emplace_back(res ? res->status : -1, res ? res->body : "");
        }
        auto page = cli.Get("/?token=" + token);
        if (page) pageCsp = page->get_header_value("Content-Security-Policy");
    });
    ASSERT_EQ(results.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(results[i].first, cases[i].status) << cases[i].name << ": " << results[i].second;
        EXPECT_FALSE(results[i].second.empty()) << cases[i].name << " says no reason";
    }
    EXPECT_EQ(IsDlgButtonChecked(dialog, kCheckId), BST_UNCHECKED);
    EXPECT_TRUE(g_log.empty());
    EXPECT_NE(pageCsp.find("script-src 'self'"), std::string::npos);
    EXPECT_EQ(pageCsp.find("unsafe-inline"), std::string::npos);
}

// A terminal standing in for the console's: the display asks there while no page is
// connected, and the first answer wins.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            name_ = ptsname(master_);
    }
    ~PseudoTerminal() {
        if (master_ >= 0) close(master_);
    }
    const std::string& name() const { return name_; }
    // Reads until `text` has been written to the terminal (false when it goes away first).
    bool WaitFor(const std::string& text) {
        while (seen_.find(text) == std::string::npos) {
            char buf[256];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) return false;
            seen_.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }
    void Type(const std::string& line) {
        [[maybe_unused]] ssize_t n = write(master_, line.data(), line.size());
    }

  private:
    int master_ = -1;
    std::string name_;
    std::string seen_;
};

TEST_F(WebDisplayTest, MessageBoxIsAnsweredOnTheTerminalWithoutAPage) {
    PseudoTerminal tty;
    ASSERT_FALSE(tty.name().empty());
    WebDisplayOptions options;
    options.terminal = tty.name();
    WebDisplay asking(options);
    ASSERT_TRUE(asking.Started());
    std::thread person([&] {
        EXPECT_TRUE(tty.WaitFor("[Y]es / [N]o"));
        tty.Type("x\n");  // no such button: asked again
        EXPECT_TRUE(tty.WaitFor("Save the changes?"));
        tty.Type("n\n");
    });
    int answer = MessageBox(dialog, "Save the changes?", "Sample", MB_YESNO | MB_ICONQUESTION);
    person.join();
    EXPECT_EQ(answer, IDNO);
}

TEST_F(WebDisplayTest, PageAnswerEndsTheTerminalQuestion) {
    PseudoTerminal tty;
    ASSERT_FALSE(tty.name().empty());
    WebDisplayOptions options;
    options.terminal = tty.name();
    WebDisplay asking(options);
    ASSERT_TRUE(asking.Started());
    int askingPort = std::stoi(asking.Address().substr(asking.Address().rfind(':') + 1));
    std::thread page([&] {
        EXPECT_TRUE(tty.WaitFor("[Y]es / [N]o"));
        httplib::Client cli("127.0.0.1", askingPort);
        httplib::Headers headers{{"X-Veldana-Token", asking.Token()},
                                 {"Origin", "http://" + asking.Address()}};
        json s = json::parse(cli.Get("/api/state", headers)->body);
        HWND box = 0;
        for (const json& w : s["windows"])
            if (w["kind"] == "messagebox") box = w["hwnd"];
        auto res = cli.Post("/api/input", headers,
                            json{{"action", "answer"}, {"hwnd", box}, {"button", IDYES}}.dump(),
                            "application/json");
        EXPECT_EQ(res ? res->status : -1, 200);
        EXPECT_TRUE(tty.WaitFor("answered in the browser"));
    });
    int answer = MessageBox(dialog, "Save the changes?", "Sample", MB_YESNO | MB_ICONQUESTION);
    // The terminal hears that the box is gone when the GUI thread next looks.
    Drive([&] { page.join(); });
    EXPECT_EQ(answer, IDYES);
}

TEST(WebDisplayToken, IsRandomAndInTheUrl) {
    WebDisplay a, b;
    ASSERT_TRUE(a.Started());
    EXPECT_EQ(a.Token().size(), 64u);
    EXPECT_NE(a.Token(), b.Token());
    EXPECT_EQ(a.Url(), "http://" + a.Address() + "/?token=" + a.Token());
    EXPECT_TRUE(a.Address().starts_with("127.0.0.1:"));
}

}  // namespace
