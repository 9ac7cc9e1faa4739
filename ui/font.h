// Fonts for the GDI layer: finding the font files and rasterising glyphs with FreeType.
//
// A FontFace is one font file at one pixel size. Glyphs are hinted, rendered as 8-bit
// coverage and cached; advances are whole pixels, so that text widths are integers and
// the same on every run. A face whose file cannot be loaded still answers, with metrics made
// from its size and glyphs with no ink, so callers never need to check.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

struct GlyphImage {
    int left = 0;                        // from the pen position to the first column of the bitmap
    int top = 0;                         // from the baseline up to the first row of the bitmap
    int width = 0;                       // bitmap columns
    int height = 0;                      // bitmap rows
    int advance = 0;                     // pen movement in whole pixels
    std::vector<std::uint8_t> coverage;  // width * height, 0..255, row by row
};

struct FontFaceMetrics {
    int ascent = 0;           // baseline to the top of the cell
    int descent = 0;          // baseline to the bottom of the cell (positive)
    int height = 0;           // ascent + descent
    int internalLeading = 0;  // height less the em size
    int externalLeading = 0;
    int averageWidth = 0;     // the font's own average character width
    int maxWidth = 0;         // the widest advance
    int underlineOffset = 1;  // rows from the baseline down to the underline
    int underlineThickness = 1;
};

// The font file for a Windows face name: "Arial" (and "Helvetica") is Liberation Sans, any
// other name DejaVu Sans; Debian's paths first, then fontconfig's fc-match. Empty when
// nothing is found. `italic` takes the family's italic (DejaVu: oblique) face.
std::string FindFontFile(std::string_view name, bool bold, bool italic = false);

class FontFace {
    struct Token {};

  public:
    // The file at `pixelSize` pixels per em (fractions allowed).
    static std::shared_ptr<FontFace> Open(const std::string& path, double pixelSize);
    FontFace(double pixelSize, Token);  // use Open()
    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    bool loaded() const;
    double pixelSize() const { return pixelSize_; }
    const FontFaceMetrics& metrics() const { return metrics_; }
    const GlyphImage& Glyph(char32_t ch);
    int Advance(char32_t ch) { return Glyph(ch).advance; }

  private:
    struct Impl;
    void ComputeMetrics();

    double pixelSize_;
    std::unique_ptr<Impl> impl_;
    FontFaceMetrics metrics_;
    std::map<char32_t, GlyphImage> glyphs_;
};

// Decodes one character of UTF-8 text at `pos` and moves `pos` past it; a byte that does
// not start a valid sequence is taken as its Latin-1 character.
char32_t NextChar(std::string_view text, std::size_t& pos);

}  // namespace ui
