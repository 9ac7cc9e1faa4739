#include "ui/gdi.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "tests/support/temp_install.h"
#include "ui/font.h"
#include "ui/image.h"

namespace embedded {
extern const std::span<const unsigned char> surficon_bmp;
}

namespace {

using namespace ui;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGrey = RGB(192, 192, 192);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kDarkBlue = RGB(0, 0, 128);
constexpr COLORREF kMagenta = RGB(255, 0, 255);

class GdiTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetGdi(); }
    void TearDown() override { ResetGdi(); }
};
using GdiSurfaceTest = GdiTest;
using GdiObjectTest = GdiTest;
using GdiLineTest = GdiTest;
using GdiRectTest = GdiTest;
using GdiDcTest = GdiTest;
using GdiTextTest = GdiTest;
using GdiScrollTest = GdiTest;
using GdiImageTest = GdiTest;
using GdiBmpTest = GdiTest;
using GdiPngTest = GdiTest;

// A surface with a DC on it; by default the DC covers the whole surface.
struct Canvas {
    Surface surface;
    HDC dc;
    Canvas(int w, int h, COLORREF background = kWhite)
        : Canvas(w, h, background, POINT{0, 0}, RECT{0, 0, w, h}) {}
    Canvas(int w, int h, COLORREF background, POINT origin, RECT clip)
        : surface(w, h, background), dc(CreateSurfaceDC(&surface, origin, clip)) {}
    ~Canvas() { DeleteSurfaceDC(dc); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
};

using PixelSet = std::set<std::pair<int, int>>;

PixelSet PixelsNot(const Surface& s, COLORREF background) {
    PixelSet out;
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x)
            if (s.Pixel(x, y) != background) out.insert({x, y});
    return out;
}

// Bounding box (exclusive right and bottom) of the pixels that differ from the background.
RECT InkBox(const Surface& s, COLORREF background) {
    RECT box{s.width(), s.height(), 0, 0};
    for (const auto& [x, y] : PixelsNot(s, background)) {
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
    }
    return box;
}

// Compares every pixel with an expectation; reports the first few mismatches.
void ExpectPixels(const Surface& s, const std::function<COLORREF(int, int)>& expected,
                  const std::string& what) {
    int reported = 0;
    for (int y = 0; y < s.height(); ++y) {
        for (int x = 0; x < s.width(); ++x) {
            COLORREF want = expected(x, y);
            if (s.Pixel(x, y) != want && reported++ < 8)
                ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex
                              << s.Pixel(x, y) << ", expected " << want;
        }
    }
}

bool Inside(int x, int y, const RECT& r) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// ---- surfaces and objects ----

TEST_F(GdiSurfaceTest, OutOfRangeIsHarmlessAndResizeKeepsTheOverlap) {
    Surface s(4, 3, kRed);
    s.SetPixel(3, 2, kBlue);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {4, 0}, {0, 3}, {1 << 30, 1 << 30}}) {
        s.SetPixel(x, y, kGreen);
        EXPECT_EQ(s.Pixel(x, y), 0u) << x << "," << y;
    }
    EXPECT_EQ(PixelsNot(s, kRed), (PixelSet{{3, 2}}));

    s.Resize(6, 2, kGreen);
    ASSERT_EQ(s.width(), 6);
    ASSERT_EQ(s.height(), 2);
    ExpectPixels(
        s, [](int x, int) { return x < 4 ? kRed : kGreen; }, "resized");
    s.Fill(kBlack);
    EXPECT_EQ(PixelsNot(s, kBlack), PixelSet{});
    s.Resize(-5, 100000, kWhite);
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.height(), 0);
    EXPECT_EQ(s.Pixel(0, 0), 0u);
}

TEST_F(GdiObjectTest, SystemColoursAreTheClassicScheme) {
    struct Case {
        int index;
        COLORREF color;
    };
    const Case cases[] = {
        {COLOR_BTNFACE, RGB(192, 192, 192)},
        {COLOR_WINDOW, RGB(255, 255, 255)},
        {COLOR_WINDOWTEXT, RGB(0, 0, 0)},
        {COLOR_BTNSHADOW, RGB(128, 128, 128)},
        {COLOR_BTNHIGHLIGHT, RGB(255, 255, 255)},
        {COLOR_GRAYTEXT, RGB(128, 128, 128)},
        {COLOR_BTNTEXT, RGB(0, 0, 0)},
        {COLOR_3DDKSHADOW, RGB(0, 0, 0)},
        {COLOR_ACTIVECAPTION, RGB(0, 0, 128)},
        {COLOR_HIGHLIGHTTEXT, RGB(255, 255, 255)},
        {-1, 0},
        {25, 0},
        {99, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(GetSysColor(c.index), c.color) << c.index;

    // A system colour index + 1 serves as a brush, and so does its shared brush.
    Canvas canvas(4, 4);
    HBRUSH shared = GetSysColorBrush(COLOR_BTNSHADOW);
    ASSERT_NE(shared, 0u);
    EXPECT_EQ(FillRect(canvas.dc, RECT{0, 0, 2, 4}, COLOR_BTNFACE + 1), 1);
    EXPECT_EQ(FillRect(canvas.dc, RECT{2, 0, 4, 4}, shared), 1);
    ExpectPixels(
        canvas.surface, [](int x, int) { return x < 2 ? kGrey : RGB(128, 128, 128); },
        "system colour brushes");
    EXPECT_FALSE(DeleteObject(shared));
    EXPECT_EQ(GetSysColorBrush(25), 0u);
}

TEST_F(GdiObjectTest, StockObjectsAreFixedAndNeverDeleted) {
    std::set<HGDIOBJ> seen;
    for (int index :
         {WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN,
          BLACK_PEN, NULL_PEN, ANSI_VAR_FONT, SYSTEM_FONT, DEFAULT_GUI_FONT}) {
        HGDIOBJ handle = GetStockObject(index);
        ASSERT_NE(handle, 0u) << index;
        EXPECT_EQ(GetStockObject(index), handle) << index;
        EXPECT_TRUE(seen.insert(handle).second) << index;
        EXPECT_FALSE(DeleteObject(handle)) << index;
        EXPECT_EQ(GetStockObject(index), handle) << index;
    }
    for (int index : {-1, 9, 10, 11, 14, 15, 16, 18, 100}) EXPECT_EQ(GetStockObject(index), 0u);

    // still usable after the refused deletions
    Canvas canvas(3, 1);
    EXPECT_EQ(FillRect(canvas.dc, RECT{0, 0, 3, 1}, GetStockObject(GRAY_BRUSH)), 1);
    EXPECT_EQ(canvas.surface.Pixel(1, 0), RGB(128, 128, 128));
    EXPECT_EQ(FillRect(canvas.dc, RECT{0, 0, 3, 1}, GetStockObject(NULL_BRUSH)), 0);
    EXPECT_EQ(canvas.surface.Pixel(1, 0), RGB(128, 128, 128));
}

TEST_F(GdiObjectTest, SelectObjectReturnsThePreviousObjectOfItsKind) {
    Canvas canvas(8, 8);
    HDC dc = canvas.dc;
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));

    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HBRUSH brush = CreateSolidBrush(kBlue);
    HFONT font = CreateFont("Arial", 8, false);
    ASSERT_NE(pen, 0u);
    ASSERT_NE(brush, 0u);
    ASSERT_NE(font, 0u);
    EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(dc, font), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(SelectObject(dc, GetStockObject(WHITE_PEN)), pen);
    EXPECT_EQ(SelectObject(dc, pen), GetStockObject(WHITE_PEN));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);

    // what cannot be selected changes nothing
    EXPECT_EQ(SelectObject(dc, LoadBitmapResource("VELDABMP")), 0u);
    EXPECT_EQ(SelectObject(dc, LoadIconResource("SURFICON")), 0u);
    EXPECT_EQ(SelectObject(dc, 0xDEAD), 0u);
    EXPECT_EQ(SelectObject(0xDEAD, pen), 0u);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(CreatePen(77, 1, kRed), 0u);
}

TEST_F(GdiObjectTest, AnObjectDeletedWhileSelectedLivesUntilDeselected) {
    Canvas canvas(4, 1);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ old = SelectObject(canvas.dc, pen);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(pen));  // already deleted
    MoveToEx(canvas.dc, 0, 0, nullptr);
    LineTo(canvas.dc, 2, 0);
    EXPECT_EQ(canvas.surface.Pixel(1, 0), kRed);  // the DC still draws with it
    EXPECT_EQ(SelectObject(canvas.dc, old), pen);
    EXPECT_EQ(SelectObject(canvas.dc, pen), 0u);  // now it is gone

    HBRUSH brush = CreateSolidBrush(kBlue);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(FillRect(canvas.dc, RECT{0, 0, 4, 1}, brush), 0);

    // deleting the DC releases what it still had selected
    HBRUSH held = CreateSolidBrush(kGreen);
    {
        Canvas other(2, 2);
        SelectObject(other.dc, held);
        EXPECT_TRUE(DeleteObject(held));
        EXPECT_EQ(SelectObject(canvas.dc, held), 0u);
    }
    EXPECT_EQ(FillRect(canvas.dc, RECT{0, 0, 4, 1}, held), 0);
}

// ---- lines ----

TEST_F(GdiLineTest, LineToLeavesOutTheEndPoint) {
    struct Case {
        const char* name;
        POINT from, to;
        PixelSet pixels;
    };
    const Case cases[] = {
        {"right", {2, 5}, {8, 5}, {{2, 5}, {3, 5}, {4, 5}, {5, 5}, {6, 5}, {7, 5}}},
        {"left", {8, 5}, {2, 5}, {{8, 5}, {7, 5}, {6, 5}, {5, 5}, {4, 5}, {3, 5}}},
        {"down", {4, 1}, {4, 6}, {{4, 1}, {4, 2}, {4, 3}, {4, 4}, {4, 5}}},
        {"up", {4, 6}, {4, 1}, {{4, 6}, {4, 5}, {4, 4}, {4, 3}, {4, 2}}},
        {"diagonal down-right", {1, 1}, {5, 5}, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}},
        {"diagonal down-left", {5, 1}, {1, 5}, {{5, 1}, {4, 2}, {3, 3}, {2, 4}}},
        {"diagonal up-left", {5, 5}, {1, 1}, {{5, 5}, {4, 4}, {3, 3}, {2, 2}}},
        {"shallow", {0, 0}, {6, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}}},
        {"steep", {0, 0}, {2, 6}, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}}},
        {"one step", {3, 3}, {4, 3}, {{3, 3}}},
        {"no length", {3, 3}, {3, 3}, {}},
        {"from outside", {-5, 2}, {3, 2}, {{0, 2}, {1, 2}, {2, 2}}},
        {"far outside",
         {-1000000000, 7},
         {1000000000, 7},
         {{0, 7}, {1, 7}, {2, 7}, {3, 7}, {4, 7}, {5, 7}, {6, 7}, {7, 7}, {8, 7}, {9, 7}}},
    };
    for (const auto& c : cases) {
        ResetGdi();
        Canvas canvas(10, 10);
        POINT old{-1, -1};
        MoveToEx(canvas.dc, c.from.x, c.from.y, &old);
        EXPECT_EQ(old, (POINT{0, 0})) << c.name;
        EXPECT_TRUE(LineTo(canvas.dc, c.to.x, c.to.y));
        EXPECT_EQ(PixelsNot(canvas.surface, kWhite), c.pixels) << c.name;
        EXPECT_EQ(PixelsNot(canvas.surface, kBlack).size(), 100 - c.pixels.size()) << c.name;
        POINT now;
        GetCurrentPositionEx(canvas.dc, &now);
        EXPECT_EQ(now, c.to) << c.name;
    }
}

TEST_F(GdiLineTest, PenWidthStyleAndTheNullPen) {
    struct Case {
        const char* name;
        HPEN (*pen)();
        int bkMode;
        std::function<COLORREF(int, int)> expected;  // on a 12 x 5 white surface
    };
    // every line runs from (0, 2) to (12, 2)
    const Case cases[] = {
        {"wide", [] { return CreatePen(PS_SOLID, 3, kRed); }, OPAQUE,
         [](int, int y) { return y >= 1 && y <= 3 ? kRed : kWhite; }},
        {"dotted, transparent", [] { return CreatePen(PS_DOT, 1, kRed); }, TRANSPARENT,
         [](int x, int y) { return y == 2 && x % 6 < 3 ? kRed : kWhite; }},
        {"dotted, opaque", [] { return CreatePen(PS_DOT, 1, kRed); }, OPAQUE,
         [](int x, int y) { return y != 2      ? kWhite
                                   : x % 6 < 3 ? kRed
                                               : kGreen; }},
        {"null", [] { return static_cast<HPEN>(GetStockObject(NULL_PEN)); }, OPAQUE,
         [](int, int) { return kWhite; }},
    };
    for (const auto& c : cases) {
        ResetGdi();
        Canvas canvas(12, 5);
        SelectObject(canvas.dc, c.pen());
        SetBkMode(canvas.dc, c.bkMode);
        SetBkColor(canvas.dc, kGreen);
        MoveToEx(canvas.dc, 0, 2, nullptr);
        LineTo(canvas.dc, 12, 2);
        ExpectPixels(canvas.surface, c.expected, c.name);
        POINT now;
        GetCurrentPositionEx(canvas.dc, &now);
        EXPECT_EQ(now, (POINT{12, 2})) << c.name;
    }
}

// ---- rectangles ----

TEST_F(GdiRectTest, RectanglesExcludeTheirRightAndBottomEdges) {
    struct Case {
        const char* name;
        std::function<void(HDC)> draw;
        std::function<COLORREF(int, int)> expected;  // on a 12 x 12 white surface
    };
    auto red = [] { return CreateSolidBrush(kRed); };
    const Case cases[] = {
        {"FillRect",
         [&](HDC dc) {
             FillRect(dc, RECT{2, 3, 7, 8}, red());
         },
         [](int x, int y) {
             return Inside(x, y, {2, 3, 7, 8}) ? kRed : kWhite;
         }},
        {"FillRect empty",
         [&](HDC dc) {
             FillRect(dc, RECT{7, 3, 2, 8}, red());
         },
         [](int, int) { return kWhite; }},
        {"FrameRect",
         [&](HDC dc) {
             FrameRect(dc, RECT{2, 3, 7, 8}, red());
         },
         [](int x, int y) {
             return Inside(x, y, {2, 3, 7, 8}) && !Inside(x, y, {3, 4, 6, 7}) ? kRed : kWhite;
         }},
        {"Rectangle",
         [&](HDC dc) {
             SelectObject(dc, red());
             Rectangle(dc, 2, 3, 7, 8);
         },
         [](int x, int y) {
             if (!Inside(x, y, {2, 3, 7, 8})) return kWhite;
             return Inside(x, y, {3, 4, 6, 7}) ? kRed : kBlack;
         }},
        {"Rectangle with swapped corners",
         [&](HDC dc) {
             SelectObject(dc, red());
             Rectangle(dc, 7, 8, 2, 3);
         },
         [](int x, int y) {
             if (!Inside(x, y, {2, 3, 7, 8})) return kWhite;
             return Inside(x, y, {3, 4, 6, 7}) ? kRed : kBlack;
         }},
        {"Rectangle with the null pen",
         [&](HDC dc) {
             SelectObject(dc, red());
             SelectObject(dc, GetStockObject(NULL_PEN));
             Rectangle(dc, 2, 3, 7, 8);
         },
         [](int x, int y) {
             return Inside(x, y, {2, 3, 6, 7}) ? kRed : kWhite;
         }},
        {"Rectangle with the null brush",
         [&](HDC dc) {
             SelectObject(dc, GetStockObject(NULL_BRUSH));
             Rectangle(dc, 2, 3, 7, 8);
         },
         [](int x, int y) {
             return Inside(x, y, {2, 3, 7, 8}) && !Inside(x, y, {3, 4, 6, 7}) ? kBlack : kWhite;
         }},
        {"Rectangle with a 2-pixel pen",
         [&](HDC dc) {
             SelectObject(dc, CreatePen(PS_SOLID, 2, kBlue));
             SelectObject(dc, red());
             Rectangle(dc, 1, 1, 11, 9);
         },
         [](int x, int y) {
             if (!Inside(x, y, {1, 1, 11, 9})) return kWhite;
             return Inside(x, y, {3, 3, 9, 7}) ? kRed : kBlue;
         }},
        {"InvertRect",
         [&](HDC dc) {
             FillRect(dc, RECT{0, 0, 12, 6}, red());
             InvertRect(dc, RECT{4, 4, 8, 8});
         },
         [](int x, int y) {
             COLORREF base = y < 6 ? kRed : kWhite;
             return Inside(x, y, {4, 4, 8, 8}) ? base ^ 0xFFFFFF : base;
         }},
    };
    for (const auto& c : cases) {
        ResetGdi();
        Canvas canvas(12, 12);
        c.draw(canvas.dc);
        ExpectPixels(canvas.surface, c.expected, c.name);
    }
}

TEST_F(GdiRectTest, FocusRectUndoesItselfAndEdgesUseTheSystemColours) {
    Canvas canvas(12, 12, kGrey);
    Surface before = canvas.surface;
    DrawFocusRect(canvas.dc, RECT{1, 1, 11, 9});
    PixelSet changed = PixelsNot(canvas.surface, kGrey);
    EXPECT_EQ(changed.size(), 16u);  // every other pixel of the 32-pixel border
    for (const auto& [x, y] : changed) {
        EXPECT_TRUE(Inside(x, y, {1, 1, 11, 9}) && !Inside(x, y, {2, 2, 10, 8})) << x << "," << y;
        EXPECT_EQ(canvas.surface.Pixel(x, y), kGrey ^ 0xFFFFFF);
    }
    DrawFocusRect(canvas.dc, RECT{1, 1, 11, 9});
    EXPECT_EQ(canvas.surface, before);

    RECT r{1, 1, 11, 9};
    DrawEdge(canvas.dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    EXPECT_EQ(r, (RECT{3, 3, 9, 7}));
    const COLORREF shadow = RGB(128, 128, 128);
    struct Probe {
        int x, y;
        COLORREF color;
    };
    for (const Probe p : {Probe{5, 1, shadow},
                          {1, 5, shadow},
                          {5, 8, kWhite},
                          {10, 5, kWhite},
                          {10, 1, kWhite},
                          {5, 2, kBlack},
                          {2, 5, kBlack},
                          {5, 7, kGrey},
                          {5, 5, kGrey},
                          {0, 0, kGrey}}) {
        EXPECT_EQ(canvas.surface.Pixel(p.x, p.y), p.color) << p.x << "," << p.y;
    }
}

// ---- device contexts ----

TEST_F(GdiDcTest, OriginAndClipPlaceAndLimitEveryDrawing) {
    // logical (0, 0) is (10, 5) on the surface; only (12, 7)..(20, 15) may change
    const RECT clip{12, 7, 20, 15};
    struct Case {
        const char* name;
        std::function<void(HDC)> draw;
        std::function<bool(int, int)> drawn;  // surface coordinates
    };
    const Case cases[] = {
        {"FillRect",
         [](HDC dc) {
             FillRect(dc, RECT{-100, -100, 100, 100}, GetStockObject(BLACK_BRUSH));
         },
         [&](int x, int y) { return Inside(x, y, clip); }},
        {"Rectangle",
         [](HDC dc) {
             SelectObject(dc, GetStockObject(BLACK_BRUSH));
             Rectangle(dc, 0, 0, 5, 5);
         },
         [&](int x, int y) {
             return Inside(x, y, {12, 7, 15, 10});
         }},
        {"LineTo",
         [](HDC dc) {
             MoveToEx(dc, -50, 4, nullptr);
             LineTo(dc, 50, 4);
         },
         [&](int x, int y) { return y == 9 && x >= 12 && x < 20; }},
        {"SetPixel",
         [](HDC dc) {
             SetPixel(dc, 3, 3, kBlack);
             SetPixel(dc, 0, 0, kBlack);  // outside the clip
         },
         [](int x, int y) { return x == 13 && y == 8; }},
        {"TextOut", [](HDC dc) { TextOut(dc, -40, 0, std::string(40, 'W')); },
         [&](int x, int y) { return Inside(x, y, clip); }},
    };
    for (const auto& c : cases) {
        ResetGdi();
        Canvas canvas(30, 20, kWhite, POINT{10, 5}, clip);
        c.draw(canvas.dc);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 30; ++x) {
                bool changed = canvas.surface.Pixel(x, y) != kWhite;
                if (!c.drawn(x, y)) {
                    EXPECT_FALSE(changed) << c.name << " at " << x << "," << y;
                }
            }
        }
        if (std::string(c.name) != "TextOut") {
            ExpectPixels(
                canvas.surface, [&](int x, int y) { return c.drawn(x, y) ? kBlack : kWhite; },
                c.name);
        } else {
            EXPECT_FALSE(PixelsNot(canvas.surface, kWhite).empty());
        }
    }

    Canvas canvas(30, 20, kWhite, POINT{10, 5}, RECT{12, 7, 40, 15});
    RECT box;
    ASSERT_TRUE(GetClipBox(canvas.dc, &box));
    EXPECT_EQ(box, (RECT{2, 2, 20, 10}));  // the clip cut to the surface, in logical units
    EXPECT_EQ(GetPixel(canvas.dc, 2, 2), kWhite);
    EXPECT_EQ(GetPixel(canvas.dc, 1, 2), CLR_INVALID);
    EXPECT_EQ(SetTextColor(canvas.dc, kRed), kBlack);
    EXPECT_EQ(SetBkColor(canvas.dc, kRed), kWhite);
    EXPECT_EQ(SetBkMode(canvas.dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(canvas.dc, 7), 0);

    DeleteSurfaceDC(canvas.dc);
    EXPECT_FALSE(LineTo(canvas.dc, 1, 1));
    EXPECT_EQ(SetTextColor(canvas.dc, kRed), CLR_INVALID);
    EXPECT_EQ(DrawText(canvas.dc, "x", box, DT_LEFT), 0);
    canvas.dc = 0;
}

TEST_F(GdiDcTest, ExtremeCoordinatesAreCutNotOverflowed) {
    constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
    Canvas canvas(20, 10, kWhite, POINT{kMax, kMin}, RECT{kMin, kMin, kMax, kMax});
    // the origin is cut too: nothing of the logical plane near (0, 0) reaches the surface
    EXPECT_EQ(FillRect(canvas.dc, RECT{-5, -5, 5, 5}, GetStockObject(BLACK_BRUSH)), 1);
    EXPECT_EQ(PixelsNot(canvas.surface, kWhite), PixelSet{});

    Canvas plain(20, 10, kWhite, POINT{3, 2}, RECT{kMin, kMin, kMax, kMax});
    HDC dc = plain.dc;
    FillRect(dc, RECT{kMin, kMin, kMax, kMax}, GetStockObject(GRAY_BRUSH));
    EXPECT_EQ(PixelsNot(plain.surface, RGB(128, 128, 128)), PixelSet{});
    Rectangle(dc, kMin, kMin, kMax, kMax);
    Rectangle(dc, kMax, kMax, kMin, kMin);
    MoveToEx(dc, kMin, kMin, nullptr);
    LineTo(dc, kMax, kMax);
    LineTo(dc, kMin, kMax);
    SelectObject(dc, CreatePen(PS_DASHDOTDOT, 1, kRed));
    LineTo(dc, kMax, kMin);
    SelectObject(dc, CreatePen(PS_SOLID, 256, kRed));
    LineTo(dc, kMin, 0);
    RECT huge{kMin, kMin, kMax, kMax};
    DrawText(dc, "one two\r\nthree", huge, DT_CENTER | DT_WORDBREAK);
    DrawText(dc, "one", huge, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    DrawText(dc, "one", huge, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE);
    DrawText(dc, "one", huge, DT_CALCRECT);
    TextOut(dc, kMax, kMin, "far");
    ScrollDC(dc, kMax, kMin, &huge, &huge, &huge);
    DrawIconEx(dc, kMin, kMax, LoadIconResource("SURFICON"), kMax, kMax);
    DrawIconEx(dc, -1000, -1000, LoadIconResource("SURFICON"), kMax, kMax);
    DrawFocusRect(dc, RECT{kMin, kMin, kMax, kMax});
    RECT edge{kMin, kMin, kMax, kMax};
    DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_ADJUST);
    InvertRect(dc, RECT{kMin, kMin, kMax, kMax});
    SetPixel(dc, kMax, kMax, kRed);
    EXPECT_EQ(GetPixel(dc, kMin, kMin), CLR_INVALID);
}

// ---- text ----

TEST_F(GdiTextTest, FontsMapToTheirFilesAndMeasureConsistently) {
    EXPECT_NE(FindFontFile("Arial", false).find("LiberationSans-Regular"), std::string::npos);
    EXPECT_NE(FindFontFile("ARIAL", true).find("LiberationSans-Bold"), std::string::npos);
    EXPECT_NE(FindFontFile("System", false).find("DejaVuSans.ttf"), std::string::npos);
    EXPECT_NE(FindFontFile("MS Sans Serif", false).find("DejaVuSans.ttf"), std::string::npos);
    EXPECT_NE(FindFontFile("No Such Face", true).find("DejaVuSans-Bold"), std::string::npos);

    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (auto [name, points] : {std::pair{"System", 8}, {"Arial", 8}, {"Arial", 10}}) {
        HFONT font = CreateFont(name, points, false);
        TEXTMETRIC tm = GetFontMetrics(font);
        SIZE units = DialogBaseUnits(font);
        SIZE all = GetTextExtent(font, letters);
        EXPECT_EQ(units.cx, (all.cx + 26) / 52) << name << points;
        EXPECT_EQ(units.cy, tm.tmHeight) << name << points;
        EXPECT_EQ(all.cy, tm.tmHeight) << name << points;
        EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent) << name << points;
        // 96 dots per inch: the em is points * 4 / 3 pixels, the line a little more
        EXPECT_GE(tm.tmHeight, points * 4 / 3) << name << points;
        EXPECT_LE(tm.tmHeight, points * 4 / 3 + 4) << name << points;
        SIZE ab = GetTextExtent(font, "ab"), a = GetTextExtent(font, "a"),
             b = GetTextExtent(font, "b");
        EXPECT_EQ(ab.cx, a.cx + b.cx) << name << points;
        EXPECT_EQ(GetTextExtent(font, "").cx, 0);

        Canvas canvas(4, 4);
        SelectObject(canvas.dc, font);
        SIZE viaDc;
        ASSERT_TRUE(GetTextExtentPoint32(canvas.dc, letters, &viaDc));
        EXPECT_EQ(viaDc, all);
        TEXTMETRIC viaDcMetrics;
        ASSERT_TRUE(GetTextMetrics(canvas.dc, &viaDcMetrics));
        EXPECT_EQ(viaDcMetrics.tmHeight, tm.tmHeight);
    }
    // The dialog font of the program: System, 8 points.
    SIZE units = DialogBaseUnits(CreateFont("System", 8, false));
    EXPECT_EQ(units, (SIZE{7, 13}));
    EXPECT_NE(GetTextExtent(CreateFont("Arial", 10, false), letters),
              GetTextExtent(CreateFont("System", 10, false), letters));
    EXPECT_GT(GetTextExtent(CreateFont("Arial", 10, true), letters).cx,
              GetTextExtent(CreateFont("Arial", 10, false), letters).cx);
}

TEST_F(GdiTextTest, CentredSingleLineTextHasItsInkCentred) {
    struct Case {
        const char* font;
        int points;
        const char* text;
        RECT rect;
    };
    const Case cases[] = {
        {"System", 8, "Cancel", {0, 0, 120, 40}},
        {"System", 8, "OK", {7, 5, 57, 25}},
        {"Arial", 10, "Veldana", {5, 3, 155, 33}},
        {"Arial", 8, "&Cancel Download", {20, 10, 200, 34}},
        {"System", 14, "Headquarters", {0, 0, 200, 60}},
        {"Arial", 14, "Apply", {30, 8, 130, 50}},  // a descender
        {"System", 14, "ace", {0, 0, 60, 31}},     // neither ascenders nor descenders
    };
    for (const auto& c : cases) {
        ResetGdi();
        Canvas canvas(220, 70);
        SelectObject(canvas.dc, CreateFont(c.font, c.points, false));
        SetBkMode(canvas.dc, TRANSPARENT);
        RECT rect = c.rect;
        int height = DrawText(canvas.dc, c.text, rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EXPECT_EQ(rect, c.rect) << c.text;
        RECT ink = InkBox(canvas.surface, kWhite);
        ASSERT_LT(ink.left, ink.right) << c.text;
        EXPECT_GE(ink.left, c.rect.left) << c.text;
        EXPECT_LE(ink.right, c.rect.right) << c.text;
        EXPECT_NEAR((ink.left + ink.right) / 2.0, (c.rect.left + c.rect.right) / 2.0, 1.0)
            << c.text;
        EXPECT_NEAR((ink.top + ink.bottom) / 2.0, (c.rect.top + c.rect.bottom) / 2.0, 1.0)
            << c.text;
        // with DT_VCENTER the result runs from the rectangle's top to the bottom of the cell
        int lineHeight = GetFontMetrics(GetCurrentObject(canvas.dc, OBJ_FONT)).tmHeight;
        EXPECT_LE(ink.bottom, c.rect.top + height) << c.text;
        EXPECT_GE(ink.top, c.rect.top + height - lineHeight) << c.text;
    }
}

TEST_F(GdiTextTest, TextIsBlendedInItsColourAndOpaqueModeFillsTheCell) {
    Canvas canvas(80, 40);
    SelectObject(canvas.dc, CreateFont("Arial", 20, true));
    SetTextColor(canvas.dc, kRed);
    SetBkMode(canvas.dc, TRANSPARENT);
    TextOut(canvas.dc, 2, 2, "HI");
    bool solid = false;
    for (const auto& [x, y] : PixelsNot(canvas.surface, kWhite)) {
        COLORREF c = canvas.surface.Pixel(x, y);
        // every ink pixel lies between the background and the text colour
        EXPECT_EQ(GetRValue(c), 255);
        EXPECT_EQ(GetGValue(c), GetBValue(c));
        solid = solid || c == kRed;
    }
    EXPECT_TRUE(solid);

    Canvas opaque(60, 30);
    SetBkColor(opaque.dc, kGreen);
    SIZE extent;
    GetTextExtentPoint32(opaque.dc, "Hi", &extent);
    TextOut(opaque.dc, 5, 4, "Hi");
    const RECT cell{5, 4, 5 + extent.cx, 4 + extent.cy};
    EXPECT_EQ(InkBox(opaque.surface, kWhite), cell);
    for (auto [x, y] : {std::pair{cell.left, cell.top},
                        {cell.right - 1, cell.top},
                        {cell.left, cell.bottom - 1},
                        {cell.right - 1, cell.bottom - 1}})
        EXPECT_EQ(opaque.surface.Pixel(x, y), kGreen) << x << "," << y;
}

// Draws text into a fresh 160 x 60 white canvas with a font; returns the pixels.
Surface Render(std::string_view text, RECT rect, UINT format, const char* font = "System",
               int points = 8) {
    Canvas canvas(160, 60);
    SelectObject(canvas.dc, CreateFont(font, points, false));
    SetBkMode(canvas.dc, TRANSPARENT);
    DrawText(canvas.dc, text, rect, format);
    return canvas.surface;
}

TEST_F(GdiTextTest, LinesBreakAtLineEndsAndAtBlanks) {
    HFONT font = CreateFont("System", 8, false);
    const int lh = GetFontMetrics(font).tmHeight;
    const RECT wide{0, 0, 160, 60};

    // "\r\n", "\n" and "\r" break alike; each line is laid out as if drawn alone
    for (UINT align : {DT_LEFT, DT_CENTER, DT_RIGHT}) {
        Surface two = Render("Line one\r\nand two", wide, align);
        EXPECT_EQ(Render("Line one\nand two", wide, align), two) << align;
        EXPECT_EQ(Render("Line one\rand two", wide, align), two) << align;
        Surface apart(160, 60);
        {
            Canvas canvas(160, 60);
            SelectObject(canvas.dc, CreateFont("System", 8, false));
            SetBkMode(canvas.dc, TRANSPARENT);
            RECT first = wide, second{0, lh, 160, 60};
            DrawText(canvas.dc, "Line one", first, align);
            DrawText(canvas.dc, "and two", second, align);
            apart = canvas.surface;
        }
        EXPECT_EQ(two, apart) << align;
    }
    // DT_SINGLELINE does not break
    EXPECT_NE(Render("Line one\r\nand two", wide, DT_SINGLELINE), Render("Line one", wide, 0));

    // DT_CALCRECT measures without drawing
    Canvas canvas(10, 10);
    SelectObject(canvas.dc, font);
    struct Case {
        const char* text;
        UINT format;
        int width;  // of the rectangle given
        int lines;
        const char* widest;
    };
    const SIZE three = GetTextExtent(font, "three");
    const Case cases[] = {
        {"\r\nDownloading file\r\n(37%)", DT_CENTER, 200, 3, "Downloading file"},
        {"one two three", DT_WORDBREAK, three.cx + 2, 3, "three"},
        {"one two three", DT_LEFT, three.cx + 2, 1, "one two three"},
        {"one two three", DT_WORDBREAK, 1000, 1, "one two three"},
        {"one\ntwo three", DT_WORDBREAK, 1000, 2, "two three"},
        {"unbreakable", DT_WORDBREAK, 5, 1, "unbreakable"},
        {"ab\r\n\r\nab", DT_LEFT, 100, 3, "ab"},
        {"", DT_LEFT, 100, 0, ""},
    };
    for (const auto& c : cases) {
        RECT r{3, 4, 3 + c.width, 5};
        int height = DrawText(canvas.dc, c.text, r, c.format | DT_CALCRECT);
        EXPECT_EQ(height, c.lines * lh) << c.text;
        EXPECT_EQ(r, (RECT{3, 4, 3 + GetTextExtent(font, c.widest).cx, 4 + c.lines * lh}))
            << c.text;
    }
    EXPECT_EQ(PixelsNot(canvas.surface, kWhite), PixelSet{});

    // wrapped text draws as the same words on lines of their own
    RECT narrow{0, 0, three.cx + 2, 60};
    EXPECT_EQ(Render("one two three", narrow, DT_WORDBREAK | DT_CENTER),
              Render("one\ntwo\nthree", narrow, DT_CENTER));
}

TEST_F(GdiTextTest, AmpersandUnderlinesTheNextCharacter) {
    const RECT rect{4, 4, 160, 60};
    Surface plain = Render("Cancel", rect, DT_LEFT);
    Surface prefixed = Render("&Cancel", rect, DT_LEFT);
    HFONT font = CreateFont("System", 8, false);
    TEXTMETRIC tm = GetFontMetrics(font);
    int cWidth = GetTextExtent(font, "C").cx;

    // the only difference is a line under the C, below the baseline
    PixelSet underline;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 160; ++x)
            if (plain.Pixel(x, y) != prefixed.Pixel(x, y)) underline.insert({x, y});
    ASSERT_FALSE(underline.empty());
    for (const auto& [x, y] : underline) {
        EXPECT_GE(x, 4);
        EXPECT_LT(x, 4 + cWidth);
        EXPECT_GT(y, 4 + tm.tmAscent - 1);
        EXPECT_LT(y, 4 + tm.tmHeight);
        EXPECT_EQ(prefixed.Pixel(x, y), kBlack);
    }
    EXPECT_EQ(underline.size() % cWidth, 0u);  // whole rows across the C's advance

    EXPECT_EQ(Render("Cancel", rect, DT_LEFT), Render("&Cancel", rect, DT_HIDEPREFIX));
    EXPECT_EQ(Render("Salt && Pepper", rect, DT_LEFT), Render("Salt & Pepper", rect, DT_NOPREFIX));
    EXPECT_NE(Render("&Cancel", rect, DT_NOPREFIX), plain);

    Canvas canvas(4, 4);
    SelectObject(canvas.dc, font);
    RECT a{0, 0, 100, 20}, b{0, 0, 100, 20}, c{0, 0, 100, 20};
    DrawText(canvas.dc, "&Cancel", a, DT_CALCRECT | DT_SINGLELINE);
    DrawText(canvas.dc, "Cancel", b, DT_CALCRECT | DT_SINGLELINE);
    DrawText(canvas.dc, "&Cancel", c, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    EXPECT_EQ(a, b);
    EXPECT_GT(c.right, b.right);
}

TEST_F(GdiTextTest, DrawTextClipsToItsRectangleUnlessNoClip) {
    const RECT rect{10, 10, 40, 20};
    RECT clippedInk = InkBox(Render("A long line of text", rect, DT_LEFT), kWhite);
    EXPECT_GE(clippedInk.left, rect.left);
    EXPECT_LE(clippedInk.right, rect.right);
    EXPECT_LE(clippedInk.bottom, rect.bottom);
    RECT freeInk = InkBox(Render("A long line of text", rect, DT_LEFT | DT_NOCLIP), kWhite);
    EXPECT_GT(freeInk.right, rect.right + 20);

    // UTF-8 and stray Latin-1 bytes both name the same character
    EXPECT_EQ(Render("caf\xc3\xa9", {0, 0, 160, 60}, DT_LEFT),
              Render("caf\xe9", {0, 0, 160, 60}, DT_LEFT));
}

// ---- scrolling ----

TEST_F(GdiScrollTest, ScrollDCMovesPixelsWithinItsRectangles) {
    auto original = [](int x, int y) { return RGB(x * 10, y * 10, 7); };
    struct Case {
        const char* name;
        POINT origin;
        int dx, dy;
        std::optional<RECT> scroll, clip;
        RECT dest;    // surface coordinates that receive moved pixels
        RECT update;  // logical
    };
    const Case cases[] = {
        // without a clip rectangle, moved pixels may leave the scrolled rectangle
        {"up", {0, 0}, 0, -3, RECT{2, 2, 12, 12}, std::nullopt, {2, 0, 12, 9}, {2, 9, 12, 12}},
        {"up, clipped to itself",
         {0, 0},
         0,
         -3,
         RECT{2, 2, 12, 12},
         RECT{2, 2, 12, 12},
         {2, 2, 12, 9},
         {2, 9, 12, 12}},
        {"right, clipped",
         {0, 0},
         4,
         0,
         RECT{2, 2, 12, 12},
         RECT{0, 0, 10, 20},
         {6, 2, 10, 12},
         {2, 2, 6, 12}},
        {"left, whole DC",
         {5, 5},
         -2,
         0,
         std::nullopt,
         std::nullopt,
         {5, 5, 18, 20},
         {13, 0, 15, 15}},
        {"down-left, whole DC",
         {5, 5},
         -2,
         3,
         std::nullopt,
         std::nullopt,
         {5, 8, 18, 20},
         {0, 0, 15, 15}},
        {"too far", {0, 0}, 50, 0, RECT{2, 2, 12, 12}, std::nullopt, {0, 0, 0, 0}, {2, 2, 12, 12}},
    };
    for (const auto& c : cases) {
        ResetGdi();
        Canvas canvas(20, 20, kWhite, c.origin, RECT{c.origin.x, c.origin.y, 20, 20});
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) canvas.surface.SetPixel(x, y, original(x, y));
        RECT update{-1, -1, -1, -1};
        ASSERT_TRUE(ScrollDC(canvas.dc, c.dx, c.dy, c.scroll ? &*c.scroll : nullptr,
                             c.clip ? &*c.clip : nullptr, &update));
        ExpectPixels(
            canvas.surface,
            [&](int x, int y) {
                return Inside(x, y, c.dest) ? original(x - c.dx, y - c.dy) : original(x, y);
            },
            c.name);
        EXPECT_EQ(update, c.update) << c.name;
    }
}

// ---- images ----

TEST_F(GdiImageTest, BuiltInImagesLoadWithTheirSizesAndPixels) {
    HICON icon = LoadIconResource("SURFICON");
    HICON upgrade = LoadIconResource("SURFICON3");
    HBITMAP logo = LoadBitmapResource("VELDABMP");
    ASSERT_NE(icon, 0u);
    ASSERT_NE(upgrade, 0u);
    ASSERT_NE(logo, 0u);
    EXPECT_EQ(LoadIconResource("surficon"), icon);  // shared, names in any case
    EXPECT_EQ(LoadBitmapResource("VeldaBmp"), logo);
    EXPECT_EQ(LoadIconResource("VELDABMP"), 0u);  // a bitmap, not an icon
    EXPECT_EQ(LoadBitmapResource("SURFICON"), 0u);
    EXPECT_EQ(LoadIconResource("NOSUCH"), 0u);
    EXPECT_EQ(LoadIconResource(""), 0u);
    EXPECT_EQ(BitmapSize(icon), (SIZE{32, 32}));
    EXPECT_EQ(BitmapSize(upgrade), (SIZE{32, 32}));
    EXPECT_EQ(BitmapSize(logo), (SIZE{100, 60}));
    EXPECT_EQ(BitmapSize(GetStockObject(BLACK_PEN)), (SIZE{0, 0}));
    EXPECT_FALSE(DeleteObject(icon));
    EXPECT_FALSE(DeleteObject(logo));

    // icons: transparent corners, the ocean, the sun; the upgrade mark in the corner
    const COLORREF ocean = RGB(0, 96, 192), sun = RGB(255, 224, 0);
    Canvas canvas(80, 40, kMagenta);
    ASSERT_TRUE(DrawIcon(canvas.dc, 0, 0, icon));
    ASSERT_TRUE(DrawIcon(canvas.dc, 40, 0, upgrade));
    for (int left : {0, 40}) {
        EXPECT_EQ(canvas.surface.Pixel(left, 0), kMagenta);
        EXPECT_EQ(canvas.surface.Pixel(left + 31, 31), kMagenta);
        EXPECT_EQ(canvas.surface.Pixel(left + 16, 16), ocean);
        EXPECT_EQ(canvas.surface.Pixel(left + 8, 12), ocean);
        EXPECT_EQ(canvas.surface.Pixel(left + 21, 9), sun);
    }
    EXPECT_EQ(canvas.surface.Pixel(40 + 25, 27), kWhite);  // the arrow's shaft
    EXPECT_NE(canvas.surface.Pixel(25, 27), kWhite);
    EXPECT_EQ(canvas.surface.Pixel(32, 0), kMagenta);  // nothing beyond the icon

    // scaled to 16 x 16, every other pixel
    Canvas small(16, 16, kMagenta);
    ASSERT_TRUE(DrawIconEx(small.dc, 0, 0, icon, 16, 16));
    EXPECT_EQ(small.surface.Pixel(8, 8), ocean);
    EXPECT_EQ(small.surface.Pixel(0, 0), kMagenta);

    // the logo: button-face background, the blue panel, white letters
    Canvas button(110, 70, kGreen);
    ASSERT_TRUE(DrawBitmap(button.dc, 5, 5, logo));
    EXPECT_EQ(InkBox(button.surface, kGreen), (RECT{5, 5, 105, 65}));
    EXPECT_EQ(button.surface.Pixel(5, 5), kGrey);
    EXPECT_EQ(button.surface.Pixel(5 + 10, 5 + 10), kDarkBlue);
    EXPECT_GT(110u * 70u - PixelsNot(button.surface, kWhite).size(), 200u);  // the letters
    EXPECT_FALSE(DrawBitmap(button.dc, 0, 0, GetStockObject(BLACK_PEN)));
    EXPECT_FALSE(DrawIcon(button.dc, 0, 0, logo));

    const Surface* pixels = ImagePixels(logo);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->Pixel(10, 10), kDarkBlue);
    EXPECT_EQ(ImagePixels(GetStockObject(WHITE_BRUSH)), nullptr);

    Surface made(3, 2, kRed);
    HBITMAP copy = CreateBitmapFromSurface(made);
    EXPECT_EQ(BitmapSize(copy), (SIZE{3, 2}));
    EXPECT_TRUE(DeleteObject(copy));
    EXPECT_EQ(BitmapSize(copy), (SIZE{0, 0}));
}

// A BMP file built field by field, for the decoder tests.
struct BmpSpec {
    int width = 3;
    int height = 2;  // negative: top-down
    int bpp = 24;
    std::uint32_t compression = 0;
    std::uint32_t headerSize = 40;
    std::vector<std::uint32_t> palette = {};  // 0x00RRGGBB
    std::vector<std::uint32_t> masks = {};    // after a 40-byte header, or inside a larger one
    // the value of each pixel: a palette index, 0x00RRGGBB for 24 bits, or the raw 32 bits
    std::function<std::uint32_t(int, int)> value = [](int x, int y) {
        return static_cast<std::uint32_t>((x * 80) << 16 | (y * 100) << 8 | 33);
    };
};

void Put(std::vector<unsigned char>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::vector<unsigned char> MakeBmp(const BmpSpec& bmp) {
    int h = std::abs(bmp.height);
    std::size_t stride = (static_cast<std::size_t>(bmp.width) * bmp.bpp + 31) / 32 * 4;
    std::vector<unsigned char> info;
    Put(info, bmp.headerSize, 4);
    Put(info, static_cast<std::uint32_t>(bmp.width), 4);
    Put(info, static_cast<std::uint32_t>(bmp.height), 4);
    Put(info, 1, 2);
    Put(info, static_cast<std::uint32_t>(bmp.bpp), 2);
    Put(info, bmp.compression, 4);
    Put(info, static_cast<std::uint32_t>(stride * h), 4);
    Put(info, 2835, 4);
    Put(info, 2835, 4);
    Put(info, static_cast<std::uint32_t>(bmp.palette.size()), 4);
    Put(info, 0, 4);
    for (std::uint32_t m : bmp.masks) Put(info, m, 4);
    while (info.size() < bmp.headerSize) info.push_back(0);
    for (std::uint32_t c : bmp.palette) Put(info, c, 4);
    std::vector<unsigned char> pixels;
    for (int row = 0; row < h; ++row) {
        int y = bmp.height < 0 ? row : h - 1 - row;
        std::vector<unsigned char> line(stride, 0);
        for (int x = 0; x < bmp.width; ++x) {
            std::uint32_t v = bmp.value(x, y);
            std::size_t bit = static_cast<std::size_t>(x) * bmp.bpp;
            if (bmp.bpp < 8) {
                line[bit / 8] |= static_cast<unsigned char>(v << (8 - bmp.bpp - bit % 8));
            } else {
                for (int i = 0; i < bmp.bpp / 8; ++i)
                    line[bit / 8 + i] = static_cast<unsigned char>(v >> (8 * i));
            }
        }
        pixels.insert(pixels.end(), line.begin(), line.end());
    }
    std::vector<unsigned char> file = {'B', 'M'};
    std::uint32_t offset = 14 + static_cast<std::uint32_t>(info.size());
    Put(file, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    Put(file, 0, 4);
    Put(file, offset, 4);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

COLORREF FromRgb(std::uint32_t rgb) {
    return RGB(rgb >> 16, rgb >> 8, rgb);
}

TEST_F(GdiBmpTest, DecodesEveryDepthAndRowOrder) {
    const std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                                                0xFFFFFF, 0x808080, 0x123456, 0xABCDEF};
    struct Case {
        const char* name;
        BmpSpec bmp;
        std::function<COLORREF(int, int)> color;
        std::function<int(int, int)> alpha;  // null: no alpha channel
    };
    auto rgb24 = [](int x, int y) { return RGB(x * 80, y * 100, 33); };
    auto index = [](int x, int y) { return static_cast<std::uint32_t>((x + 3 * y) % 8); };
    auto paletteColor = [&](int x, int y) { return FromRgb(palette[index(x, y)]); };
    auto argb = [](int x, int y) {
        return static_cast<std::uint32_t>((x * 60 + y) << 24 | (x * 80) << 16 | (y * 100) << 8 |
                                          33);
    };
    const Case cases[] = {
        {"24-bit bottom-up", BmpSpec{}, rgb24, nullptr},
        {"24-bit top-down", BmpSpec{.height = -2}, rgb24, nullptr},
        {"24-bit, odd width", BmpSpec{.width = 5, .height = 3}, rgb24, nullptr},
        {"8-bit", BmpSpec{.width = 5, .height = 3, .bpp = 8, .palette = palette, .value = index},
         paletteColor, nullptr},
        {"4-bit", BmpSpec{.width = 5, .height = 3, .bpp = 4, .palette = palette, .value = index},
         paletteColor, nullptr},
        {"1-bit across bytes",
         BmpSpec{
             .width = 11,
             .height = 2,
             .bpp = 1,
             .palette = {0x000000, 0xFFFFFF},
             .value = [](int x, int y) { return static_cast<std::uint32_t>((x + y) % 3 == 0); }},
         [](int x, int y) { return (x + y) % 3 == 0 ? kWhite : kBlack; }, nullptr},
        {"32-bit without alpha", BmpSpec{.bpp = 32}, rgb24, nullptr},
        {"32-bit with alpha", BmpSpec{.bpp = 32, .value = argb}, rgb24,
         [](int x, int y) { return x * 60 + y; }},
        {"32-bit fields, alpha in a V4 header",
         BmpSpec{.bpp = 32,
                 .compression = 3,
                 .headerSize = 108,
                 .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
                 .value = argb},
         rgb24, [](int x, int y) { return x * 60 + y; }},
        {"32-bit fields, swapped channels after a 40-byte header",
         BmpSpec{.bpp = 32,
                 .compression = 3,
                 .masks = {0x000000FF, 0x0000FF00, 0x00FF0000},
                 .value = argb},
         [](int x, int y) { return RGB(33, y * 100, x * 80); }, nullptr},
        {"32-bit fields, 5-bit channels",
         BmpSpec{
             .bpp = 32,
             .compression = 3,
             .masks = {0x7C00, 0x03E0, 0x001F},
             .value =
                 [](int x, int) {
                     return static_cast<std::uint32_t>(x == 0 ? 0x7FFF : x == 1 ? 0x7C00 : 0x0010);
                 }},
         [](int x, int) { return x == 0   ? kWhite
                                 : x == 1 ? kRed
                                          : RGB(0, 0, 132); }, nullptr},
    };
    for (const auto& c : cases) {
        DecodedImage image;
        std::string error;
        ASSERT_TRUE(DecodeBmp(MakeBmp(c.bmp), image, &error)) << c.name << ": " << error;
        ASSERT_EQ(image.pixels.width(), c.bmp.width) << c.name;
        ASSERT_EQ(image.pixels.height(), std::abs(c.bmp.height)) << c.name;
        ExpectPixels(image.pixels, c.color, c.name);
        if (c.alpha) {
            ASSERT_EQ(image.alpha.size(), static_cast<std::size_t>(c.bmp.width * 2)) << c.name;
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < c.bmp.width; ++x)
                    EXPECT_EQ(image.alpha[y * c.bmp.width + x], c.alpha(x, y)) << c.name;
        } else {
            EXPECT_TRUE(image.alpha.empty()) << c.name;
        }
    }
}

TEST_F(GdiBmpTest, RefusesShortAndCorruptData) {
    using Bytes = std::vector<unsigned char>;
    auto set32 = [](Bytes& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    const Bytes good = MakeBmp(BmpSpec{});
    const Bytes paletted = MakeBmp(
        BmpSpec{.bpp = 8, .palette = {0x112233, 0x445566}, .value = [](int, int) { return 1u; }});
    const Bytes fields = MakeBmp(
        BmpSpec{.bpp = 32, .compression = 3, .masks = {0x00FF0000, 0x0000FF00, 0x000000FF}});
    struct Case {
        const char* name;
        const Bytes& base;
        std::function<void(Bytes&)> mutate;
    };
    const Case cases[] = {
        {"empty", good, [](Bytes& b) { b.clear(); }},
        {"file header only", good, [](Bytes& b) { b.resize(14); }},
        {"info header cut", good, [](Bytes& b) { b.resize(40); }},
        {"no signature", good, [](Bytes& b) { b[0] = 'X'; }},
        {"unknown header size", good, [&](Bytes& b) { set32(b, 14, 20); }},
        {"header larger than the file", good, [&](Bytes& b) { set32(b, 14, 124), b.resize(100); }},
        {"zero width", good, [&](Bytes& b) { set32(b, 18, 0); }},
        {"negative width", good, [&](Bytes& b) { set32(b, 18, static_cast<std::uint32_t>(-3)); }},
        {"zero height", good, [&](Bytes& b) { set32(b, 22, 0); }},
        {"huge width", good, [&](Bytes& b) { set32(b, 18, 100000); }},
        {"huge top-down height", good, [&](Bytes& b) { set32(b, 22, 0x80000000u); }},
        {"two planes", good, [](Bytes& b) { b[26] = 2; }},
        {"16 bits", good, [](Bytes& b) { b[28] = 16; }},
        {"0 bits", good, [](Bytes& b) { b[28] = 0; }},
        {"run-length compressed", good, [&](Bytes& b) { set32(b, 30, 1); }},
        {"bit fields on 24 bits", good, [&](Bytes& b) { set32(b, 30, 3); }},
        {"pixels past the end", good,
         [&](Bytes& b) { set32(b, 10, static_cast<std::uint32_t>(b.size())); }},
        {"pixel offset far away", good, [&](Bytes& b) { set32(b, 10, 0xFFFFFFF0u); }},
        {"pixel offset inside the header", good, [&](Bytes& b) { set32(b, 10, 20); }},
        {"last byte missing", good, [](Bytes& b) { b.pop_back(); }},
        {"too many colours", paletted, [&](Bytes& b) { set32(b, 46, 257); }},
        {"palette past the pixels", paletted, [&](Bytes& b) { set32(b, 46, 200); }},
        {"zero mask", fields, [&](Bytes& b) { set32(b, 54, 0); }},
        {"overlapping masks", fields, [&](Bytes& b) { set32(b, 58, 0x00FFFF00); }},
        {"mask with a hole", fields, [&](Bytes& b) { set32(b, 62, 0x000000F1); }},
        {"masks cut off", fields, [](Bytes& b) { b.resize(60); }},
    };
    for (const auto& c : cases) {
        Bytes bytes = c.base;
        c.mutate(bytes);
        DecodedImage image;
        std::string error;
        EXPECT_FALSE(DecodeBmp(bytes, image, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
    DecodedImage image;
    EXPECT_TRUE(DecodeBmp(good, image));
    EXPECT_TRUE(DecodeBmp(paletted, image));
    EXPECT_TRUE(DecodeBmp(fields, image));
}

TEST_F(GdiBmpTest, EveryCutAndManyChangesOfARealFileAreSafe) {
    std::span<const unsigned char> icon = embedded::surficon_bmp;
    DecodedImage image;
    ASSERT_TRUE(DecodeBmp(icon, image));
    for (std::size_t size = 0; size < icon.size(); ++size) {
        std::vector<unsigned char> cut(icon.begin(), icon.begin() + size);
        ASSERT_FALSE(DecodeBmp(cut, image)) << size;
    }
    // changed bytes in the headers: decoded or refused, never read out of bounds
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 3000; ++round) {
        std::vector<unsigned char> bytes(icon.begin(), icon.end());
        for (int k = 0; k < 3; ++k) bytes[next() % 122] = static_cast<unsigned char>(next());
        if (DecodeBmp(bytes, image)) {
            EXPECT_LE(image.pixels.width(), Surface::kMaxSurfaceSide);
            EXPECT_LE(image.pixels.height(), Surface::kMaxSurfaceSide);
        }
    }
}

// ---- PNG ----

std::uint32_t Be32(const std::string& s, std::size_t at) {
    auto b = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i]));
    };
    return b(at) << 24 | b(at + 1) << 16 | b(at + 2) << 8 | b(at + 3);
}

// Reads back an 8-bit RGB PNG with unfiltered rows (what EncodePng writes), checking every
// chunk's CRC. Fails the test and returns an empty surface on anything unexpected.
Surface DecodePngForTest(const std::string& png) {
    if (png.size() < 8 || png.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) != 0) {
        ADD_FAILURE() << "no PNG signature";
        return {};
    }
    std::size_t at = 8;
    int width = 0, height = 0;
    std::string idat;
    bool ended = false;
    while (at + 12 <= png.size() && !ended) {
        std::uint32_t length = Be32(png, at);
        if (at + 12 + length > png.size()) break;
        std::string type = png.substr(at + 4, 4);
        std::string data = png.substr(at + 8, length);
        std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), length + 4));
        EXPECT_EQ(crc, Be32(png, at + 8 + length)) << type;
        if (type == "IHDR") {
            width = static_cast<int>(Be32(data, 0));
            height = static_cast<int>(Be32(data, 4));
            EXPECT_EQ(data.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
        } else if (type == "IDAT") {
            idat += data;
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(at, png.size());
    std::string raw(static_cast<std::size_t>(width * 3 + 1) * height, '\0');
    uLongf rawSize = raw.size();
    if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawSize,
                   reinterpret_cast<const Bytef*>(idat.data()), idat.size()) != Z_OK ||
        rawSize != raw.size()) {
        ADD_FAILURE() << "image data does not inflate to the image's size";
        return {};
    }
    Surface out(width, height, 0);
    for (int y = 0; y < height; ++y) {
        const char* row = raw.data() + static_cast<std::size_t>(y) * (width * 3 + 1);
        EXPECT_EQ(row[0], 0) << "filter of row " << y;
        for (int x = 0; x < width; ++x) {
            auto c = [&](int k) { return static_cast<unsigned char>(row[1 + x * 3 + k]); };
            out.SetPixel(x, y, RGB(c(0), c(1), c(2)));
        }
    }
    return out;
}

TEST_F(GdiPngTest, WrittenFilesReadBackToTheSamePixels) {
    testsupport::TempInstall install;
    Surface picture(37, 21, kWhite);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) picture.SetPixel(x, y, RGB(x * 7, y * 12, (x * y) % 256));
    HDC dc = CreateSurfaceDC(&picture, {0, 0}, {0, 0, 37, 21});
    ASSERT_TRUE(DrawBitmap(dc, 2, 2, LoadBitmapResource("VELDABMP")));
    DeleteSurfaceDC(dc);
    std::string png = EncodePng(picture);
    EXPECT_EQ(DecodePngForTest(png), picture);

    const std::string path = install.root() + "/picture.png";
    ASSERT_TRUE(WritePng(picture, path));
    EXPECT_EQ(install.readFile(path), png);

    EXPECT_FALSE(WritePng(picture, install.root() + "/no/such/dir/x.png"));
    EXPECT_FALSE(WritePng(Surface(), install.root() + "/empty.png"));
    EXPECT_EQ(EncodePng(Surface()), "");
}

}  // namespace
