#include "ui/image.h"

#include <zlib.h>

#include <array>
#include <fstream>

namespace ui {
namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

// Reads little-endian numbers at checked offsets.
class Reader {
  public:
    explicit Reader(std::span<const unsigned char> data) : data_(data) {}
    bool has(std::uint64_t offset, std::uint64_t size) const {
        return offset <= data_.size() && size <= data_.size() - offset;
    }
    std::uint32_t u8(std::size_t at) const { return data_[at]; }
    std::uint32_t u16(std::size_t at) const { return data_[at] | (u8(at + 1) << 8); }
    std::uint32_t u32(std::size_t at) const { return u16(at) | (u16(at + 2) << 16); }
    std::int32_t i32(std::size_t at) const { return static_cast<std::int32_t>(u32(at)); }

  private:
    std::span<const unsigned char> data_;
};

bool Fail(std::string* error, const char* why) {
    if (error != nullptr) *error = why;
    return false;
}

// A channel described by a bit mask: where it sits and how to widen it to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    static Channel From(std::uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask == 0) return c;
        while (((mask >> c.shift) & 1) == 0) ++c.shift;
        c.max = mask >> c.shift;
        return c;
    }
    // A mask must be one run of bits.
    bool valid() const { return mask != 0 && (max & (max + 1)) == 0; }
    std::uint32_t Get(std::uint32_t pixel) const {
        if (mask == 0) return 0;
        std::uint64_t v = (pixel & mask) >> shift;
        return static_cast<std::uint32_t>((v * 255 + max / 2) / max);
    }
};

void AppendU32(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

void AppendChunk(std::string& out, const char* type, const std::string& data) {
    AppendU32(out, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    AppendU32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

bool DecodeBmp(std::span<const unsigned char> data, DecodedImage& out, std::string* error) {
    Reader r(data);
    if (!r.has(0, 18)) return Fail(error, "shorter than a BMP header");
    if (data[0] != 'B' || data[1] != 'M') return Fail(error, "no BM signature");
    std::uint32_t pixelOffset = r.u32(10);
    std::uint32_t headerSize = r.u32(14);
    bool core = headerSize == 12;
    if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124)
        return Fail(error, "unknown info header size");
    if (!r.has(14, headerSize)) return Fail(error, "info header cut short");

    std::int64_t width, height;
    std::uint32_t planes, bpp, compression = kBiRgb, colorsUsed = 0;
    if (core) {
        width = r.u16(18);
        height = r.u16(20);
        planes = r.u16(22);
        bpp = r.u16(24);
    } else {
        width = r.i32(18);
        height = r.i32(22);
        planes = r.u16(26);
        bpp = r.u16(28);
        compression = r.u32(30);
        colorsUsed = r.u32(46);
    }
    bool topDown = height < 0;
    if (topDown) height = -height;
    if (planes != 1) return Fail(error, "planes is not 1");
    if (width <= 0 || height <= 0) return Fail(error, "empty image");
    if (width > Surface::kMaxSurfaceSide || height > Surface::kMaxSurfaceSide)
        return Fail(error, "image too large");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return Fail(error, "unsupported bits per pixel");
    if (compression != kBiRgb && !(compression == kBiBitfields && bpp == 32))
        return Fail(error, "unsupported compression");

    // Channel masks: the defaults of a 32-bit image, or the header's (or the three words
    // after a 40-byte header).
    Channel red = Channel::From(0x00FF0000), green = Channel::From(0x0000FF00),
            blue = Channel::From(0x000000FF), alpha = Channel::From(0xFF000000);
    std::uint64_t tableOffset = 14 + static_cast<std::uint64_t>(headerSize);
    if (compression == kBiBitfields) {
        std::uint64_t masksAt = 14 + 40;
        if (headerSize == 40) {
            if (!r.has(masksAt, 12)) return Fail(error, "bit-field masks cut short");
            tableOffset += 12;
        }
        red = Channel::From(r.u32(masksAt));
        green = Channel::From(r.u32(masksAt + 4));
        blue = Channel::From(r.u32(masksAt + 8));
        alpha = Channel::From(headerSize >= 56 ? r.u32(masksAt + 12) : 0);
        if (!red.valid() || !green.valid() || !blue.valid() || (alpha.mask != 0 && !alpha.valid()))
            return Fail(error, "bad bit-field masks");
        if ((red.mask & green.mask) | (red.mask & blue.mask) | (green.mask & blue.mask) |
            (alpha.mask & (red.mask | green.mask | blue.mask)))
            return Fail(error, "overlapping bit-field masks");
    }

    std::array<COLORREF, 256> palette{};
    if (bpp <= 8) {
        std::uint32_t maxColors = 1u << bpp;
        std::uint32_t count = colorsUsed == 0 ? maxColors : colorsUsed;
        if (count > maxColors) return Fail(error, "too many palette colours");
        std::uint32_t entry = core ? 3 : 4;
        if (!r.has(tableOffset, static_cast<std::uint64_t>(count) * entry))
            return Fail(error, "palette cut short");
        for (std::uint32_t i = 0; i < count; ++i) {
            std::size_t at = static_cast<std::size_t>(tableOffset + i * entry);
            palette[i] = RGB(static_cast<int>(r.u8(at + 2)), static_cast<int>(r.u8(at + 1)),
                             static_cast<int>(r.u8(at)));
        }
        tableOffset += static_cast<std::uint64_t>(count) * entry;
    }

    std::uint64_t stride = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
    if (pixelOffset < tableOffset) return Fail(error, "pixels overlap the headers");
    if (!r.has(pixelOffset, stride * static_cast<std::uint64_t>(height)))
        return Fail(error, "pixel data cut short");

    int w = static_cast<int>(width), h = static_cast<int>(height);
    out.pixels = Surface(w, h, 0);
    out.alpha.assign(bpp == 32 ? static_cast<std::size_t>(w) * h : 0, 0);
    bool anyAlpha = false;
    for (int y = 0; y < h; ++y) {
        int fileRow = topDown ? y : h - 1 - y;
        std::size_t rowAt = static_cast<std::size_t>(pixelOffset + stride * fileRow);
        COLORREF* dst = out.pixels.row(y);
        for (int x = 0; x < w; ++x) {
            if (bpp <= 8) {
                std::size_t bit = static_cast<std::size_t>(x) * bpp;
                std::uint32_t byte = r.u8(rowAt + bit / 8);
                std::uint32_t index = (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                dst[x] = palette[index];
            } else if (bpp == 24) {
                std::size_t at = rowAt + static_cast<std::size_t>(x) * 3;
                dst[x] = RGB(static_cast<int>(r.u8(at + 2)), static_cast<int>(r.u8(at + 1)),
                             static_cast<int>(r.u8(at)));
            } else {
                std::uint32_t pixel = r.u32(rowAt + static_cast<std::size_t>(x) * 4);
                dst[x] = RGB(static_cast<int>(red.Get(pixel)), static_cast<int>(green.Get(pixel)),
                             static_cast<int>(blue.Get(pixel)));
                std::uint32_t a = alpha.Get(pixel);
                out.alpha[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(a);
                anyAlpha = anyAlpha || a != 0;
            }
        }
    }
    if (!anyAlpha) out.alpha.clear();
    return true;
}

std::string EncodePng(const Surface& surface) {
    int w = surface.width(), h = surface.height();
    if (w <= 0 || h <= 0) return {};
    std::string raw;
    raw.reserve((static_cast<std::size_t>(w) * 3 + 1) * h);
    for (int y = 0; y < h; ++y) {
        raw += '\0';  // filter: none
        const COLORREF* row = surface.row(y);
        for (int x = 0; x < w; ++x) {
            raw += static_cast<char>(GetRValue(row[x]));
            raw += static_cast<char>(GetGValue(row[x]));
            raw += static_cast<char>(GetBValue(row[x]));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::string header;
    AppendU32(header, static_cast<std::uint32_t>(w));
    AppendU32(header, static_cast<std::uint32_t>(h));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", {});
    return png;
}

bool WritePng(const Surface& surface, const std::string& path) {
    std::string png = EncodePng(surface);
    if (png.empty()) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(png.data(), static_cast<std::streamsize>(png.size()));
    file.close();
    return static_cast<bool>(file);
}

}  // namespace ui
