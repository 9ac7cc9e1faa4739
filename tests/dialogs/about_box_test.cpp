// The About box driven by the scripted user: its texts, the installation source code it
// settles (and that a later download sends), Enter and Esc, and the credits that a click on
// the icon (and only there) scrolls through the frame, frame by frame on a clock of the test.
#include "dialogs/about_box.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/console.h"
#include "resources/string_table.h"
#include "settings/filter_registration.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "tests/update/scripted_responder.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "update/http_transfer.h"
#include "update/list_update.h"

namespace {

using namespace ui;
using dialogs::AboutBox;
using dialogs::CreditsTable;
using dialogs::RunAboutBox;

LPARAM PointParam(POINT p) {
    return static_cast<LPARAM>(MAKEWPARAM(p.x, p.y));
}

RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, r);
    POINT a{r.left, r.top}, b{r.right, r.bottom};
    ScreenToClient(dialog, a);
    ScreenToClient(dialog, b);
    return RECT{a.x, a.y, b.x, b.y};
}
RECT ClientRectOf(HWND dialog, int id) {
    return ClientRectOf(dialog, GetDlgItem(dialog, id));
}
bool Overlap(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

class AboutBoxTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    HeadlessDisplay display;
    HWND box = 0;

    // The frames the animation showed: the dialog's pixels at each pause, and the pauses.
    std::vector<Surface> frames;
    std::vector<std::chrono::milliseconds> pauses;
    dialogs::CreditsClock::TimePoint now{};

    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
        AboutBox().clock.now = [this] { return now; };
        AboutBox().clock.waitUntil = [this](dialogs::CreditsClock::TimePoint until) {
            pauses.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(until - now));
            now = until;
            frames.push_back(*WindowSurface(box));
        };
    }

    // Runs the box: `inside` runs once it is shown (box is set), `then` once what `inside`
    // caused has been handled, then Ok ends it.
    INT_PTR Run(std::function<void()> inside = {}, std::function<void()> then = {}) {
        display.Then([this, inside] {
            box = display.FindTopLevel("About Veldana");
            ASSERT_NE(box, 0u);
            if (inside) inside();
        });
        if (then) display.Then(then);
        display.Then([this] { display.Click(box, dialogs::kAboutOkId); });
        return RunAboutBox(0);
    }
    void ClickAt(POINT p) {
        PostMessage(box, WM_LBUTTONDOWN, 0, PointParam(p));
        PostMessage(box, WM_LBUTTONUP, 0, PointParam(p));
    }
};

TEST_F(AboutBoxTest, ShowsTitleVersionAndTheControlsOfTheBox) {
    bool busyWhileOpen = true;
    const INT_PTR result = Run([&] {
        busyWhileOpen = dialogs::Console().timerBusy;
        EXPECT_EQ(GetDlgItemText(box, dialogs::kAboutTitleId), "Veldana - Proxy for Windows");
        EXPECT_EQ(GetDlgItemText(box, dialogs::kAboutVersionId), "Version 4.50.005");
        EXPECT_EQ(GetControlType(GetDlgItem(box, dialogs::kAboutIconId)), ControlType::kIcon);
        EXPECT_EQ(GetControlType(GetDlgItem(box, dialogs::kAboutSecondIconId)), ControlType::kIcon);
        EXPECT_EQ(GetControlType(GetDlgItem(box, dialogs::kAboutCreditsFrameId)),
                  ControlType::kFrame);
        EXPECT_EQ(GetControlType(GetDlgItem(box, dialogs::kAboutOkId)),
                  ControlType::kDefaultButton);
        EXPECT_EQ(GetDlgItemText(box, dialogs::kAboutOkId), "&Ok");
        // Laid out without overlaps, inside the box.
        RECT client;
        GetClientRect(box, client);
        const auto children = ChildWindows(box);
        EXPECT_EQ(children.size(), 8u);
        for (std::size_t i = 0; i < children.size(); ++i) {
            const RECT a = ClientRectOf(box, children[i]);
            EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right &&
                        a.bottom <= client.bottom)
                << GetDlgCtrlID(children[i]);
            for (std::size_t j = i + 1; j < children.size(); ++j)
                EXPECT_FALSE(Overlap(a, ClientRectOf(box, children[j])))
                    << GetDlgCtrlID(children[i]) << " and " << GetDlgCtrlID(children[j]);
        }
        EXPECT_EQ(GetWindowText(children[4]), "Source:");
    });
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(busyWhileOpen) << "the timer-busy flag is set only while the box initialises";
    EXPECT_FALSE(dialogs::Console().timerBusy);
}

TEST_F(AboutBoxTest, TheBoxOpensAtTheSharedDialogPosition) {
    settings::WriteSetting(settings::kKeyWindowPosition, {}, "30, 40");
    Run([&] {
        RECT r;
        GetWindowRect(box, r);
        EXPECT_EQ(r.left, 30);
        EXPECT_EQ(r.top, 40);
    });
    EXPECT_EQ(settings::ReadSetting(settings::kKeyWindowPosition), "30, 40") << "not stored";
}

TEST_F(AboutBoxTest, EnterEscOkAndCloseEndTheBoxWithOne) {
    struct Case {
        const char* name;
        std::function<void(HeadlessDisplay&, HWND)> act;
    };
    const Case cases[] = {
        {"Enter", [](HeadlessDisplay& d, HWND) { d.PressKey(VK_RETURN); }},
        {"Esc", [](HeadlessDisplay& d, HWND) { d.PressKey(VK_ESCAPE); }},
        {"Ok", [](HeadlessDisplay& d, HWND b) { d.Click(b, dialogs::kAboutOkId); }},
        {"close", [](HeadlessDisplay&, HWND b) { PostMessage(b, WM_CLOSE, 0, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        display.Then([&] {
            box = display.FindTopLevel("About Veldana");
            ASSERT_NE(box, 0u);
            c.act(display, box);
        });
        EXPECT_EQ(RunAboutBox(0), 1);
        EXPECT_EQ(display.PendingSteps(), 0u);
        EXPECT_EQ(display.FindTopLevel("About Veldana"), 0u);
    }
}

TEST_F(AboutBoxTest, TheSourceCodeShownIsTheOneInMemoryTheStoredOneOrTheDefault) {
    struct Case {
        const char* inMemory;
        const char* stored;
        const char* shown;
    };
    const Case cases[] = {
        {"", "", "PXM-QTX-Web"},
        {"", "SCHOOL-7", "SCHOOL-7"},
        {"DISTRICT-3", "SCHOOL-7", "DISTRICT-3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        settings::Registration().source = c.inMemory;
        settings::WriteSetting(settings::kKeySource, {}, c.stored);
        std::string shown;
        Run([&] { shown = GetDlgItemText(box, dialogs::kAboutSourceId); });
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(settings::Registration().source, c.shown) << "kept for the downloads";
        EXPECT_EQ(settings::ReadSetting(settings::kKeySource), c.stored)
            << "the setting stays free for an installer's /S code";
    }
}

// With no source code anywhere, the box settles the default code and the next download
// identifies the installation with it.
TEST_F(AboutBoxTest, ALaterDownloadSendsTheDefaultSourceCodeTheBoxSettled) {
    const std::string library = std::string(VELDANA_BUILD_DIR) + "/resolve/WSOCK32.DLL";
    ASSERT_TRUE(std::filesystem::exists(library)) << "build the wsock32 target first";
    std::filesystem::copy_file(library, install.file("WSOCK32.DLL"));

    std::string shown;
    Run([&] { shown = GetDlgItemText(box, dialogs::kAboutSourceId); });
    ASSERT_EQ(shown, "PXM-QTX-Web");

    scripted::ScriptedResponder responder(
        {scripted::ScriptedResponder::Send("HTTP/1.0 404 Not Found\r\n\r\n")});
    install.writeFile(
        install.file("STRINGS.INI"),
        "[strings]\n13=127.0.0.1:" + std::to_string(responder.port()) + "\n18=\n19=\n");
    resources::ResetStringTable();
    update::HttpTransfer().QuietUpdate = true;
    std::string received;
    update::FetchListFile(0, 43, received, "VELDA.NOT");
    EXPECT_NE(responder.Request().find("\r\nVD-SOURCE: PXM-QTX-Web\r\n"), std::string::npos)
        << responder.Request();
}

// What the credits frame looks like on the dialog's surface: the inner area (the frame less
// one pixel each side) and the button-face colour it is filled with.
struct CreditsArea {
    RECT frame;
    RECT inner;
    COLORREF face = GetSysColor(COLOR_BTNFACE);

    bool RowIsFace(const Surface& s, int y) const {
        for (int x = inner.left; x < inner.right; ++x)
            if (s.Pixel(x, y) != face) return false;
        return true;
    }
    // Rows [top, bottom) hold ink (some pixel that is not the face colour).
    bool HasInk(const Surface& s, int top, int bottom) const {
        for (int y = std::max(top, inner.top); y < std::min(bottom, inner.bottom); ++y)
            if (!RowIsFace(s, y)) return true;
        return false;
    }
    // The first and last ink rows of the inner area; nullopt when it is all face.
    std::optional<std::pair<int, int>> InkRows(const Surface& s) const {
        std::optional<std::pair<int, int>> rows;
        for (int y = inner.top; y < inner.bottom; ++y)
            if (!RowIsFace(s, y)) rows = std::pair{rows ? rows->first : y, y};
        return rows;
    }
};

// The height of a credits line in its own font, as a reference DC measures it.
int LineHeight(const dialogs::CreditsLine& line) {
    LOGFONT f;
    f.lfHeight = -((line.points * 96 + 36) / 72);
    f.lfWeight = line.weight == dialogs::CreditsWeight::kBold ? FW_BOLD : FW_NORMAL;
    f.lfItalic = line.slant == dialogs::CreditsSlant::kItalic;
    f.lfFaceName = std::string(line.face);
    HFONT font = CreateFontIndirect(f);
    const int height = GetFontMetrics(font).tmHeight;
    DeleteObject(font);
    return height;
}

// The text of a line drawn alone, centred in a strip as wide as the inner area.
Surface Reference(const dialogs::CreditsLine& line, int width, int height, bool italic) {
    Surface s(width, height, GetSysColor(COLOR_BTNFACE));
    HDC dc = CreateSurfaceDC(&s, POINT{0, 0}, RECT{0, 0, width, height});
    LOGFONT f;
    f.lfHeight = -((line.points * 96 + 36) / 72);
    f.lfWeight = line.weight == dialogs::CreditsWeight::kBold ? FW_BOLD : FW_NORMAL;
    f.lfItalic = italic;
    f.lfFaceName = std::string(line.face);
    HFONT font = CreateFontIndirect(f);
    SelectObject(dc, font);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    RECT r{0, 0, width, height};
    DrawText(dc, line.text, r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    DeleteSurfaceDC(dc);
    DeleteObject(font);
    return s;
}

// Rows [aTop, aTop + rows) of frame a are rows [bTop, bTop + rows) of frame b, columns
// left .. left + width.
bool SameRows(const Surface& a, int aTop, const Surface& b, int bTop, int left, int width,
              int rows) {
    for (int y = 0; y < rows; ++y)
        for (int x = left; x < left + width; ++x)
            if (a.Pixel(x, aTop + y) != b.Pixel(x, bTop + y)) return false;
    return true;
}
// The rows of a frame from `top` at column `left` hold the reference strip.
bool ShowsReference(const Surface& frame, int top, int left, const Surface& reference) {
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x)
            if (frame.Pixel(left + x, top + y) != reference.Pixel(x, y)) return false;
    return true;
}

TEST_F(AboutBoxTest, AClickOnTheIconScrollsTheCreditsThroughTheFrame) {
    CreditsArea area;
    Surface before, after;
    Run(
        [&] {
            area.frame = ClientRectOf(box, dialogs::kAboutCreditsFrameId);
            area.inner = RECT{area.frame.left + 1, area.frame.top + 1, area.frame.right - 1,
                              area.frame.bottom - 1};
            UpdateWindow(box);
            before = *WindowSurface(box);
            const RECT icon = ClientRectOf(box, dialogs::kAboutIconId);
            ClickAt(POINT{(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2});
        },
        [&] { after = *WindowSurface(box); });

    const auto lines = CreditsTable();
    ASSERT_EQ(lines.size(), 60u);
    ASSERT_GT(frames.size(), lines.size()) << "a frame per line, then the scroll-out";
    for (auto pause : pauses) EXPECT_EQ(pause.count(), 333);

    const int width = area.inner.width();
    const int height = area.inner.height();
    ASSERT_GT(height, 0);

    // Frame 0: the title alone at the top of the inner area, centred, in 12-point italic
    // Arial; the rest of the inner area is button face, and nothing outside it changed.
    const int h0 = LineHeight(lines[0]);
    ASSERT_LT(h0, height);
    const Surface title = Reference(lines[0], width, h0, true);
    EXPECT_TRUE(ShowsReference(frames[0], area.inner.top, area.inner.left, title));
    EXPECT_FALSE(ShowsReference(frames[0], area.inner.top, area.inner.left,
                                Reference(lines[0], width, h0, false)))
        << "the title is italic";
    for (int y = area.inner.top + h0; y < area.inner.bottom; ++y)
        ASSERT_TRUE(area.RowIsFace(frames[0], y)) << "row " << y;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x) {
            const bool inside = x >= area.inner.left && x < area.inner.right &&
                                y >= area.inner.top && y < area.inner.bottom;
            if (!inside && frames[0].Pixel(x, y) != before.Pixel(x, y))
                FAIL() << "changed outside the inner area at " << x << ", " << y;
        }

    // Lines go down by their step (height + 2) until one would reach the bottom; from then on
    // every line scrolls the area up by its step and is drawn at the bottom.
    int y = 0;
    bool scrolled = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        const int h = LineHeight(lines[i]);
        const int step = h + 2;
        int top = area.inner.top + y;
        if (top + h >= area.inner.bottom) {
            top -= step;
            y -= step;
            if (i > 0) {
                // Above the new line, the previous frame moved up by the step.
                EXPECT_TRUE(SameRows(frames[i], area.inner.top, frames[i - 1],
                                     area.inner.top + step, area.inner.left, width,
                                     top - area.inner.top));
                scrolled = true;
            }
        } else if (i > 0) {
            EXPECT_TRUE(SameRows(frames[i], area.inner.top, frames[i - 1], area.inner.top,
                                 area.inner.left, width, top - area.inner.top))
                << "lines above stay";
        }
        EXPECT_EQ(area.HasInk(frames[i], top, top + h), !lines[i].text.empty());
        for (int row = top + h; row < area.inner.bottom; ++row)
            ASSERT_TRUE(area.RowIsFace(frames[i], row)) << "below the new line, row " << row;
        y += step;
        if (i >= 3 && scrolled) break;  // the first scrolled frames are enough
    }
    EXPECT_TRUE(scrolled) << "the credits are taller than the frame";

    // At the end the frame is left empty: the box repaints it.
    EXPECT_FALSE(area.InkRows(after)) << "inner area repainted";
    EXPECT_EQ(display.MessageBoxes().size(), 0u);
}

TEST_F(AboutBoxTest, OnlyAClickWithinAPixelOfTheIconRunsTheCredits) {
    struct Case {
        const char* where;
        std::function<POINT(const RECT& icon, const RECT& frame)> at;
        bool runs;
    };
    const Case cases[] = {
        {"top left, widened",
         [](const RECT& i, const RECT&) {
             return POINT{i.left - 1, i.top - 1};
         },
         true},
        {"bottom right, widened",
         [](const RECT& i, const RECT&) {
             return POINT{i.right + 1, i.bottom + 1};
         },
         true},
        {"two pixels left",
         [](const RECT& i, const RECT&) {
             return POINT{i.left - 2, i.top + 5};
         },
         false},
        {"two pixels below",
         [](const RECT& i, const RECT&) {
             return POINT{i.left + 5, i.bottom + 2};
         },
         false},
        {"in the credits frame",
         [](const RECT&, const RECT& f) {
             return POINT{(f.left + f.right) / 2, (f.top + f.bottom) / 2};
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        frames.clear();
        Surface before;
        bool changed = false;
        Run(
            [&] {
                UpdateWindow(box);
                before = *WindowSurface(box);
                ClickAt(c.at(ClientRectOf(box, dialogs::kAboutIconId),
                             ClientRectOf(box, dialogs::kAboutCreditsFrameId)));
            },
            [&] { changed = !(*WindowSurface(box) == before); });
        EXPECT_EQ(!frames.empty(), c.runs);
        if (!c.runs) {
            EXPECT_FALSE(changed);
        }
    }
    // The second icon is no trigger either.
    frames.clear();
    Run([&] {
        const RECT other = ClientRectOf(box, dialogs::kAboutSecondIconId);
        ClickAt(POINT{(other.left + other.right) / 2, (other.top + other.bottom) / 2});
    });
    EXPECT_TRUE(frames.empty());
}

}  // namespace
