#include "ui/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace ui {
namespace {

struct LibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using LibraryPtr = std::shared_ptr<FT_LibraryRec_>;
using FacePtr = std::unique_ptr<FT_FaceRec_, FaceDeleter>;

// One FreeType library for the process; every face holds a reference, so that the library
// outlives the last face whatever the order of destruction at exit.
LibraryPtr Library() {
    static LibraryPtr library = [] {
        FT_Library raw = nullptr;
        if (FT_Init_FreeType(&raw) != 0) return LibraryPtr();
        return LibraryPtr(raw, LibraryDeleter());
    }();
    return library;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The file that fontconfig picks for a pattern, or empty.
std::string FcMatch(const std::string& pattern) {
    std::string command = "fc-match -f '%{file}' '" + pattern + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return IsFile(out) ? out : std::string();
}

std::string FindFamily(bool liberation, bool bold, bool italic) {
    std::vector<std::string> candidates;
    if (liberation) {
        const char* file = bold ? (italic ? "LiberationSans-BoldItalic.ttf"
                                          : "LiberationSans-Bold.ttf")
                                : (italic ? "LiberationSans-Italic.ttf"
                                          : "LiberationSans-Regular.ttf");
        candidates = {std::string("/usr/share/fonts/truetype/liberation/") + file,
                      std::string("/usr/share/fonts/truetype/liberation2/") + file};
    } else {
        const char* file = bold ? (italic ? "DejaVuSans-BoldOblique.ttf" : "DejaVuSans-Bold.ttf")
                                : (italic ? "DejaVuSans-Oblique.ttf" : "DejaVuSans.ttf");
        candidates = {std::string("/usr/share/fonts/truetype/dejavu/") + file};
    }
    for (const auto& path : candidates)
        if (IsFile(path)) return path;
    std::string family = liberation ? "Liberation Sans" : "DejaVu Sans";
    const char* slant = liberation ? "Italic" : "Oblique";
    std::string style = bold     ? (italic ? std::string("Bold ") + slant : "Bold")
                        : italic ? std::string(slant)
                                 : std::string("Book");
    std::string found = FcMatch(family + ":style=" + style);
    // fc-match always answers with something; take it only if it is the family asked for.
    std::string lower = Lower(found);
    if (lower.find(liberation ? "liberationsans" : "dejavusans") != std::string::npos) return found;
    return {};
}

int Round(double v) {
    return static_cast<int>(std::lround(v));
}

}  // namespace

struct FontFace::Impl {
    LibraryPtr library;  // declared first: destroyed after the face
    FacePtr face;
};

std::string FindFontFile(std::string_view name, bool bold, bool italic) {
    std::string lower = Lower(name);
    bool liberation = lower == "arial" || lower == "helvetica" || lower == "liberation sans";
    if (liberation) {
        std::string path = FindFamily(true, bold, italic);
        if (!path.empty()) return path;
    }
    return FindFamily(false, bold, italic);
}

char32_t NextChar(std::string_view text, std::size_t& pos) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(pos);
    int extra = first >= 0xF0 && first <= 0xF4  ? 3
                : first >= 0xE0 && first < 0xF0 ? 2
                : first >= 0xC2 && first < 0xE0 ? 1
                                                : 0;
    if (extra == 0 || pos + extra >= text.size()) {
        ++pos;
        return first;
    }
    char32_t value = first & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return first;
        }
        value = (value << 6) | (next & 0x3F);
    }
    // overlong forms, surrogates and values past U+10FFFF are not characters
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (value < kMinimum[extra] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        ++pos;
        return first;
    }
    pos += extra + 1;
    return value;
}

FontFace::FontFace(double pixelSize, Token)
    : pixelSize_(pixelSize), impl_(std::make_unique<Impl>()) {}

FontFace::~FontFace() = default;

std::shared_ptr<FontFace> FontFace::Open(const std::string& path, double pixelSize) {
    pixelSize = std::clamp(pixelSize, 1.0, 1000.0);
    auto font = std::make_shared<FontFace>(pixelSize, Token());
    font->impl_->library = Library();
    if (font->impl_->library && !path.empty()) {
        FT_Face raw = nullptr;
        if (FT_New_Face(font->impl_->library.get(), path.c_str(), 0, &raw) == 0) {
            font->impl_->face.reset(raw);
            FT_Select_Charmap(raw, FT_ENCODING_UNICODE);
            if (FT_Set_Char_Size(raw, 0, static_cast<FT_F26Dot6>(std::lround(pixelSize * 64)), 72,
                                 72) != 0)
                font->impl_->face.reset();
        }
    }
    font->ComputeMetrics();
    return font;
}

bool FontFace::loaded() const {
    return impl_->face != nullptr;
}

void FontFace::ComputeMetrics() {
    FontFaceMetrics& m = metrics_;
    FT_Face face = impl_->face.get();
    if (face == nullptr || face->units_per_EM == 0) {
        m.ascent = Round(pixelSize_ * 0.9);
        m.descent = Round(pixelSize_ * 0.25);
        m.height = m.ascent + m.descent;
        m.averageWidth = m.maxWidth = std::max(1, Round(pixelSize_ * 0.5));
        return;
    }
    double scale = pixelSize_ / face->units_per_EM;
    double ascent = face->ascender, descent = -face->descender, gap = 0;
    double avg = 0;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        os2 != nullptr && os2->version != 0xFFFF) {
        // the Windows metrics, which are what the cell height is made of on Windows
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            ascent = os2->usWinAscent;
            descent = os2->usWinDescent;
            double hheaGap = face->height - (face->ascender - face->descender);
            gap =
                std::max(0.0, hheaGap - ((ascent + descent) - (face->ascender - face->descender)));
        }
        avg = os2->xAvgCharWidth;
    }
    m.ascent = Round(ascent * scale);
    m.descent = Round(descent * scale);
    m.height = m.ascent + m.descent;
    m.internalLeading = std::max(0, m.height - Round(pixelSize_));
    m.externalLeading = Round(gap * scale);
    m.maxWidth = Round(face->max_advance_width * scale);
    m.averageWidth = avg > 0 ? Round(avg * scale) : Advance(U'x');
    m.underlineOffset = std::max(1, Round(-face->underline_position * scale));
    m.underlineOffset = std::min(m.underlineOffset, std::max(1, m.descent - 1));
    m.underlineThickness = std::max(1, Round(face->underline_thickness * scale));
}

const GlyphImage& FontFace::Glyph(char32_t ch) {
    auto found = glyphs_.find(ch);
    if (found != glyphs_.end()) return found->second;
    GlyphImage& g = glyphs_[ch];
    FT_Face face = impl_->face.get();
    if (ch < 0x20 || ch == 0x7F) return g;  // control characters take no room
    if (face == nullptr) {
        g.advance = metrics_.averageWidth;
        return g;
    }
    FT_UInt index = FT_Get_Char_Index(face, ch);
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.pixel_mode != FT_PIXEL_MODE_MONO)
        return g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bitmap.width);
    g.height = static_cast<int>(bitmap.rows);
    g.coverage.resize(static_cast<std::size_t>(g.width) * g.height);
    int pitch = bitmap.pitch;
    for (int y = 0; y < g.height; ++y) {
        const unsigned char* src =
            pitch >= 0 ? bitmap.buffer + static_cast<std::ptrdiff_t>(y) * pitch
                       : bitmap.buffer + static_cast<std::ptrdiff_t>(g.height - 1 - y) * -pitch;
        for (int x = 0; x < g.width; ++x) {
            std::uint8_t value;
            if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
                unsigned levels = bitmap.num_grays > 1 ? bitmap.num_grays - 1 : 255;
                value = static_cast<std::uint8_t>(src[x] * 255u / levels);
            } else {
                value = (src[x >> 3] & (0x80 >> (x & 7))) != 0 ? 255 : 0;
            }
            g.coverage[static_cast<std::size_t>(y) * g.width + x] = value;
        }
    }
    return g;
}

}  // namespace ui
