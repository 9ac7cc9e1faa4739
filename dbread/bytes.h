// Little-endian fields of the database and list file formats, and the reflected CRC-32
// table (polynomial 0xEDB88320) that path keys are made with.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace dbread {

// The formats are little-endian, like every host this builds for; a fixed-size memcpy
// compiles to one load or store.
static_assert(std::endian::native == std::endian::little);

inline std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t o) {
    std::uint16_t v;
    std::memcpy(&v, b.data() + o, sizeof v);
    return v;
}
inline std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t o) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + o, sizeof v);
    return v;
}
inline void Put16(std::span<std::uint8_t> b, std::size_t o, std::uint32_t v) {
    const auto w = static_cast<std::uint16_t>(v);
    std::memcpy(b.data() + o, &w, sizeof w);
}
inline void Put32(std::span<std::uint8_t> b, std::size_t o, std::uint32_t v) {
    std::memcpy(b.data() + o, &v, sizeof v);
}

inline const std::array<std::uint32_t, 256>& CrcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

}  // namespace dbread
