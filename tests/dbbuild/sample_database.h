// A small database built through the engine the way a database build uses it (sentinels,
// list addresses with path blocks, aliases, the administrator's entries and domains), for
// the tests of the layout, the reader and veldana-db. The comments give what each insert
// must leave in the indexes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbbuild/record_file.h"

namespace dbtest {

// Address words: the first octet of the dotted form in the lowest byte.
constexpr std::uint32_t kSentinel = 0xFFFFFFFF;  // 255.255.255.255, index bucket 224
constexpr std::uint32_t kP = 0x04030201;         // 1.2.3.4, index bucket 15918
constexpr std::uint32_t kS = kP + 65521;         // 242.1.4.4, alias of P, same bucket
constexpr std::uint32_t kQ = 0x08070605;         // 5.6.7.8, whole site, bucket 32366
constexpr std::uint32_t kT = 0x0100000A;         // 10.0.0.1, canonical of alias Q, bucket 3850
constexpr std::uint32_t kR = 0x09090909;         // removed
constexpr std::uint32_t kH = 0x0B0B0B0B;         // hidden (0x8000)
constexpr std::uint32_t kZ = 0x0C0C0C0C;         // categories 0
constexpr std::uint32_t kM = 0x0D0D0D0D;         // 13.13.13.13, administrator's path, 53456

inline std::vector<std::uint8_t> Block(
    std::initializer_list<std::pair<std::uint16_t, std::string_view>> items) {
    std::vector<std::uint8_t> block;
    for (auto [categories, key] : items) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(key.data());
        dbbuild::AddPathItem(block, categories, {p, key.size()});
    }
    return block;
}

inline std::uint32_t FixedClock() {
    return 0x5F000000;
}

// Creates `path` with the build's parameters and fills it; the indexes are built with
// mask 0xFFFF unless `build` is false. Returns false when any engine call fails.
inline bool BuildSampleDatabase(const std::string& path, bool build = true) {
    using namespace dbbuild;
    SetRecordFileClock(&FixedClock);
    bool ok = RdbCreate(path, 0x400000, 0x18000, 1000) == 1;
    // Address slots 0..6: sentinel, P, Q, R, H, Z, M.
    ok = ok && RdbPutAddress(kSentinel, 0xFFFF, 0, Block({{0, "test"}})) == 1;
    ok = ok && RdbPutAddress(kP, 0x0005, 0, Block({{0x0001, "ab"}, {0x0004, "abc"}})) == 1;
    ok = ok && RdbPutAddress(kP, 0x0010, 0, Block({{0x0010, "x"}})) == 1;  // second block
    ok = ok && RdbPutAddress(kQ, 0x0002, 0, Block({{0x0002, "q"}})) == 1;
    ok = ok && RdbPutAddress(kQ, 0x0002, 0) == 1;  // whole site: 0x0020
    ok = ok && RdbPutAddress(kR, 0x0008, 0) == 1;
    ok = ok && RdbPutAddress(kR, 0, 0x0102) == 1;  // removed: 0x0010
    ok = ok && RdbPutAddress(kH, 0x0001, 0x8000) == 1;
    ok = ok && RdbPutAddress(kZ, 0, 0x0102) == 1;
    // Pairs (P, S) and (T, Q).
    ok = ok && RdbAddAlias(kP, kS) == 1 && RdbAddAlias(kT, kQ) == 1;
    ok = ok && RdbPutAddress(kM, 0xFFFF, 0, Block({{0xFFFF, "ad"}})) == 1;
    // Name slots 0..8.
    ok = ok && RdbPutName("Z.Z.Z.Z.Z", 0xFFFF, 0x0080) == 1;
    ok = ok && RdbPutName("com.example", 0xFEFE, 0x0080) == 1;
    ok = ok && RdbPutName("com.evil", 0, 0x0182) == 1;  // stored as 0xFF "com.evil", 0xFFFF
    ok = ok && RdbPutName("ab", 1, 0) == 1;
    ok = ok && RdbPutName("abd", 1, 0) == 1;
    ok = ok && RdbPutName("abc", 1, 0) == 1;
    ok = ok && RdbPutName("hidden", 1, 0x8000) == 1;
    ok = ok && RdbPutName("gone", 1, 0x0010) == 1;
    ok = ok && RdbPutName("nocat", 0, 0) == 1;
    if (build) ok = ok && RdbBuildIndexes(0, 0xFFFF) == 1;
    ok = RdbClose() == 1 && ok;
    return ok;
}

}  // namespace dbtest
