#include "dbread/dns_hash_format.h"

#include <algorithm>

#include "dbread/bytes.h"

namespace dbread {

std::array<std::uint8_t, kDnsHeaderSize> EncodeDnsHashHeader(const DnsHashHeader& h) {
    std::array<std::uint8_t, kDnsHeaderSize> b{};
    Put16(b, 0, h.magic);
    Put16(b, 2, h.recordSize);
    Put32(b, 4, h.tableOffset);
    Put32(b, 8, h.bucketCount);
    Put32(b, 12, h.recordOffset);
    Put32(b, 16, h.nameBytes);
    Put32(b, 20, h.recordCount);
    return b;
}

DnsHashHeader DecodeDnsHashHeader(std::span<const std::uint8_t, kDnsHeaderSize> b) {
    DnsHashHeader h;
    h.magic = Get16(b, 0);
    h.recordSize = Get16(b, 2);
    h.tableOffset = Get32(b, 4);
    h.bucketCount = Get32(b, 8);
    h.recordOffset = Get32(b, 12);
    h.nameBytes = Get32(b, 16);
    h.recordCount = Get32(b, 20);
    return h;
}

std::array<std::uint8_t, kDnsRecordSize> EncodeDnsNameRecord(const DnsNameRecord& r) {
    std::array<std::uint8_t, kDnsRecordSize> b{};
    Put32(b, 0, r.next);
    Put32(b, 4, r.hash);
    Put32(b, 8, r.value);
    b[12] = r.length;
    std::copy(r.name.begin(), r.name.end(), b.begin() + 13);
    return b;
}

DnsNameRecord DecodeDnsNameRecord(std::span<const std::uint8_t, kDnsRecordSize> b) {
    DnsNameRecord r;
    r.next = Get32(b, 0);
    r.hash = Get32(b, 4);
    r.value = Get32(b, 8);
    r.length = b[12];
    std::copy(b.begin() + 13, b.end(), r.name.begin());
    return r;
}

std::uint32_t DnsNameHash(std::string_view name) {
    auto step = [](std::uint32_t h, char c) {
        const auto signedByte = static_cast<std::int32_t>(static_cast<std::int8_t>(c));
        return ((h << 5) | (h >> 27)) + static_cast<std::uint32_t>(signedByte);
    };
    // Four bytes a round: a million names go through here in a rebuild.
    std::uint32_t h = 0;
    std::size_t i = 0;
    for (; i + 4 <= name.size(); i += 4)
        h = step(step(step(step(h, name[i]), name[i + 1]), name[i + 2]), name[i + 3]);
    for (; i < name.size(); ++i) h = step(h, name[i]);
    return h;
}

}  // namespace dbread
