// The format of the DNS resolving database DNSHASH.DAT: a disk-resident hash table from
// host names to IPv4 address words, read by the filter.
//
// Layout, every integer little-endian:
//   0     24-byte header: magic 0x7472, record size 76, bucket table offset 512, bucket
//         count B, record area offset R, total name bytes (sum of L + 1), record count.
//         Bytes 24..511 are zero.
//   512   B bucket words: the index of the bucket's first record, or 0xFFFFFFFF when empty;
//         0xFF bytes from 512 + 4B up to R = (4B + 1023) & ~511.
//   R     76-byte records in insertion order: next index, name hash, value (address word,
//         first octet in the lowest byte), name length L (1..63), 63 name bytes.
// The records of one bucket form a ring: head -> second -> ... -> last -> head. A name is
// found by hashing it (DnsNameHash), taking bucket hash mod B and following that ring until
// it comes back to the head; names compare byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace dbread {

constexpr std::uint16_t kDnsHashMagic = 0x7472;
constexpr std::uint16_t kDnsRecordSize = 76;
constexpr std::uint32_t kDnsTableOffset = 512;
constexpr std::size_t kDnsHeaderSize = 24;
constexpr std::size_t kDnsMaxName = 63;
constexpr std::uint32_t kDnsNoRecord = 0xFFFFFFFF;  // an empty bucket
constexpr std::uint32_t kDnsMinBuckets = 100;
constexpr std::uint32_t kDnsMaxBuckets = (0xFFFFFFFFu - 1023) / 4;  // the largest B whose R fits

struct DnsHashHeader {
    std::uint16_t magic = kDnsHashMagic;
    std::uint16_t recordSize = kDnsRecordSize;
    std::uint32_t tableOffset = kDnsTableOffset;
    std::uint32_t bucketCount = 0;
    std::uint32_t recordOffset = 0;
    std::uint32_t nameBytes = 0;
    std::uint32_t recordCount = 0;
};

struct DnsNameRecord {
    std::uint32_t next = 0;
    std::uint32_t hash = 0;
    std::uint32_t value = 0;
    std::uint8_t length = 0;
    std::array<std::uint8_t, kDnsMaxName> name{};

    std::string_view Name() const {
        return {reinterpret_cast<const char*>(name.data()), length <= kDnsMaxName ? length : 0u};
    }
};

std::array<std::uint8_t, kDnsHeaderSize> EncodeDnsHashHeader(const DnsHashHeader& header);
DnsHashHeader DecodeDnsHashHeader(std::span<const std::uint8_t, kDnsHeaderSize> bytes);
std::array<std::uint8_t, kDnsRecordSize> EncodeDnsNameRecord(const DnsNameRecord& record);
DnsNameRecord DecodeDnsNameRecord(std::span<const std::uint8_t, kDnsRecordSize> bytes);

// R for B buckets: 512 + 4B raised to the next multiple of 512 (64-bit, so that any B works).
constexpr std::uint64_t DnsRecordAreaOffset(std::uint64_t bucketCount) {
    return (4 * bucketCount + 1023) & ~std::uint64_t{511};
}

// h = rotl(h, 5) + c over the bytes, each taken as a signed 8-bit value, modulo 2^32.
std::uint32_t DnsNameHash(std::string_view name);

}  // namespace dbread
