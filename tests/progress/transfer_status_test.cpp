#include "progress/transfer_status.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/headless.h"
#include "ui/window.h"

namespace {

using namespace ui;
using namespace progress;

constexpr COLORREF kDarkBlue = RGB(0, 0, 128);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

class TransferStatusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowLayer();
        ResetTransferStatus();
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
    }
    void TearDown() override {
        ResetTransferStatus();
        ResetWindowLayer();
    }
    std::string StatusText() { return GetDlgItemText(TransferStatus().window, kStatusTextId); }

    // Opens the window with its bar area made 102 pixels wide, so that the bar inside its
    // one-pixel margin is 100 pixels wide, and draws the bar at `percent`.
    const Surface& BarAt(int percent) {
        auto& s = TransferStatus();
        if (!s.window) {
            ShowTransferStatus(std::nullopt, StatusLevel::kNew, {}, StatusPaint::kLater);
            HWND area = GetDlgItem(s.window, kBarAreaId);
            RECT r;
            GetWindowRect(area, r);
            POINT p{r.left, r.top};
            ScreenToClient(s.window, p);
            MoveWindow(area, p.x, p.y, 102, 16, FALSE);
            for (HGDIOBJ o : {s.darkBluePen, s.whitePen, s.yellowBrush, s.blueBrush})
                DeleteObject(o);
            s.haveDrawingObjects = false;  // the bar rectangle is taken anew
        }
        s.percentage = percent;
        ShowTransferStatus(std::nullopt, StatusLevel::kSame, {}, StatusPaint::kLater);
        return *WindowSurface(GetDlgItem(s.window, kBarAreaId));
    }

    HeadlessDisplay display;
};

TEST_F(TransferStatusTest, TheWindowIsMadeFromItsTemplate) {
    ShowTransferStatus(std::nullopt, StatusLevel::kNew);
    HWND w = TransferStatus().window;
    ASSERT_NE(w, 0u);
    EXPECT_EQ(GetWindowText(w), "Veldana Message");
    EXPECT_EQ(StatusText(), "\nGetting File From Server");
    EXPECT_EQ(GetDlgItemText(w, kCancelButtonId), "&Cancel Download");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(w, kCancelButtonId)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(w, kBarAreaId)));
    EXPECT_EQ(GetFocus(), GetDlgItem(w, kCancelButtonId));
    RECT r;
    GetWindowRect(w, r);
    SIZE base = GetDialogBaseUnits(w);
    EXPECT_EQ(r.left, (137 * base.cx + 2) / 4);
    EXPECT_EQ(r.width(), (176 * base.cx + 2) / 4);

    // Without Cancel and bar: both hidden, and later calls cannot bring them back.
    CloseTransferStatus(StatusClose::kAll);
    display.RunUntilIdle();
    ShowTransferStatus("text", StatusLevel::kNew, {.cancel = false, .bar = false});
    w = TransferStatus().window;
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, kCancelButtonId)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, kBarAreaId)));
    ShowTransferStatus("again", StatusLevel::kSame);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, kCancelButtonId)));
    EXPECT_EQ(StatusText(), "again");
}

TEST_F(TransferStatusTest, BarIsExactToThePixel) {
    // The bar area is 102 x 16: inside its one-pixel margin the bar runs from (1, 1) to
    // (101, 15), so the yellow part of f percent ends at column f.
    for (const int f : {37, 0, 100, 1}) {
        const Surface& s = BarAt(f);
        auto expected = [f](int x, int y) -> COLORREF {
            if (y == 1) return f > 0 && x <= f - 1 ? kWhite : kDarkBlue;      // top edge
            if (x == 1) return f > 0 ? kWhite : kDarkBlue;                    // left edge
            if (y == 15) return x >= f + 2 || x == 101 ? kWhite : kDarkBlue;  // bottom edge
            if (x == 101) return kWhite;                                      // right edge
            if (f > 0 && x == f + 1) return kDarkBlue;  // the divider after the yellow part
            if (f > 0 && x <= f) return kYellow;
            return kBlue;
        };
        for (int y = 1; y <= 15; ++y)
            for (int x = 1; x <= 101; ++x)
                ASSERT_EQ(s.Pixel(x, y), expected(x, y)) << f << "%: " << x << "," << y;
    }
}

TEST_F(TransferStatusTest, BarAtZeroIsBlueInsideItsOutline) {
    const Surface& s = BarAt(0);
    for (int x = 2; x <= 100; ++x)
        for (int y = 2; y <= 14; ++y) ASSERT_EQ(s.Pixel(x, y), kBlue) << x << "," << y;
    for (int x = 2; x <= 101; ++x) EXPECT_EQ(s.Pixel(x, 1), kDarkBlue) << "top outline " << x;
    for (int y = 1; y <= 14; ++y) EXPECT_EQ(s.Pixel(1, y), kDarkBlue) << "left outline " << y;
    EXPECT_EQ(s.Pixel(1, 15), kDarkBlue);
    for (int x = 2; x <= 100; ++x) EXPECT_EQ(s.Pixel(x, 15), kWhite) << "bottom edge " << x;
    for (int y = 2; y <= 15; ++y) EXPECT_EQ(s.Pixel(101, y), kWhite) << "right edge " << y;
}

TEST_F(TransferStatusTest, BarAtThirtySevenEndsItsYellowAtLeftPlusThirtySeven) {
    const Surface& s = BarAt(37);
    // For a person to look at: VELDANA_SNAPSHOT_DIR=/tmp/shots ctest -R TransferStatus
    if (const char* dir = std::getenv("VELDANA_SNAPSHOT_DIR")) {
        SetDlgItemText(TransferStatus().window, kStatusTextId,
                       "\r\nDownloading VELDA.NOT file\r\n(37% of 1,234,567 bytes)");
        display.RunUntilIdle();
        BarAt(37);
        HeadlessDisplay::WritePng(TransferStatus().window, std::string(dir) + "/getfile.png");
    }
    const int left = 1, mid = 8;
    for (int x = left + 1; x < left + 37; ++x)
        for (int y = 2; y <= 14; ++y) ASSERT_EQ(s.Pixel(x, y), kYellow) << x << "," << y;
    for (int y = 1; y <= 14; ++y) EXPECT_EQ(s.Pixel(left + 37, y), kDarkBlue) << "divider " << y;
    for (int x = left + 38; x <= 100; ++x) EXPECT_EQ(s.Pixel(x, mid), kBlue) << x;
    // The received part has a white top and left edge, the rest a white bottom and right.
    for (int y = 2; y <= 15; ++y) EXPECT_EQ(s.Pixel(left, y), kWhite) << "left edge " << y;
    for (int x = left; x < left + 36; ++x) EXPECT_EQ(s.Pixel(x, 1), kWhite) << "top edge " << x;
    for (int x = left + 36; x <= 101; ++x) EXPECT_EQ(s.Pixel(x, 1), kDarkBlue) << "top " << x;
    for (int x = left + 1; x <= left + 37; ++x) EXPECT_EQ(s.Pixel(x, 15), kDarkBlue) << x;
    for (int x = left + 38; x <= 100; ++x) EXPECT_EQ(s.Pixel(x, 15), kWhite) << "bottom " << x;
    for (int y = 2; y <= 15; ++y) EXPECT_EQ(s.Pixel(101, y), kWhite) << "right edge " << y;
}

TEST_F(TransferStatusTest, BarAtHundredIsAllYellow) {
    const Surface& s = BarAt(100);
    for (int x = 2; x <= 100; ++x)
        for (int y = 2; y <= 14; ++y) ASSERT_EQ(s.Pixel(x, y), kYellow) << x << "," << y;
    for (int y = 2; y <= 15; ++y) EXPECT_EQ(s.Pixel(1, y), kWhite);
    for (int x = 1; x <= 99; ++x) EXPECT_EQ(s.Pixel(x, 1), kWhite) << x;
    for (int y = 1; y <= 14; ++y) EXPECT_EQ(s.Pixel(101, y), y == 1 ? kDarkBlue : kWhite) << y;
}

TEST_F(TransferStatusTest, LevelsOpenAndClose) {
    // One new level with two more texts: one close ends it.
    ShowTransferStatus(std::nullopt, StatusLevel::kNew);
    ShowTransferStatus("server one", StatusLevel::kSame);
    ShowTransferStatus("server two", StatusLevel::kSame);
    EXPECT_EQ(TransferStatus().depth, 1);
    HWND first = TransferStatus().window;
    CloseTransferStatus(StatusClose::kOneLevel);
    EXPECT_EQ(TransferStatus().window, 0u);
    display.RunUntilIdle();
    EXPECT_FALSE(IsWindow(first));

    // Two levels: closing the inner one puts the outer text back.
    ShowTransferStatus("A", StatusLevel::kNew);
    ShowTransferStatus("B", StatusLevel::kNew);
    EXPECT_EQ(StatusText(), "B");
    CloseTransferStatus(StatusClose::kOneLevel);
    EXPECT_EQ(StatusText(), "A");
    CloseTransferStatus(StatusClose::kOneLevel);
    EXPECT_EQ(TransferStatus().window, 0u);
    CloseTransferStatus(StatusClose::kOneLevel);  // nothing open: nothing happens
}

TEST_F(TransferStatusTest, CancelClosesAtOnceAndAsksTheTransferToStop) {
    ShowTransferStatus("A", StatusLevel::kNew);
    ShowTransferStatus("B", StatusLevel::kNew);
    HWND w = TransferStatus().window;
    display.Click(w, kCancelButtonId);
    display.RunUntilIdle();
    EXPECT_EQ(TransferStatus().window, 0u);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(TransferStatus().TransferCancelRequested);
    EXPECT_EQ(TransferStatus().depth, 0);
}

TEST_F(TransferStatusTest, EscapeWithCancelHiddenRequestsCancelButKeepsTheWindow) {
    ShowTransferStatus("Please Wait: Resolving x", StatusLevel::kNew, {.cancel = false, .bar = false});
    HWND w = TransferStatus().window;
    display.PressKey(w, VK_ESCAPE);
    display.RunUntilIdle();
    EXPECT_TRUE(TransferStatus().TransferCancelRequested);
    EXPECT_EQ(TransferStatus().window, w);
    EXPECT_TRUE(IsWindowVisible(w));
}

TEST_F(TransferStatusTest, PaintingRedrawsTheBarOnlyWhileATransferRuns) {
    const Surface& s = BarAt(50);
    HWND w = TransferStatus().window;
    HWND area = GetDlgItem(w, kBarAreaId);
    TransferStatus().percentage = 80;
    InvalidateRect(w, nullptr, TRUE);
    display.RunUntilIdle();
    EXPECT_EQ(s.Pixel(70, 8), kBlue) << "no transfer: not redrawn";
    TransferStatus().TransferActive = true;
    InvalidateRect(w, nullptr, TRUE);
    display.RunUntilIdle();
    EXPECT_EQ(WindowSurface(area)->Pixel(70, 8), kYellow);
}

}  // namespace
