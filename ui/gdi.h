// GDI surfaces with real pixels: the drawing half of the window layer.
//
// A Surface is a block of pixels that a window (or a test) owns. A device context (HDC) draws
// on a surface through a logical origin and a clipping rectangle; pens, brushes, fonts,
// bitmaps and icons live in one process-wide table of handles, with the Windows rules:
// a DC starts with BLACK_PEN, WHITE_BRUSH and SYSTEM_FONT selected, SelectObject returns
// the previous object of the same kind, stock and resource objects are never deleted,
// rectangles exclude their right and bottom edges, LineTo leaves out its end point.
//
// Text is drawn with FreeType at 96 dots per inch, grey-scale anti-aliased and blended onto
// the surface with the text colour. "Arial" is Liberation Sans; "System", "MS Sans Serif"
// and every other name is DejaVu Sans. Texts are UTF-8; a byte that is not part of a valid
// UTF-8 sequence stands for the Latin-1 character of that value.
//
// Everything here belongs to the GUI thread. Nothing throws; a bad handle makes a call
// fail (FALSE, 0 or an empty result) and changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/types.h"

namespace ui {

// Pixels in row-major order, each a COLORREF (0x00BBGGRR), so that Pixel() and the stored
// value are the same number. Sizes are clamped to 0..kMaxSurfaceSide.
class Surface {
  public:
    static constexpr int kMaxSurfaceSide = 8192;

    Surface() = default;
    Surface(int width, int height, COLORREF fill = RGB(255, 255, 255));

    int width() const { return width_; }
    int height() const { return height_; }
    // 0 outside the surface.
    COLORREF Pixel(int x, int y) const;
    // Ignored outside the surface.
    void SetPixel(int x, int y, COLORREF color);
    // Keeps the pixels that are inside both the old and the new size; new ones get `fill`.
    void Resize(int width, int height, COLORREF fill);
    void Fill(COLORREF color);

    const std::vector<COLORREF>& pixels() const { return pixels_; }
    // The pixels of row y (width() of them); y must be within 0..height()-1.
    COLORREF* row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    const COLORREF* row(int y) const {
        return pixels_.data() + static_cast<std::size_t>(y) * width_;
    }

    bool operator==(const Surface&) const = default;

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<COLORREF> pixels_;
};

// ---- constants, with the Windows values ----

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int ANSI_VAR_FONT = 12;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

// Pen styles. Dashes and dots are drawn for 1-pixel pens, their gaps in the background
// colour when the background mode is OPAQUE.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// System colours (GetSysColor), the classic Windows scheme.
constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_DESKTOP = COLOR_BACKGROUND;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_INACTIVECAPTION = 3;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_ACTIVEBORDER = 10;
constexpr int COLOR_INACTIVEBORDER = 11;
constexpr int COLOR_APPWORKSPACE = 12;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_3DSHADOW = COLOR_BTNSHADOW;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_INACTIVECAPTIONTEXT = 19;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DHIGHLIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;
constexpr int COLOR_HOTLIGHT = 26;
constexpr int COLOR_GRADIENTACTIVECAPTION = 27;
constexpr int COLOR_GRADIENTINACTIVECAPTION = 28;

// DrawText formats.
constexpr UINT DT_TOP = 0x0;
constexpr UINT DT_LEFT = 0x0;
constexpr UINT DT_CENTER = 0x1;
constexpr UINT DT_RIGHT = 0x2;
constexpr UINT DT_VCENTER = 0x4;
constexpr UINT DT_BOTTOM = 0x8;
constexpr UINT DT_WORDBREAK = 0x10;
constexpr UINT DT_SINGLELINE = 0x20;
constexpr UINT DT_EXPANDTABS = 0x40;
constexpr UINT DT_NOCLIP = 0x100;
constexpr UINT DT_CALCRECT = 0x400;
constexpr UINT DT_NOPREFIX = 0x800;
constexpr UINT DT_HIDEPREFIX = 0x100000;

// DrawEdge.
constexpr UINT BDR_RAISEDOUTER = 0x1;
constexpr UINT BDR_SUNKENOUTER = 0x2;
constexpr UINT BDR_RAISEDINNER = 0x4;
constexpr UINT BDR_SUNKENINNER = 0x8;
constexpr UINT EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr UINT EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
constexpr UINT BF_LEFT = 0x1;
constexpr UINT BF_TOP = 0x2;
constexpr UINT BF_RIGHT = 0x4;
constexpr UINT BF_BOTTOM = 0x8;
constexpr UINT BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
constexpr UINT BF_MIDDLE = 0x800;
constexpr UINT BF_ADJUST = 0x2000;

// ---- objects ----

// Forgets every object and DC and every loaded font, as a fresh process would have it.
// Surfaces are not touched. For tests and for the end of the program.
void ResetGdi();

COLORREF GetSysColor(int index);  // 0 for an unknown index
// A brush of a system colour, shared and never deleted; 0 for an unknown index.
HBRUSH GetSysColorBrush(int index);

HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
// 0 for an index that is not one of the constants above.
HGDIOBJ GetStockObject(int index);
// A font of `pointSize` points at 96 dots per inch (a negative size is in pixels, as a
// negative height is on Windows). Always gives a font: an unknown name gets DejaVu Sans.
HFONT CreateFont(std::string_view name, int pointSize, bool bold);
// The same from a description with a weight and the italic flag. lfHeight is taken as
// CreateFont takes its size (points when positive, the em height in pixels when negative);
// a weight of FW_SEMIBOLD or more is the bold face.
constexpr int FW_NORMAL = 400;
constexpr int FW_SEMIBOLD = 600;
constexpr int FW_BOLD = 700;
struct LOGFONT {
    int lfHeight = 0;
    int lfWeight = FW_NORMAL;
    bool lfItalic = false;
    std::string lfFaceName;
};
HFONT CreateFontIndirect(const LOGFONT& font);
// FALSE for stock objects, loaded resources and unknown handles. An object that a DC still
// has selected goes away when no DC has it selected any more.
BOOL DeleteObject(HGDIOBJ object);

// ---- device contexts ----

// A DC that draws on `target` (which must outlive it): logical (0, 0) is `origin` in the
// surface, and nothing is drawn outside `clip` (surface coordinates) or the surface.
HDC CreateSurfaceDC(Surface* target, POINT origin, RECT clip);
void DeleteSurfaceDC(HDC dc);
// The clipping rectangle in logical coordinates; FALSE for a bad DC.
BOOL GetClipBox(HDC dc, RECT* out);
// Device capabilities: LOGPIXELSX and LOGPIXELSY are 96 (the resolution text is drawn at);
// 0 for any other index or a bad DC.
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
int GetDeviceCaps(HDC dc, int index);

// Selects a pen, brush or font (a system-colour brush too); returns the previous object of
// that kind, 0 on failure (bitmaps and icons cannot be selected: draw them instead).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// The selected object of a kind: 1 pen, 2 brush, 6 font (the Windows OBJ_ values).
HGDIOBJ GetCurrentObject(HDC dc, UINT kind);
constexpr UINT OBJ_PEN = 1;
constexpr UINT OBJ_BRUSH = 2;
constexpr UINT OBJ_FONT = 6;

// Each returns the previous setting (CLR_INVALID or 0 for a bad DC).
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);

BOOL MoveToEx(HDC dc, int x, int y, POINT* old);
BOOL GetCurrentPositionEx(HDC dc, POINT* out);
// Draws from the current position up to, but not including, (x, y), which becomes the
// current position. 1-pixel pens follow Bresenham's steps; wider pens paint a square of
// their width centred on every step.
BOOL LineTo(HDC dc, int x, int y);
// MoveToEx to the first point, then LineTo to each of the others.
BOOL Polyline(HDC dc, const POINT* points, int count);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);  // returns the colour set
COLORREF GetPixel(HDC dc, int x, int y);                  // CLR_INVALID when clipped

// Outline with the pen on the outermost pixels (l..r-1, t..b-1), inside with the brush.
// With the null pen the filled area is one pixel smaller: (l, t) to (r-1, b-1) exclusive.
// Pens wider than one pixel draw their outline inside the rectangle.
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
// `brush` may also be a system colour index + 1, as on Windows. Neither uses the pen.
int FillRect(HDC dc, const RECT& rect, HBRUSH brush);
int FrameRect(HDC dc, const RECT& rect, HBRUSH brush);  // a 1-pixel border inside rect
BOOL InvertRect(HDC dc, const RECT& rect);
// A dotted 1-pixel border inside rect that inverts the pixels, so drawing it twice undoes it.
BOOL DrawFocusRect(HDC dc, const RECT& rect);
// The Windows 3-D borders with the system colours (BDR_/EDGE_ and BF_ flags above).
BOOL DrawEdge(HDC dc, RECT* rect, UINT edge, UINT flags);

// ---- text ----

struct TEXTMETRIC {
    int tmHeight = 0;  // ascent + descent: the line height
    int tmAscent = 0;
    int tmDescent = 0;
    int tmInternalLeading = 0;
    int tmExternalLeading = 0;
    int tmAveCharWidth = 0;
    int tmMaxCharWidth = 0;
};

// The text cell's top-left corner is at (x, y); OPAQUE mode fills the cell with the
// background colour first. No '&' processing.
BOOL TextOut(HDC dc, int x, int y, std::string_view text);
// Lines break at "\r\n", "\n" and "\r" (not with DT_SINGLELINE) and, with DT_WORDBREAK, at
// blanks so that lines fit the rectangle's width. "&x" draws x underlined and "&&" one '&'
// unless DT_NOPREFIX. DT_VCENTER and DT_BOTTOM act with DT_SINGLELINE only; DT_VCENTER
// centres the line's ink (what its glyphs cover) rather than its cell, so that a label looks
// centred whatever the font's ascent and descent. Drawing is clipped to `rect` unless
// DT_NOCLIP. With DT_CALCRECT nothing is drawn: the rectangle's right and bottom are set to
// bound the text. Returns the text's height (with DT_VCENTER or DT_BOTTOM, from rect.top to
// the bottom of the text's cell); 0 on failure.
int DrawText(HDC dc, std::string_view text, RECT& rect, UINT format);
// Width of the text's advances and the line height of the selected font.
BOOL GetTextExtentPoint32(HDC dc, std::string_view text, SIZE* size);
BOOL GetTextMetrics(HDC dc, TEXTMETRIC* metrics);
// The same without a DC. A bad font handle measures with the System font.
SIZE GetTextExtent(HFONT font, std::string_view text);
TEXTMETRIC GetFontMetrics(HFONT font);
// For dialog units: cx = the average advance of the 52 letters A-Z a-z, rounded; cy = the
// font's line height (tmHeight).
SIZE DialogBaseUnits(HFONT font);

// ---- scrolling, images ----

// Moves the pixels of `scroll` (logical; null = the whole clip box) by (dx, dy); only pixels
// inside `clip` (null = the clip box) change, so moved pixels may land outside `scroll`
// unless `clip` keeps them in (pass the same rectangle for both to scroll within it). The part
// of the scrolled area that nothing moved into is left as it was, and its bounding box goes to
// `update` if given.
BOOL ScrollDC(HDC dc, int dx, int dy, const RECT* scroll, const RECT* clip, RECT* update = nullptr);

// The images built into the program by name, case-insensitive: icons "SURFICON" and
// "SURFICON3" (32 x 32), bitmap "VELDABMP". The same shared handle on every call; 0 for an
// unknown name.
HICON LoadIconResource(std::string_view name);
HBITMAP LoadBitmapResource(std::string_view name);
// A bitmap made from pixels (a copy); deleted with DeleteObject.
HBITMAP CreateBitmapFromSurface(const Surface& pixels);
// The size of a bitmap or an icon; {0, 0} for any other handle.
SIZE BitmapSize(HGDIOBJ image);
// The pixels of a bitmap or icon (an icon's colours without its transparency); null for any
// other handle. Valid until the object is deleted or ResetGdi.
const Surface* ImagePixels(HGDIOBJ image);
// Draws an icon at its size, blending its transparent and part-transparent pixels.
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
// The same, scaled to cx x cy (nearest pixel); 0 keeps the icon's own size.
BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy);
// Copies a bitmap's pixels with its top-left corner at (x, y). An icon is drawn as DrawIcon.
BOOL DrawBitmap(HDC dc, int x, int y, HBITMAP bitmap);

// ---- PNG (implemented in image.cpp) ----

// An 8-bit RGB PNG of the surface; empty on failure.
std::string EncodePng(const Surface& surface);
bool WritePng(const Surface& surface, const std::string& path);

}  // namespace ui
