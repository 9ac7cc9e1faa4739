// Read-only access to a DNS resolving database (DNSHASH.DAT), for the filter, veldana-db,
// tests and fuzzing: the checked header, the records, a lookup done the way the filter does
// it, and the whole-file check.
//
// Nothing here trusts the file. Opening checks the header against the file's real size: the
// magic, the record size, the table offset, the bucket count (at least 100, and its record
// area inside the file), the record area offset, a record area of whole records matching the
// record count (a count of 0 with records behind it is an unfinished build) and the 0xFF
// filler behind the bucket table. Every bucket word, record index and name length is checked
// before it is used, and every ring walk ends after at most (record count) records, so a
// damaged or foreign file is refused with a reason and never read past its end.
//
// The whole-file check (CheckDnsHash) goes through every bucket word and record, each
// record's hash against its name, each ring returning to its head with only records of its
// bucket, every record in exactly one ring, and the name byte total.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbread/dns_hash_format.h"
#include "platform/descriptor.h"
#include "dbread/lookup.h"

namespace dbread {

// A descriptor opened read-only.
using ReadOnlyFile = platform::Descriptor;

// An open database: a file opened read-only, or bytes held by the caller (which must outlive
// the image).
struct DnsHashImage {
    ReadOnlyFile file;
    std::span<const std::uint8_t> bytes;
    bool inMemory = false;
    std::uint64_t size = 0;
    DnsHashHeader header;
};

bool OpenDnsHashFile(const std::string& path, DnsHashImage& image, std::string& error);
bool OpenDnsHashBytes(std::span<const std::uint8_t> bytes, DnsHashImage& image, std::string& error);
// True when the file begins with the magic bytes 0x72 0x74 (nothing else is checked).
bool HasDnsHashMagic(const std::string& path);

// Record `index`, with its index, length and next field checked.
bool ReadDnsRecord(const DnsHashImage& image, std::uint32_t index, DnsNameRecord& record,
                   std::string& error);

struct DnsHashSummary {
    std::uint32_t bucketsUsed = 0;
    std::uint32_t longestRing = 0;
};
// The whole-file check (see above).
bool CheckDnsHash(const DnsHashImage& image, DnsHashSummary& summary, std::string& error);

// Calls each(index, record) for every record in index order, reading them in chunks; false
// when a read fails (reason in `error`) or `each` returns false. Records are not checked.
bool ForEachDnsRecord(const DnsHashImage& image, std::string& error,
                      const std::function<bool(std::uint32_t, const DnsNameRecord&)>& each);

struct DnsLookupResult {
    std::uint32_t hash = 0;
    std::uint32_t bucket = 0;
    std::vector<std::uint32_t> visited;  // the ring's records in walking order, up to a match
    bool found = false;
    std::uint32_t index = 0;
    DnsNameRecord record;
};
// Looks a name up as the filter does: its first 63 bytes hashed, the bucket's ring followed
// from the head until it comes back to the head; bytes compare exactly (case matters).
bool LookupDnsName(const DnsHashImage& image, std::string_view name, DnsLookupResult& result,
                   std::string& error);
// The same lookup for the filter's hot path: only the value, nothing allocated.
Lookup FindDnsName(const DnsHashImage& image, std::string_view name, std::uint32_t& value,
                   std::string& error);

}  // namespace dbread
