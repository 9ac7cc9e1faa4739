// Byte builders for category list contents (unscrambled), shared by the list tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "sitelists/site_list.h"

namespace listtest {

using Bytes = std::vector<std::uint8_t>;

inline void Add16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Add32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void Set32(Bytes& b, std::size_t o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[o + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// An address record with category bits.
inline Bytes Record(std::uint32_t address, std::uint16_t categories) {
    Bytes b;
    Add32(b, address);
    Add16(b, categories);
    return b;
}
// A path item as stored: L, bits, key. `length` overrides L.
inline Bytes Item(std::uint16_t categories, std::string_view key, int length = -1) {
    Bytes b;
    b.push_back(static_cast<std::uint8_t>(length >= 0 ? length : 3 + static_cast<int>(key.size())));
    Add16(b, categories);
    b.insert(b.end(), key.begin(), key.end());
    return b;
}
// An address record with items (bits 0), ended by a byte 0.
inline Bytes RecordWithItems(std::uint32_t address, std::initializer_list<Bytes> items) {
    Bytes b = Record(address, 0);
    for (const auto& i : items) b.insert(b.end(), i.begin(), i.end());
    b.push_back(0);
    return b;
}
inline Bytes Alias(std::uint32_t canonical, std::initializer_list<std::uint32_t> aliases,
                   int count = -1) {
    Bytes b;
    Add32(b, canonical);
    b.push_back(static_cast<std::uint8_t>(count >= 0 ? count : static_cast<int>(aliases.size())));
    for (std::uint32_t a : aliases) Add32(b, a);
    return b;
}

struct Section {
    char letter;
    Bytes content;
    bool markers = true;
};
// An extended-layout list: header, directory, then the sections in order.
inline Bytes Extended(char family, char kind, std::uint8_t flags,
                      std::initializer_list<Section> sections, std::uint16_t headerSize = 14) {
    Bytes b(14, 0);
    b[0] = 0xFC;
    b[2] = static_cast<std::uint8_t>(headerSize);
    b[3] = static_cast<std::uint8_t>(headerSize >> 8);
    b[4] = static_cast<std::uint8_t>(family);
    b[5] = static_cast<std::uint8_t>(kind);
    b[6] = flags;
    b[12] = static_cast<std::uint8_t>(sections.size());
    b.resize(14 + 10 * sections.size(), 0);
    std::size_t i = 0;
    for (const auto& s : sections) {
        const std::size_t e = 14 + 10 * i++;
        const Bytes body = s.markers ? Cat({Text("SD"), s.content, Text("ED")}) : s.content;
        b[e] = static_cast<std::uint8_t>(s.letter);
        Set32(b, e + 2, static_cast<std::uint32_t>(b.size()));
        Set32(b, e + 6, static_cast<std::uint32_t>(body.size()));
        b.insert(b.end(), body.begin(), body.end());
    }
    return b;
}
// A level 1 list: first byte, 16-bit length, the address section, the rest.
inline Bytes Short(std::uint8_t first, const Bytes& addresses, const Bytes& rest = Bytes(5, 0)) {
    Bytes b{first};
    Add16(b, static_cast<std::uint32_t>(addresses.size()));
    return Cat({b, addresses, rest});
}

// Writes `content` scrambled, as a list file on disk.
inline void WriteList(const std::string& path, Bytes content) {
    sitelists::ScrambleSiteList(content);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

// Address words from dotted text, first octet lowest.
constexpr std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return a | (b << 8) | (c << 16) | (static_cast<std::uint32_t>(d) << 24);
}

// A path key of level 3 from its checksums.
inline Bytes Values(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (std::uint32_t v : values) Add32(b, v);
    return b;
}

// Reflected CRC-32 without inversions, started at 0: the checksums path keys are made of.
constexpr std::uint32_t kCrcA = 0x3AB551CE;        // "a" (table entry 0x61)
constexpr std::uint32_t kCrcAb = 0xDF5A5A92;       // "ab"
constexpr std::uint32_t kCrc80 = 0xEDB88320;       // the byte 0x80 (table entry 0x80)
constexpr std::uint32_t kCrcTest = 0xF93BA110;     // "test"
constexpr std::uint32_t kCrcAds = 0x81882F32;      // "ads"
constexpr std::uint32_t kCrcAdsTop = 0x3708C4D8;   // "adstop"
constexpr std::uint32_t kCrcSlBlock = 0x01092201;  // "!slblock!"

}  // namespace listtest
