#include "ui/gdi.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <utility>

#include "ui/font.h"
#include "ui/image.h"

namespace embedded {
extern const std::span<const unsigned char> surficon_bmp;
extern const std::span<const unsigned char> surficon3_bmp;
extern const std::span<const unsigned char> veldabmp_bmp;
}  // namespace embedded

namespace ui {

// ---- Surface ----

Surface::Surface(int width, int height, COLORREF fill) {
    Resize(width, height, fill);
}

COLORREF Surface::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return row(y)[x];
}

void Surface::SetPixel(int x, int y, COLORREF color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    row(y)[x] = color & 0xFFFFFF;
}

void Surface::Resize(int width, int height, COLORREF fill) {
    width = std::clamp(width, 0, kMaxSurfaceSide);
    height = std::clamp(height, 0, kMaxSurfaceSide);
    if (width == 0 || height == 0) width = height = 0;
    std::vector<COLORREF> pixels(static_cast<std::size_t>(width) * height, fill & 0xFFFFFF);
    int keepW = std::min(width, width_), keepH = std::min(height, height_);
    for (int y = 0; y < keepH; ++y)
        std::copy_n(row(y), keepW, pixels.data() + static_cast<std::size_t>(y) * width);
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
}

void Surface::Fill(COLORREF color) {
    std::fill(pixels_.begin(), pixels_.end(), color & 0xFFFFFF);
}

namespace {

// ---- the object table ----

// Handle ranges: 1..31 stay free, since a brush may be given as a system colour index + 1;
// stock objects and system-colour brushes have fixed handles; the rest are counted.
constexpr HGDIOBJ kStockBase = 0x40;
constexpr HGDIOBJ kSysBrushBase = 0x60;
constexpr HGDIOBJ kFirstHandle = 0x100;
constexpr int kSysColorCount = 29;

enum class Kind { Pen, Brush, Font, Bitmap, Icon };

struct Image {
    Surface pixels;
    std::vector<std::uint8_t> alpha;  // empty: opaque
};

struct Object {
    Kind kind = Kind::Pen;
    int penStyle = PS_SOLID;
    int penWidth = 1;
    COLORREF color = 0;  // pen and brush
    bool nullBrush = false;
    std::shared_ptr<FontFace> font;
    std::shared_ptr<const Image> image;
    bool permanent = false;      // stock objects, system-colour brushes, resources
    bool deletePending = false;  // deleted while a DC had it selected
};

struct Dc {
    Surface* surface = nullptr;
    POINT origin;
    RECT clip;  // surface coordinates
    HPEN pen = 0;
    HBRUSH brush = 0;
    HFONT font = 0;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    POINT position;
};

struct GdiState {
    HGDIOBJ nextHandle = kFirstHandle;
    std::map<HGDIOBJ, Object> objects;
    std::map<HDC, Dc> dcs;
    std::map<std::string, HGDIOBJ> resources;  // upper-case name -> handle
    std::map<std::pair<std::string, long>, std::shared_ptr<FontFace>> faces;
};
GdiState g_gdi;

constexpr std::array<COLORREF, kSysColorCount> kSysColors = {
    RGB(192, 192, 192),  // 0 scroll bar
    RGB(0, 128, 128),    // 1 desktop
    RGB(0, 0, 128),      // 2 active caption
    RGB(128, 128, 128),  // 3 inactive caption
    RGB(192, 192, 192),  // 4 menu
    RGB(255, 255, 255),  // 5 window
    RGB(0, 0, 0),        // 6 window frame
    RGB(0, 0, 0),        // 7 menu text
    RGB(0, 0, 0),        // 8 window text
    RGB(255, 255, 255),  // 9 caption text
    RGB(192, 192, 192),  // 10 active border
    RGB(192, 192, 192),  // 11 inactive border
    RGB(128, 128, 128),  // 12 application workspace
    RGB(0, 0, 128),      // 13 highlight
    RGB(255, 255, 255),  // 14 highlight text
    RGB(192, 192, 192),  // 15 button face
    RGB(128, 128, 128),  // 16 button shadow
    RGB(128, 128, 128),  // 17 grey text
    RGB(0, 0, 0),        // 18 button text
    RGB(192, 192, 192),  // 19 inactive caption text
    RGB(255, 255, 255),  // 20 button highlight
    RGB(0, 0, 0),        // 21 3-D dark shadow
    RGB(192, 192, 192),  // 22 3-D light
    RGB(0, 0, 0),        // 23 tooltip text
    RGB(255, 255, 225),  // 24 tooltip background
    0,                   // 25 (unused)
    RGB(0, 0, 255),      // 26 hot-tracked item
    RGB(16, 132, 208),   // 27 active caption gradient
    RGB(181, 181, 181),  // 28 inactive caption gradient
};

bool IsSysColor(int index) {
    return index >= 0 && index < kSysColorCount && index != 25;
}

Object* FindObject(HGDIOBJ handle) {
    auto it = g_gdi.objects.find(handle);
    return it == g_gdi.objects.end() ? nullptr : &it->second;
}

Dc* FindDc(HDC handle) {
    auto it = g_gdi.dcs.find(handle);
    return it == g_gdi.dcs.end() ? nullptr : &it->second;
}

HGDIOBJ AddObject(Object object) {
    HGDIOBJ handle = g_gdi.nextHandle++;
    g_gdi.objects.emplace(handle, std::move(object));
    return handle;
}

long SizeKey(double pixels) {
    return std::lround(pixels * 64);
}

std::shared_ptr<FontFace> LoadFace(std::string_view name, double pixels, bool bold,
                                   bool italic = false) {
    std::string path = FindFontFile(name, bold, italic);
    auto key = std::make_pair(path, SizeKey(pixels));
    auto& face = g_gdi.faces[key];
    if (!face) face = FontFace::Open(path, pixels);
    return face;
}

double PointsToPixels(int points) {
    if (points < 0) return -points;
    if (points == 0) points = 8;
    return points * 96.0 / 72.0;
}

Object MakeFont(std::string_view name, int pointSize, bool bold, bool italic = false) {
    Object o;
    o.kind = Kind::Font;
    o.font = LoadFace(name, PointsToPixels(pointSize), bold, italic);
    return o;
}

// Creates a stock object on first use; its handle is kStockBase + index.
HGDIOBJ Stock(int index) {
    HGDIOBJ handle = kStockBase + static_cast<HGDIOBJ>(index);
    if (FindObject(handle) != nullptr) return handle;
    Object o;
    auto brush = [&](COLORREF c, bool null = false) {
        o.kind = Kind::Brush;
        o.color = c;
        o.nullBrush = null;
    };
    auto pen = [&](COLORREF c, int style = PS_SOLID) {
        o.kind = Kind::Pen;
        o.color = c;
        o.penStyle = style;
    };
    switch (index) {
        case WHITE_BRUSH:
            brush(RGB(255, 255, 255));
            break;
        case LTGRAY_BRUSH:
            brush(RGB(192, 192, 192));
            break;
        case GRAY_BRUSH:
            brush(RGB(128, 128, 128));
            break;
        case DKGRAY_BRUSH:
            brush(RGB(64, 64, 64));
            break;
        case BLACK_BRUSH:
            brush(RGB(0, 0, 0));
            break;
        case NULL_BRUSH:
            brush(0, true);
            break;
        case WHITE_PEN:
            pen(RGB(255, 255, 255));
            break;
        case BLACK_PEN:
            pen(RGB(0, 0, 0));
            break;
        case NULL_PEN:
            pen(0, PS_NULL);
            break;
        // bold, as Windows' own System font is
        case SYSTEM_FONT:
            o = MakeFont("System", 10, true);
            break;
        case ANSI_VAR_FONT:
        case DEFAULT_GUI_FONT:
            o = MakeFont("MS Sans Serif", 8, false);
            break;
        default:
            return 0;
    }
    o.permanent = true;
    g_gdi.objects.emplace(handle, std::move(o));
    return handle;
}

// The object a DC uses for a kind: its selection, or the default if that has gone.
const Object* Selected(const Dc& dc, Kind kind) {
    HGDIOBJ handle = kind == Kind::Pen ? dc.pen : kind == Kind::Brush ? dc.brush : dc.font;
    const Object* o = FindObject(handle);
    if (o != nullptr && o->kind == kind) return o;
    return FindObject(Stock(kind == Kind::Pen     ? BLACK_PEN
                            : kind == Kind::Brush ? WHITE_BRUSH
                                                  : SYSTEM_FONT));
}

FontFace& FaceOf(HFONT font) {
    const Object* o = FindObject(font);
    if (o == nullptr || o->kind != Kind::Font) o = FindObject(Stock(SYSTEM_FONT));
    return *o->font;
}

bool IsSelectedAnywhere(HGDIOBJ handle) {
    for (const auto& [h, dc] : g_gdi.dcs)
        if (dc.pen == handle || dc.brush == handle || dc.font == handle) return true;
    return false;
}

// Removes an object that was deleted while selected, once no DC has it any more.
void CollectIfPending(HGDIOBJ handle) {
    Object* o = FindObject(handle);
    if (o != nullptr && o->deletePending && !IsSelectedAnywhere(handle))
        g_gdi.objects.erase(handle);
}

// A brush handle or a system colour index + 1: its colour, or nothing for a null brush.
bool BrushColor(HBRUSH brush, COLORREF& color) {
    if (brush >= 1 && brush <= static_cast<HBRUSH>(kSysColorCount) &&
        IsSysColor(static_cast<int>(brush) - 1)) {
        color = kSysColors[brush - 1];
        return true;
    }
    const Object* o = FindObject(brush);
    if (o == nullptr || o->kind != Kind::Brush || o->nullBrush) return false;
    color = o->color;
    return true;
}

// ---- pixel helpers; coordinates here are surface coordinates ----

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom) return RECT{};
    return r;
}

bool IsEmpty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

RECT Offset(RECT r, int dx, int dy) {
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

RECT Normalized(int left, int top, int right, int bottom) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    return RECT{left, top, right, bottom};
}

// Logical coordinates far outside any surface are cut to this range, so that sums and
// differences of them never overflow.
constexpr int kCoordLimit = 1 << 28;
int Clamp(int v) {
    return std::clamp(v, -kCoordLimit, kCoordLimit);
}

// The drawable area of a DC: its clip within its surface.
RECT ClipOf(const Dc& dc) {
    return Intersect(dc.clip, RECT{0, 0, dc.surface->width(), dc.surface->height()});
}

RECT ToSurface(const Dc& dc, const RECT& logical) {
    return RECT{Clamp(logical.left) + dc.origin.x, Clamp(logical.top) + dc.origin.y,
                Clamp(logical.right) + dc.origin.x, Clamp(logical.bottom) + dc.origin.y};
}

void FillArea(Surface& s, const RECT& area, COLORREF color) {
    if (area.right <= area.left || area.bottom <= area.top) return;
    // The first row pixel by pixel, the others copied from it (bars and backgrounds are
    // filled many times a second while a transfer runs).
    auto width = static_cast<std::size_t>(area.right - area.left);
    COLORREF* first = s.row(area.top) + area.left;
    std::fill_n(first, width, color & 0xFFFFFF);
    for (int y = area.top + 1; y < area.bottom; ++y)
        std::memcpy(s.row(y) + area.left, first, width * sizeof(COLORREF));
}

void Plot(Surface& s, const RECT& clip, int x, int y, COLORREF color) {
    if (x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom)
        s.row(y)[x] = color & 0xFFFFFF;
}

COLORREF Blend(COLORREF under, COLORREF over, unsigned alpha) {
    if (alpha >= 255) return over;
    if (alpha == 0) return under;
    auto mix = [&](int shift) {
        unsigned u = (under >> shift) & 0xFF, o = (over >> shift) & 0xFF;
        return ((u * (255 - alpha) + o * alpha + 127) / 255) << shift;
    };
    return mix(0) | mix(8) | mix(16);
}

// The on/off runs of the dashed pen styles, in pixels.
std::span<const int> DashPattern(int style) {
    static constexpr int kDash[] = {18, 6};
    static constexpr int kDot[] = {3, 3};
    static constexpr int kDashDot[] = {9, 6, 3, 6};
    static constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};
    switch (style) {
        case PS_DASH:
            return kDash;
        case PS_DOT:
            return kDot;
        case PS_DASHDOT:
            return kDashDot;
        case PS_DASHDOTDOT:
            return kDashDotDot;
        default:
            return {};
    }
}

// Whether step `i` of a line falls on the pen's ink (else on a gap).
bool PatternOn(std::span<const int> pattern, std::int64_t i) {
    if (pattern.empty()) return true;
    int period = 0;
    for (int run : pattern) period += run;
    int at = static_cast<int>(i % period);
    for (std::size_t k = 0; k < pattern.size(); ++k) {
        if (at < pattern[k]) return k % 2 == 0;
        at -= pattern[k];
    }
    return true;
}

// A line in surface coordinates from a to b, b left out: one pixel per step along the longer
// axis, the other coordinate rounded to the nearest pixel (halves towards the start).
void DrawLine(Dc& dc, POINT a, POINT b, const Object& pen) {
    if (pen.penStyle == PS_NULL) return;
    Surface& s = *dc.surface;
    RECT clip = ClipOf(dc);
    if (IsEmpty(clip)) return;
    int width = std::max(1, pen.penWidth);
    std::span<const int> pattern = width == 1 ? DashPattern(pen.penStyle) : std::span<const int>();
    std::int64_t dx = static_cast<std::int64_t>(b.x) - a.x;
    std::int64_t dy = static_cast<std::int64_t>(b.y) - a.y;
    std::int64_t adx = std::abs(dx), ady = std::abs(dy);
    bool xMajor = adx >= ady;
    std::int64_t steps = std::max(adx, ady);
    if (steps == 0) return;
    std::int64_t major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
    int majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
    int minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
    std::int64_t m0 = xMajor ? a.x : a.y, n0 = xMajor ? a.y : a.x;

    // Only the steps whose major coordinate can reach the clip need visiting.
    int reach = width;  // a wide pen paints up to width/2 around each step
    std::int64_t lo = (xMajor ? clip.left : clip.top) - reach;
    std::int64_t hi = (xMajor ? clip.right : clip.bottom) + reach;
    std::int64_t first = 0, last = steps;  // [first, last)
    if (majorSign > 0) {
        first = std::max<std::int64_t>(first, lo - m0);
        last = std::min<std::int64_t>(last, hi - m0);
    } else {
        first = std::max<std::int64_t>(first, m0 - hi + 1);
        last = std::min<std::int64_t>(last, m0 - lo + 1);
    }
    int half = (width - 1) / 2;
    if (minor == 0 && width == 1 && pattern.empty()) {
        // A solid horizontal or vertical hairline: the same pixels as the loop below, set
        // as one run.
        if (first >= last) return;
        std::int64_t from = m0 + majorSign * (majorSign > 0 ? first : last - 1);
        std::int64_t to = from + (last - first);  // [from, to) along the major axis
        if (xMajor) {
            if (n0 < clip.top || n0 >= clip.bottom) return;
            from = std::max<std::int64_t>(from, clip.left);
            to = std::min<std::int64_t>(to, clip.right);
            if (from >= to) return;
            std::fill_n(s.row(static_cast<int>(n0)) + from, to - from, pen.color & 0xFFFFFF);
        } else {
            if (n0 < clip.left || n0 >= clip.right) return;
            from = std::max<std::int64_t>(from, clip.top);
            to = std::min<std::int64_t>(to, clip.bottom);
            for (std::int64_t y = from; y < to; ++y)
                s.row(static_cast<int>(y))[n0] = pen.color & 0xFFFFFF;
        }
        return;
    }
    for (std::int64_t i = first; i < last; ++i) {
        std::int64_t m = m0 + majorSign * i;
        std::int64_t n = n0 + minorSign * ((2 * i * minor + major - 1) / (2 * major));
        int x = static_cast<int>(xMajor ? m : n), y = static_cast<int>(xMajor ? n : m);
        bool on = PatternOn(pattern, i);
        if (!on && dc.bkMode != OPAQUE) continue;
        COLORREF color = on ? pen.color : dc.bkColor;
        if (width == 1) {
            Plot(s, clip, x, y, color);
        } else {
            RECT square =
                Intersect(RECT{x - half, y - half, x - half + width, y - half + width}, clip);
            if (!IsEmpty(square)) FillArea(s, square, color);
        }
    }
}

// ---- text ----

struct TextChar {
    char32_t ch;
    bool underline;
};
using TextLine = std::vector<TextChar>;

// Decodes the text; with prefixes, "&x" marks x for underlining and "&&" is one '&'.
TextLine DecodeText(std::string_view text, bool prefixes, bool showUnderline) {
    TextLine out;
    std::size_t pos = 0;
    bool underlineNext = false;
    while (pos < text.size()) {
        char32_t ch = NextChar(text, pos);
        if (prefixes && ch == U'&' && !underlineNext) {
            if (pos < text.size() && text[pos] == '&') {
                ++pos;
                out.push_back({U'&', false});
            } else {
                underlineNext = true;
            }
            continue;
        }
        bool lineBreak = ch == U'\r' || ch == U'\n';
        out.push_back({ch, underlineNext && showUnderline && !lineBreak});
        underlineNext = false;
    }
    return out;
}

struct TextOptions {
    bool expandTabs = false;
};

int TabStop(FontFace& face) {
    return std::max(1, face.metrics().averageWidth * 8);
}

// The advance of each character of a line, from the line's start.
int CharAdvance(FontFace& face, char32_t ch, int penX, const TextOptions& options) {
    if (ch == U'\t') {
        if (!options.expandTabs) return face.Advance(U' ');
        int stop = TabStop(face);
        return (penX / stop + 1) * stop - penX;
    }
    return face.Advance(ch);
}

int LineWidth(FontFace& face, const TextChar* begin, const TextChar* end,
              const TextOptions& options) {
    int x = 0;
    for (const TextChar* c = begin; c != end; ++c) x += CharAdvance(face, c->ch, x, options);
    return x;
}

// Draws one line with the top of its cell at (x, y), all in surface coordinates.
void DrawLineOfText(Dc& dc, FontFace& face, const TextLine& line, int x, int y, const RECT& clip,
                    const TextOptions& options) {
    Surface& s = *dc.surface;
    const FontFaceMetrics& m = face.metrics();
    int width = LineWidth(face, line.data(), line.data() + line.size(), options);
    if (dc.bkMode == OPAQUE) {
        RECT cell = Intersect(RECT{x, y, x + width, y + m.height}, clip);
        if (!IsEmpty(cell)) FillArea(s, cell, dc.bkColor);
    }
    int baseline = y + m.ascent;
    int penX = 0;
    for (const TextChar& c : line) {
        int advance = CharAdvance(face, c.ch, penX, options);
        if (c.ch != U'\t') {
            const GlyphImage& g = face.Glyph(c.ch);
            int left = x + penX + g.left, top = baseline - g.top;
            RECT box = Intersect(RECT{left, top, left + g.width, top + g.height}, clip);
            for (int py = box.top; py < box.bottom; ++py) {
                const std::uint8_t* cov =
                    g.coverage.data() + static_cast<std::size_t>(py - top) * g.width;
                COLORREF* row = s.row(py);
                for (int px = box.left; px < box.right; ++px) {
                    unsigned a = cov[px - left];
                    if (a != 0) row[px] = Blend(row[px], dc.textColor, a);
                }
            }
        }
        if (c.underline) {
            int uy = baseline + m.underlineOffset;
            RECT bar =
                Intersect(RECT{x + penX, uy, x + penX + advance, uy + m.underlineThickness}, clip);
            if (!IsEmpty(bar)) FillArea(s, bar, dc.textColor);
        }
        penX += advance;
    }
}

// The rows of a line that carry ink (glyphs and underlines), from the top of its cell:
// [top, bottom). Unchanged when the line has no ink.
void LineInk(FontFace& face, const TextLine& line, int& top, int& bottom) {
    const FontFaceMetrics& m = face.metrics();
    int inkTop = INT_MAX, inkBottom = INT_MIN;
    for (const TextChar& c : line) {
        const GlyphImage& g = face.Glyph(c.ch);
        if (g.height > 0 && c.ch != U'\t') {
            inkTop = std::min(inkTop, m.ascent - g.top);
            inkBottom = std::max(inkBottom, m.ascent - g.top + g.height);
        }
        if (c.underline) {
            inkTop = std::min(inkTop, m.ascent + m.underlineOffset);
            inkBottom = std::max(inkBottom, m.ascent + m.underlineOffset + m.underlineThickness);
        }
    }
    if (inkTop < inkBottom) {
        top = inkTop;
        bottom = inkBottom;
    }
}

// Splits at line breaks ("\r\n", "\n", "\r").
std::vector<TextLine> SplitLines(const TextLine& text) {
    std::vector<TextLine> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t ch = text[i].ch;
        if (ch == U'\r' || ch == U'\n') {
            if (ch == U'\r' && i + 1 < text.size() && text[i + 1].ch == U'\n') ++i;
            lines.emplace_back();
        } else {
            lines.back().push_back(text[i]);
        }
    }
    return lines;
}

// Breaks a line at blanks so that each piece fits `maxWidth`; a word wider than that keeps
// a line of its own. The blanks at a break are dropped.
void WrapLine(FontFace& face, const TextLine& line, int maxWidth, const TextOptions& options,
              std::vector<TextLine>& out) {
    auto isBlank = [](char32_t ch) { return ch == U' ' || ch == U'\t'; };
    const TextChar* base = line.data();
    std::size_t n = line.size(), start = 0, end = 0;  // the line so far: [start, end)
    bool hasWord = false;
    std::size_t i = 0;
    while (i < n) {
        std::size_t wordStart = i;
        while (wordStart < n && isBlank(line[wordStart].ch)) ++wordStart;
        if (wordStart == n) break;
        std::size_t wordEnd = wordStart;
        while (wordEnd < n && !isBlank(line[wordEnd].ch)) ++wordEnd;
        if (hasWord && LineWidth(face, base + start, base + wordEnd, options) > maxWidth) {
            out.emplace_back(base + start, base + end);
            start = wordStart;
        }
        end = wordEnd;
        hasWord = true;
        i = wordEnd;
    }
    // the last piece keeps its trailing blanks, as an unbroken line does
    out.emplace_back(base + start, base + n);
}

int DrawTextImpl(Dc& dc, FontFace& face, std::string_view text, RECT& rect, UINT format) {
    // laid out in a copy cut to the coordinate range, so that no sum overflows
    const RECT box{Clamp(rect.left), Clamp(rect.top), Clamp(rect.right), Clamp(rect.bottom)};
    bool single = (format & DT_SINGLELINE) != 0;
    TextOptions options{(format & DT_EXPANDTABS) != 0};
    TextLine decoded = DecodeText(text, (format & DT_NOPREFIX) == 0, (format & DT_HIDEPREFIX) == 0);
    std::vector<TextLine> lines;
    if (single) {
        TextLine line;
        for (const TextChar& c : decoded)
            if (c.ch != U'\r' && c.ch != U'\n') line.push_back(c);
        lines.push_back(std::move(line));
    } else {
        for (const TextLine& line : SplitLines(decoded)) {
            if (format & DT_WORDBREAK)
                WrapLine(face, line, box.right - box.left, options, lines);
            else
                lines.push_back(line);
        }
    }
    const FontFaceMetrics& m = face.metrics();
    int lineHeight = m.height;
    bool empty = decoded.empty();
    int total = empty && !single ? 0 : static_cast<int>(lines.size()) * lineHeight;
    std::vector<int> widths;
    int maxWidth = 0;
    for (const TextLine& line : lines) {
        widths.push_back(LineWidth(face, line.data(), line.data() + line.size(), options));
        maxWidth = std::max(maxWidth, widths.back());
    }
    int top = box.top;
    if (single && (format & DT_BOTTOM)) {
        top = box.bottom - total;
    } else if (single && (format & DT_VCENTER)) {
        // The ink is centred rather than the cell: fonts keep more room above their capitals
        // than below their descenders, which would leave a label visibly low.
        int inkTop = 0, inkBottom = lineHeight;
        LineInk(face, lines[0], inkTop, inkBottom);
        top = box.top + (box.bottom - box.top - (inkBottom - inkTop)) / 2 - inkTop;
    }
    int result = single && (format & (DT_BOTTOM | DT_VCENTER)) ? top - box.top + total : total;
    if (format & DT_CALCRECT) {
        rect.right = box.left + maxWidth;
        rect.bottom = box.top + total;
        return result;
    }
    if (empty) return result;
    RECT clip = ClipOf(dc);
    if ((format & DT_NOCLIP) == 0) clip = Intersect(clip, ToSurface(dc, box));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int x = box.left;
        if (format & DT_RIGHT) {
            x = box.right - widths[i];
        } else if (format & DT_CENTER) {
            x = box.left + (box.right - box.left - widths[i]) / 2;
        }
        int y = top + static_cast<int>(i) * lineHeight;
        DrawLineOfText(dc, face, lines[i], Clamp(x) + dc.origin.x, Clamp(y) + dc.origin.y, clip,
                       options);
    }
    return result;
}

// ---- images ----

HGDIOBJ LoadResource(std::string_view name, Kind kind) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Entry {
        const char* name;
        Kind kind;
        std::span<const unsigned char> data;
    };
    const Entry entries[] = {
        {"SURFICON", Kind::Icon, embedded::surficon_bmp},
        {"SURFICON3", Kind::Icon, embedded::surficon3_bmp},
        {"VELDABMP", Kind::Bitmap, embedded::veldabmp_bmp},
    };
    for (const Entry& e : entries) {
        if (upper != e.name || kind != e.kind) continue;
        auto found = g_gdi.resources.find(upper);
        if (found != g_gdi.resources.end()) return found->second;
        DecodedImage decoded;
        if (!DecodeBmp(e.data, decoded)) return 0;
        Object o;
        o.kind = kind;
        o.image = std::make_shared<const Image>(
            Image{std::move(decoded.pixels), std::move(decoded.alpha)});
        o.permanent = true;
        HGDIOBJ handle = AddObject(std::move(o));
        g_gdi.resources.emplace(upper, handle);
        return handle;
    }
    return 0;
}

const Image* ImageOf(HGDIOBJ handle) {
    const Object* o = FindObject(handle);
    if (o == nullptr || (o->kind != Kind::Bitmap && o->kind != Kind::Icon)) return nullptr;
    return o->image.get();
}

// Draws an image scaled to cx x cy at logical (x, y), blending by its alpha if it has one.
BOOL DrawImage(HDC hdc, int x, int y, const Image& image, int cx, int cy) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    int iw = image.pixels.width(), ih = image.pixels.height();
    if (cx <= 0) cx = iw;
    if (cy <= 0) cy = ih;
    if (iw == 0 || ih == 0) return TRUE;
    cx = std::min(cx, Surface::kMaxSurfaceSide);
    cy = std::min(cy, Surface::kMaxSurfaceSide);
    int left = Clamp(x) + dc->origin.x, top = Clamp(y) + dc->origin.y;
    RECT area = Intersect(RECT{left, top, left + cx, top + cy}, ClipOf(*dc));
    for (int sy = area.top; sy < area.bottom; ++sy) {
        int iy = static_cast<int>(static_cast<std::int64_t>(sy - top) * ih / cy);
        COLORREF* row = dc->surface->row(sy);
        const COLORREF* src = image.pixels.row(iy);
        for (int sx = area.left; sx < area.right; ++sx) {
            int ix = static_cast<int>(static_cast<std::int64_t>(sx - left) * iw / cx);
            unsigned a =
                image.alpha.empty() ? 255 : image.alpha[static_cast<std::size_t>(iy) * iw + ix];
            row[sx] = Blend(row[sx], src[ix], a);
        }
    }
    return TRUE;
}

}  // namespace

// ---- objects ----

void ResetGdi() {
    g_gdi = GdiState();
}

COLORREF GetSysColor(int index) {
    return IsSysColor(index) ? kSysColors[index] : 0;
}

HBRUSH GetSysColorBrush(int index) {
    if (!IsSysColor(index)) return 0;
    HBRUSH handle = kSysBrushBase + static_cast<HBRUSH>(index);
    if (FindObject(handle) == nullptr) {
        Object o;
        o.kind = Kind::Brush;
        o.color = kSysColors[index];
        o.permanent = true;
        g_gdi.objects.emplace(handle, std::move(o));
    }
    return handle;
}

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style < PS_SOLID || style > PS_INSIDEFRAME) return 0;
    Object o;
    o.kind = Kind::Pen;
    o.penStyle = style;
    o.penWidth = std::clamp(width, 1, 256);
    o.color = color & 0xFFFFFF;
    return AddObject(std::move(o));
}

HBRUSH CreateSolidBrush(COLORREF color) {
    Object o;
    o.kind = Kind::Brush;
    o.color = color & 0xFFFFFF;
    return AddObject(std::move(o));
}

HGDIOBJ GetStockObject(int index) {
    return Stock(index);
}

HFONT CreateFont(std::string_view name, int pointSize, bool bold) {
    return AddObject(MakeFont(name, pointSize, bold));
}

HFONT CreateFontIndirect(const LOGFONT& font) {
    return AddObject(MakeFont(font.lfFaceName, font.lfHeight, font.lfWeight >= FW_SEMIBOLD,
                              font.lfItalic));
}

BOOL DeleteObject(HGDIOBJ object) {
    Object* o = FindObject(object);
    if (o == nullptr || o->permanent || o->deletePending) return FALSE;
    if (IsSelectedAnywhere(object)) {
        o->deletePending = true;
    } else {
        g_gdi.objects.erase(object);
    }
    return TRUE;
}

// ---- device contexts ----

HDC CreateSurfaceDC(Surface* target, POINT origin, RECT clip) {
    if (target == nullptr) return 0;
    Dc dc;
    dc.surface = target;
    dc.origin = POINT{Clamp(origin.x), Clamp(origin.y)};
    dc.clip = RECT{Clamp(clip.left), Clamp(clip.top), Clamp(clip.right), Clamp(clip.bottom)};
    dc.pen = Stock(BLACK_PEN);
    dc.brush = Stock(WHITE_BRUSH);
    dc.font = Stock(SYSTEM_FONT);
    HDC handle = g_gdi.nextHandle++;
    g_gdi.dcs.emplace(handle, dc);
    return handle;
}

void DeleteSurfaceDC(HDC hdc) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return;
    HGDIOBJ selected[] = {dc->pen, dc->brush, dc->font};
    g_gdi.dcs.erase(hdc);
    for (HGDIOBJ h : selected) CollectIfPending(h);
}

BOOL GetClipBox(HDC hdc, RECT* out) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr || out == nullptr) return FALSE;
    RECT clip = ClipOf(*dc);
    *out = IsEmpty(clip) ? RECT{} : Offset(clip, -dc->origin.x, -dc->origin.y);
    return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
    if (FindDc(hdc) == nullptr) return 0;
    return index == LOGPIXELSX || index == LOGPIXELSY ? 96 : 0;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
    Dc* dc = FindDc(hdc);
    const Object* o = FindObject(object);
    if (dc == nullptr || o == nullptr || o->deletePending) return 0;
    HGDIOBJ* slot = o->kind == Kind::Pen     ? &dc->pen
                    : o->kind == Kind::Brush ? &dc->brush
                    : o->kind == Kind::Font  ? &dc->font
                                             : nullptr;
    if (slot == nullptr) return 0;
    HGDIOBJ previous = std::exchange(*slot, object);
    if (previous != object) CollectIfPending(previous);
    return previous;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT kind) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return 0;
    switch (kind) {
        case OBJ_PEN:
            return dc->pen;
        case OBJ_BRUSH:
            return dc->brush;
        case OBJ_FONT:
            return dc->font;
        default:
            return 0;
    }
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return CLR_INVALID;
    return std::exchange(dc->textColor, color & 0xFFFFFF);
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return CLR_INVALID;
    return std::exchange(dc->bkColor, color & 0xFFFFFF);
}

int SetBkMode(HDC hdc, int mode) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    return std::exchange(dc->bkMode, mode);
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* old) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    if (old != nullptr) *old = dc->position;
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL GetCurrentPositionEx(HDC hdc, POINT* out) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr || out == nullptr) return FALSE;
    *out = dc->position;
    return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    POINT from{Clamp(dc->position.x) + dc->origin.x, Clamp(dc->position.y) + dc->origin.y};
    POINT to{Clamp(x) + dc->origin.x, Clamp(y) + dc->origin.y};
    DrawLine(*dc, from, to, *Selected(*dc, Kind::Pen));
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
    if (FindDc(hdc) == nullptr || points == nullptr || count < 2) return FALSE;
    POINT saved;
    MoveToEx(hdc, points[0].x, points[0].y, &saved);
    for (int i = 1; i < count; ++i) LineTo(hdc, points[i].x, points[i].y);
    MoveToEx(hdc, saved.x, saved.y, nullptr);  // Polyline leaves the position alone
    return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return CLR_INVALID;
    Plot(*dc->surface, ClipOf(*dc), Clamp(x) + dc->origin.x, Clamp(y) + dc->origin.y, color);
    return color & 0xFFFFFF;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return CLR_INVALID;
    RECT clip = ClipOf(*dc);
    int sx = Clamp(x) + dc->origin.x, sy = Clamp(y) + dc->origin.y;
    if (sx < clip.left || sx >= clip.right || sy < clip.top || sy >= clip.bottom)
        return CLR_INVALID;
    return dc->surface->Pixel(sx, sy);
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    RECT r = ToSurface(*dc, Normalized(left, top, right, bottom));
    RECT clip = ClipOf(*dc);
    const Object& pen = *Selected(*dc, Kind::Pen);
    const Object& brush = *Selected(*dc, Kind::Brush);
    bool hasBrush = !brush.nullBrush;
    COLORREF fill = brush.color;
    if (pen.penStyle == PS_NULL) {
        if (hasBrush)
            FillArea(*dc->surface, Intersect(RECT{r.left, r.top, r.right - 1, r.bottom - 1}, clip),
                     fill);
        return TRUE;
    }
    if (IsEmpty(r)) return TRUE;
    int w = std::max(1, pen.penWidth);
    if (hasBrush)
        FillArea(*dc->surface,
                 Intersect(RECT{r.left + w, r.top + w, r.right - w, r.bottom - w}, clip), fill);
    if (w == 1) {
        // the outline as four lines, so that dashed pens keep their pattern
        POINT corners[] = {{r.left, r.top},
                           {r.right - 1, r.top},
                           {r.right - 1, r.bottom - 1},
                           {r.left, r.bottom - 1},
                           {r.left, r.top}};
        if (r.right - r.left == 1 || r.bottom - r.top == 1) {
            FillArea(*dc->surface, Intersect(r, clip), pen.color);
            return TRUE;
        }
        for (int i = 0; i < 4; ++i) DrawLine(*dc, corners[i], corners[i + 1], pen);
        return TRUE;
    }
    RECT bands[] = {
        {r.left, r.top, r.right, std::min(r.bottom, r.top + w)},
        {r.left, std::max(r.top, r.bottom - w), r.right, r.bottom},
        {r.left, r.top, std::min(r.right, r.left + w), r.bottom},
        {std::max(r.left, r.right - w), r.top, r.right, r.bottom},
    };
    for (const RECT& band : bands) FillArea(*dc->surface, Intersect(band, clip), pen.color);
    return TRUE;
}

int FillRect(HDC hdc, const RECT& rect, HBRUSH brush) {
    Dc* dc = FindDc(hdc);
    COLORREF color;
    if (dc == nullptr || !BrushColor(brush, color)) return 0;
    FillArea(*dc->surface, Intersect(ToSurface(*dc, rect), ClipOf(*dc)), color);
    return 1;
}

int FrameRect(HDC hdc, const RECT& rect, HBRUSH brush) {
    Dc* dc = FindDc(hdc);
    COLORREF color;
    if (dc == nullptr || !BrushColor(brush, color)) return 0;
    RECT r = ToSurface(*dc, rect);
    if (IsEmpty(r)) return 1;
    RECT clip = ClipOf(*dc);
    RECT sides[] = {{r.left, r.top, r.right, r.top + 1},
                    {r.left, r.bottom - 1, r.right, r.bottom},
                    {r.left, r.top, r.left + 1, r.bottom},
                    {r.right - 1, r.top, r.right, r.bottom}};
    for (const RECT& side : sides) FillArea(*dc->surface, Intersect(side, clip), color);
    return 1;
}

BOOL InvertRect(HDC hdc, const RECT& rect) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    RECT area = Intersect(ToSurface(*dc, rect), ClipOf(*dc));
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) dc->surface->row(y)[x] ^= 0xFFFFFF;
    return TRUE;
}

BOOL DrawFocusRect(HDC hdc, const RECT& rect) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    RECT r = ToSurface(*dc, rect);
    RECT clip = ClipOf(*dc);
    if (IsEmpty(r)) return TRUE;
    auto invert = [&](int x, int y) {
        // every other pixel, on a checkerboard fixed to the surface
        if (((x + y) & 1) == 0 && x >= clip.left && x < clip.right && y >= clip.top &&
            y < clip.bottom)
            dc->surface->row(y)[x] ^= 0xFFFFFF;
    };
    int left = std::max(r.left, clip.left - 1), right = std::min(r.right, clip.right + 1);
    int top = std::max(r.top, clip.top - 1), bottom = std::min(r.bottom, clip.bottom + 1);
    for (int x = left; x < right; ++x) {
        invert(x, r.top);
        if (r.bottom - 1 != r.top) invert(x, r.bottom - 1);
    }
    for (int y = std::max(top, r.top + 1); y < std::min(bottom, r.bottom - 1); ++y) {
        invert(r.left, y);
        if (r.right - 1 != r.left) invert(r.right - 1, y);
    }
    return TRUE;
}

BOOL DrawEdge(HDC hdc, RECT* rect, UINT edge, UINT flags) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr || rect == nullptr) return FALSE;
    RECT r = ToSurface(*dc, *rect);
    RECT clip = ClipOf(*dc);
    // One ring of the border: top and left first, then bottom and right over the corners.
    auto ring = [&](COLORREF topLeft, COLORREF bottomRight) {
        if (IsEmpty(r)) return;
        if (flags & BF_TOP)
            FillArea(*dc->surface, Intersect({r.left, r.top, r.right, r.top + 1}, clip), topLeft);
        if (flags & BF_LEFT)
            FillArea(*dc->surface, Intersect({r.left, r.top, r.left + 1, r.bottom}, clip), topLeft);
        if (flags & BF_BOTTOM)
            FillArea(*dc->surface, Intersect({r.left, r.bottom - 1, r.right, r.bottom}, clip),
                     bottomRight);
        if (flags & BF_RIGHT)
            FillArea(*dc->surface, Intersect({r.right - 1, r.top, r.right, r.bottom}, clip),
                     bottomRight);
        if (flags & BF_TOP) ++r.top;
        if (flags & BF_LEFT) ++r.left;
        if (flags & BF_BOTTOM) --r.bottom;
        if (flags & BF_RIGHT) --r.right;
    };
    if (edge & BDR_RAISEDOUTER) {
        ring(GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DDKSHADOW));
    } else if (edge & BDR_SUNKENOUTER) {
        ring(GetSysColor(COLOR_3DSHADOW), GetSysColor(COLOR_3DHIGHLIGHT));
    }
    if (edge & BDR_RAISEDINNER) {
        ring(GetSysColor(COLOR_3DHIGHLIGHT), GetSysColor(COLOR_3DSHADOW));
    } else if (edge & BDR_SUNKENINNER) {
        ring(GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DLIGHT));
    }
    if ((flags & BF_MIDDLE) && !IsEmpty(r))
        FillArea(*dc->surface, Intersect(r, clip), GetSysColor(COLOR_3DFACE));
    if (flags & BF_ADJUST) *rect = Offset(r, -dc->origin.x, -dc->origin.y);
    return TRUE;
}

// ---- text ----

BOOL TextOut(HDC hdc, int x, int y, std::string_view text) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    FontFace& face = *Selected(*dc, Kind::Font)->font;
    TextLine line = DecodeText(text, false, false);
    DrawLineOfText(*dc, face, line, Clamp(x) + dc->origin.x, Clamp(y) + dc->origin.y, ClipOf(*dc),
                   TextOptions{});
    return TRUE;
}

int DrawText(HDC hdc, std::string_view text, RECT& rect, UINT format) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return 0;
    return DrawTextImpl(*dc, *Selected(*dc, Kind::Font)->font, text, rect, format);
}

BOOL GetTextExtentPoint32(HDC hdc, std::string_view text, SIZE* size) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr || size == nullptr) return FALSE;
    *size = GetTextExtent(dc->font, text);
    return TRUE;
}

BOOL GetTextMetrics(HDC hdc, TEXTMETRIC* metrics) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr || metrics == nullptr) return FALSE;
    *metrics = GetFontMetrics(dc->font);
    return TRUE;
}

SIZE GetTextExtent(HFONT font, std::string_view text) {
    FontFace& face = FaceOf(font);
    TextLine line = DecodeText(text, false, false);
    return SIZE{LineWidth(face, line.data(), line.data() + line.size(), TextOptions{}),
                face.metrics().height};
}

TEXTMETRIC GetFontMetrics(HFONT font) {
    const FontFaceMetrics& m = FaceOf(font).metrics();
    TEXTMETRIC tm;
    tm.tmHeight = m.height;
    tm.tmAscent = m.ascent;
    tm.tmDescent = m.descent;
    tm.tmInternalLeading = m.internalLeading;
    tm.tmExternalLeading = m.externalLeading;
    tm.tmAveCharWidth = m.averageWidth;
    tm.tmMaxCharWidth = m.maxWidth;
    return tm;
}

SIZE DialogBaseUnits(HFONT font) {
    FontFace& face = FaceOf(font);
    int total = 0;
    for (char32_t c = U'A'; c <= U'Z'; ++c) total += face.Advance(c);
    for (char32_t c = U'a'; c <= U'z'; ++c) total += face.Advance(c);
    return SIZE{(total + 26) / 52, face.metrics().height};
}

// ---- scrolling, images ----

BOOL ScrollDC(HDC hdc, int dx, int dy, const RECT* scroll, const RECT* clip, RECT* update) {
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    dx = Clamp(dx);
    dy = Clamp(dy);
    RECT box = ClipOf(*dc);
    RECT source = scroll != nullptr ? Intersect(ToSurface(*dc, *scroll), box) : box;
    RECT limit = clip != nullptr ? Intersect(ToSurface(*dc, *clip), box) : box;
    RECT dest = Intersect(Offset(source, dx, dy), limit);
    if (!IsEmpty(dest)) {
        // copy through a buffer, since source and destination overlap
        int w = dest.right - dest.left, h = dest.bottom - dest.top;
        std::vector<COLORREF> buffer(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            std::copy_n(dc->surface->row(dest.top + y - dy) + dest.left - dx, w,
                        buffer.data() + static_cast<std::size_t>(y) * w);
        for (int y = 0; y < h; ++y)
            std::copy_n(buffer.data() + static_cast<std::size_t>(y) * w, w,
                        dc->surface->row(dest.top + y) + dest.left);
    }
    if (update != nullptr) {
        // the bounding box of what the scrolled area lost: (area within limit) - dest
        RECT area = Intersect(scroll != nullptr ? ToSurface(*dc, *scroll) : box, limit);
        RECT covered = Intersect(dest, area);
        RECT bound{};
        auto add = [&](const RECT& part) {
            if (IsEmpty(part)) return;
            bound =
                IsEmpty(bound)
                    ? part
                    : RECT{std::min(bound.left, part.left), std::min(bound.top, part.top),
                           std::max(bound.right, part.right), std::max(bound.bottom, part.bottom)};
        };
        if (IsEmpty(covered)) {
            add(area);
        } else {
            add({area.left, area.top, area.right, covered.top});
            add({area.left, covered.bottom, area.right, area.bottom});
            add({area.left, covered.top, covered.left, covered.bottom});
            add({covered.right, covered.top, area.right, covered.bottom});
        }
        *update = IsEmpty(bound) ? RECT{} : Offset(bound, -dc->origin.x, -dc->origin.y);
    }
    return TRUE;
}

HICON LoadIconResource(std::string_view name) {
    return LoadResource(name, Kind::Icon);
}

HBITMAP LoadBitmapResource(std::string_view name) {
    return LoadResource(name, Kind::Bitmap);
}

HBITMAP CreateBitmapFromSurface(const Surface& pixels) {
    Object o;
    o.kind = Kind::Bitmap;
    o.image = std::make_shared<const Image>(Image{pixels, {}});
    return AddObject(std::move(o));
}

SIZE BitmapSize(HGDIOBJ image) {
    const Image* i = ImageOf(image);
    return i == nullptr ? SIZE{} : SIZE{i->pixels.width(), i->pixels.height()};
}

const Surface* ImagePixels(HGDIOBJ image) {
    const Image* i = ImageOf(image);
    return i == nullptr ? nullptr : &i->pixels;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) {
    return DrawIconEx(hdc, x, y, icon, 0, 0);
}

BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cx, int cy) {
    const Object* o = FindObject(icon);
    if (o == nullptr || o->kind != Kind::Icon) return FALSE;
    return DrawImage(hdc, x, y, *o->image, cx, cy);
}

BOOL DrawBitmap(HDC hdc, int x, int y, HBITMAP bitmap) {
    const Image* image = ImageOf(bitmap);
    if (image == nullptr) return FALSE;
    return DrawImage(hdc, x, y, *image, 0, 0);
}

}  // namespace ui
