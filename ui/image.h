// Image files for the GDI layer: BMP decoding (the program's built-in icons and bitmaps)
// and PNG encoding (EncodePng and WritePng, declared in gdi.h).
//
// DecodeBmp takes any bytes: every size and offset is checked before it is used, and data
// that is short, inconsistent or of a kind it does not read gives false. It reads
// uncompressed 1-, 4-, 8-, 24- and 32-bit images (32-bit with bit-field masks too), bottom-up
// or top-down, up to Surface::kMaxSurfaceSide on each side.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ui/gdi.h"

namespace ui {

struct DecodedImage {
    Surface pixels;
    // One value per pixel, 0 (transparent) to 255 (opaque); empty when the image has no
    // alpha channel (a 32-bit image whose alpha bytes are all 0 has none either).
    std::vector<std::uint8_t> alpha;
};

bool DecodeBmp(std::span<const unsigned char> data, DecodedImage& out,
               std::string* error = nullptr);

}  // namespace ui
