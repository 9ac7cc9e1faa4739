#include "dialogs/about_box.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>

#include "dialogs/console.h"
#include "platform/process_state.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/filter_registration.h"
#include "settings/settings_store.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/window.h"

namespace dialogs {
namespace {

using namespace ui;

constexpr int kVersionLabelString = 2318;  // "Version"
constexpr int kVersionString = 3;          // "4.50.005"
constexpr std::size_t kVersionChars = 8;   // a buffer of 9 with its terminator
constexpr int kDefaultSourceString = 24;   // "PXM-QTX-Web"
constexpr std::size_t kDefaultSourceChars = 24;
constexpr int kCancelId = 1021;
constexpr int kUpdateId = 1024;

constexpr std::string_view kArial = "Arial";
constexpr CreditsLine Title(std::string_view text) {
    return {text, kArial, 12, CreditsWeight::kNormal, CreditsSlant::kItalic};
}
constexpr CreditsLine Heading(std::string_view text) {
    return {text, kArial, 10, CreditsWeight::kNormal, CreditsSlant::kItalic};
}
constexpr CreditsLine Entry(std::string_view text) {
    return {text, kArial, 10, CreditsWeight::kBold, CreditsSlant::kUpright};
}
constexpr CreditsLine Gap() {
    return Heading("");
}

constexpr std::array kCredits{
    Title("Veldana - Proxy for Windows"),
    Gap(),
    Heading("Product Design"),
    Entry("The Veldana Team"),
    Gap(),
    Heading("Filter Engine"),
    Entry("Veldana Filter Group"),
    Entry("Database Builder Team"),
    Gap(),
    Heading("Headquarters Console"),
    Entry("Console Team"),
    Entry("Window Layer Team"),
    Gap(),
    Heading("Name Resolution"),
    Entry("DNS Client Team"),
    Gap(),
    Heading("List Updates"),
    Entry("Update Server Team"),
    Entry("Transfer Engine Team"),
    Gap(),
    Heading("Category Research"),
    Entry("Veldana List Editors"),
    Entry("Category Review Board"),
    Gap(),
    Heading("Quality Assurance"),
    Entry("Veldana Test Lab"),
    Entry("Field Test Sites"),
    Gap(),
    Heading("Documentation"),
    Entry("Veldana Writers Group"),
    Gap(),
    Heading("Artwork"),
    Entry("Veldana Design Studio"),
    Gap(),
    Heading("Customer Support"),
    Entry("Veldana Help Desk"),
    Gap(),
    Heading("Deployment"),
    Entry("Installation Team"),
    Entry("Mirror Operators"),
    Gap(),
    Heading("Special Thanks"),
    Entry("Our Administrators"),
    Entry("Our Field Testers"),
    Entry("Schools and Libraries"),
    Entry("Parents and Teachers"),
    Gap(),
    Heading("A Product of"),
    Entry("The Veldana Project"),
    Gap(),
    Heading("Thank you for choosing"),
    Entry("Veldana Headquarters"),
    Gap(),
    Gap(),
    Heading("Have a safe journey"),
    Heading("on the Internet!"),
    Gap(),
    Gap(),
    Gap(),
    Gap(),
};
static_assert(kCredits.size() == 60);

CreditsClock RealClock() {
    return CreditsClock{
        .now = [] { return std::chrono::steady_clock::now(); },
        .waitUntil = [](CreditsClock::TimePoint until) { std::this_thread::sleep_until(until); },
    };
}

AboutBoxState g_about{.clock = RealClock()};
const platform::StateReset kResetAboutBox{platform::StateLayer::kDialogs, &ResetAboutBox};

// Waits until the pause after a frame drawn at `drawn` is over.
void PauseAfter(CreditsClock::TimePoint drawn) {
    if (g_about.clock.waitUntil) g_about.clock.waitUntil(drawn + kCreditsLinePause);
}
CreditsClock::TimePoint Now() {
    return g_about.clock.now ? g_about.clock.now() : std::chrono::steady_clock::now();
}

// A control's rectangle in the dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r;
    if (!GetWindowRect(control, r)) return RECT{};
    POINT topLeft{r.left, r.top}, bottomRight{r.right, r.bottom};
    ScreenToClient(dialog, topLeft);
    ScreenToClient(dialog, bottomRight);
    return RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

// A DC of the dialog for one frame; released (and the display told) when it goes.
class FrameDc {
  public:
    explicit FrameDc(HWND dialog) : dialog_(dialog), dc_(GetDC(dialog)) {}
    ~FrameDc() {
        if (dc_) ReleaseDC(dialog_, dc_);
    }
    FrameDc(const FrameDc&) = delete;
    FrameDc& operator=(const FrameDc&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND dialog_;
    HDC dc_;
};

// A GDI object deleted when it goes.
class OwnedObject {
  public:
    explicit OwnedObject(HGDIOBJ object) : object_(object) {}
    ~OwnedObject() {
        if (object_) DeleteObject(object_);
    }
    OwnedObject(const OwnedObject&) = delete;
    OwnedObject& operator=(const OwnedObject&) = delete;
    HGDIOBJ get() const { return object_; }

  private:
    HGDIOBJ object_;
};

// The installation source code, settled as the box shows it: the one in memory, else the
// stored setting (the start-up reads it, but not every run passes through the start-up),
// else the default code, which is kept in memory for the downloads that follow.
const std::string& SettleSourceCode() {
    std::string& source = settings::Registration().source;
    if (source.empty()) source = settings::ReadTableSetting(settings::kKeySource);
    if (source.empty())
        source = resources::LoadStr(kDefaultSourceString).substr(0, kDefaultSourceChars);
    return source;
}

void InitAboutBox(HWND dialog) {
    RestoreDialogPosition(dialog);
    Console().timerBusy = true;
    SetDlgItemText(dialog, kAboutSourceId, SettleSourceCode());
    // "%s %s": the word "Version" and the version string.
    std::string line = resources::LoadStr(kVersionLabelString);
    line += ' ';
    line += resources::LoadStr(kVersionString).substr(0, kVersionChars);
    SetDlgItemText(dialog, kAboutVersionId, line);
    Console().timerBusy = false;
}

// The icon's rectangle widened by one pixel on each side, bounds included.
bool OnIcon(HWND dialog, POINT p) {
    HWND icon = GetDlgItem(dialog, kAboutIconId);
    if (!icon) return false;
    const RECT r = ClientRectOf(dialog, icon);
    return p.x >= r.left - 1 && p.x <= r.right + 1 && p.y >= r.top - 1 && p.y <= r.bottom + 1;
}

POINT PointFromLParam(LPARAM lParam) {
    const auto bits = static_cast<std::uint32_t>(lParam);
    return POINT{static_cast<std::int16_t>(bits & 0xffff), static_cast<std::int16_t>(bits >> 16)};
}

INT_PTR AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitAboutBox(dialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kAboutOkId:
                case kUpdateId:
                case kCancelId:
                case IDCANCEL:
                    EndDialog(dialog, 1);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_LBUTTONUP:
            if (OnIcon(dialog, PointFromLParam(lParam)))
                ScrollCredits(dialog, GetDlgItem(dialog, kAboutCreditsFrameId));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

std::span<const CreditsLine> CreditsTable() {
    return kCredits;
}

AboutBoxState& AboutBox() {
    return g_about;
}

void ResetAboutBox() {
    g_about = AboutBoxState{.clock = RealClock()};
}

INT_PTR RunAboutBox(HWND owner) {
    return RunDialogResource("AboutBox", owner, AboutBoxProc);
}

void ScrollCredits(HWND dialog, HWND frame) {
    if (!IsWindow(dialog) || !IsWindow(frame)) return;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const OwnedObject brush(CreateSolidBrush(face));
    const RECT frameRect = ClientRectOf(dialog, frame);
    const RECT inner{frameRect.left + 1, frameRect.top + 1, frameRect.right - 1,
                     frameRect.bottom - 1};
    if (inner.width() <= 0 || inner.height() <= 0) return;
    {
        FrameDc dc(dialog);
        FillRect(dc.get(), inner, brush.get());
    }

    int y = 0;
    int step = 0;
    int lastTop = inner.top;
    for (const CreditsLine& line : CreditsTable()) {
        {
            FrameDc dc(dialog);
            const int pixelsPerInch = GetDeviceCaps(dc.get(), LOGPIXELSY);
            LOGFONT description;
            description.lfHeight =
                -static_cast<int>(std::lround(line.points * pixelsPerInch / 72.0));
            description.lfWeight = line.weight == CreditsWeight::kBold ? FW_BOLD : FW_NORMAL;
            description.lfItalic = line.slant == CreditsSlant::kItalic;
            description.lfFaceName = std::string(line.face);
            const OwnedObject font(CreateFontIndirect(description));
            const HGDIOBJ oldFont = SelectObject(dc.get(), font.get());
            SetBkColor(dc.get(), face);
            SetTextColor(dc.get(), GetSysColor(COLOR_BTNTEXT));

            TEXTMETRIC metrics;
            GetTextMetrics(dc.get(), &metrics);
            const int height = metrics.tmHeight;
            step = height + 2;
            RECT lineRect{inner.left, inner.top + y, inner.right, inner.top + y + height};
            if (lineRect.bottom >= inner.bottom) {
                ScrollDC(dc.get(), 0, -step, &inner, &inner);
                y -= step;
                lineRect.top -= step;
                lineRect.bottom -= step;
                FillRect(dc.get(), lineRect, brush.get());
            }
            DrawText(dc.get(), line.text, lineRect, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc.get(), oldFont);
            lastTop = lineRect.top;
            y += step;
        }
        PauseAfter(Now());
    }

    // The last lines leave the frame upwards, one step at a time.
    const RECT freed{inner.left, std::max(inner.top, inner.bottom - step), inner.right,
                     inner.bottom};
    while (step > 0 && lastTop >= inner.top) {
        {
            FrameDc dc(dialog);
            ScrollDC(dc.get(), 0, -step, &inner, &inner);
            FillRect(dc.get(), freed, brush.get());
        }
        lastTop -= step;
        PauseAfter(Now());
    }
    InvalidateRect(dialog, &frameRect, TRUE);
}

}  // namespace dialogs
