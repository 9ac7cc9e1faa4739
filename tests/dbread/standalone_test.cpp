// The reader library on its own: this program links veldana_dbread and nothing else of the
// project. It lays out a small filter database and a small DNSHASH.DAT byte by byte, writes
// them to files, and reads them back through the library the way the filter does. Exit
// status 0 when every check holds, 1 otherwise (each failed check is printed).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "dbread/dns_hash_reader.h"
#include "dbread/record_reader.h"
#include "dbread/text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int g_failures = 0;

void Check(bool ok, const char* what, const std::string& detail = {}) {
    if (ok) return;
    ++g_failures;
    std::fprintf(stderr, "FAILED: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
}

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A database with empty tables and both indexes built: the address index holds 1.2.3.4
// (categories 0x0005, one path item "ab" with categories 0x0004), the name index the key
// "com.example" (flags 0x80, categories 0xFEFE).
constexpr std::uint32_t kAddress = 0x04030201;
constexpr std::string_view kNameKey = "com.example";

Bytes DatabaseImage() {
    constexpr std::size_t kTableArea = 512;           // both tables' buckets and records here
    constexpr std::size_t kTableBuckets = 65536 * 4;  // a table's bucket array
    constexpr std::size_t kIndexBuckets = 65538 * 4;  // the address index's bucket table
    constexpr std::size_t kAddressDescriptor = 240, kNameDescriptor = 280;
    const std::size_t tableEnd = kTableArea + kTableBuckets;
    const std::size_t bucketsAt = tableEnd, keysAt = bucketsAt + kIndexBuckets + 4;
    const std::size_t pathsAt = keysAt + 6, pathSize = 256 + 7 + 1 + 2;
    const std::size_t namesAt = pathsAt + pathSize;
    const std::size_t poolSize = 4 + kNameKey.size() + 1;
    Bytes b(namesAt + 4 + poolSize, 0);

    // Header.
    b[0] = 'V';
    b[1] = 'D';
    Put16(b, 2, 0x0100);
    Put32(b, 16, 512);
    Put32(b, 24, static_cast<std::uint32_t>(tableEnd));
    Put16(b, 42, 2);
    Put32(b, 46, 80);
    Put16(b, 50, 1);
    Put16(b, 52, 1);
    Put32(b, 54, kAddressDescriptor);
    Put16(b, 58, 1);
    Put16(b, 60, 1);
    Put32(b, 62, kNameDescriptor);
    Put32(b, 76, kTableArea);  // alias pairs: none

    // The address table (number 1) and the name table (number 2), both of capacity 0.
    for (int t = 0; t < 2; ++t) {
        const std::size_t d = 80 + 78 * static_cast<std::size_t>(t);
        b[d] = 3;
        b[d + 1] = static_cast<std::uint8_t>(t + 1);
        Put16(b, d + 2, 78);
        Put32(b, d + 8, kTableArea);   // buckets
        Put32(b, d + 12, kTableArea);  // records
        Put32(b, d + 20, kTableArea);  // next slot
        Put32(b, d + 52, kTableArea);  // path data
        Put16(b, d + 70, t == 0 ? 18 : 78);
    }

    // The address index: one entry, in bucket 1.2.3.4 mod 65521.
    const std::size_t a = kAddressDescriptor;
    b[a] = 5;
    b[a + 1] = 1;
    Put16(b, a + 8, 0xFFFF);
    Put32(b, a + 10, static_cast<std::uint32_t>(bucketsAt));
    Put32(b, a + 14, kIndexBuckets + 4);
    Put32(b, a + 18, static_cast<std::uint32_t>(keysAt));
    Put32(b, a + 22, 6);
    Put32(b, a + 26, static_cast<std::uint32_t>(pathsAt));
    Put32(b, a + 30, static_cast<std::uint32_t>(pathSize));
    const std::uint32_t bucket = kAddress % 65521;
    for (std::uint32_t i = bucket + 1; i <= 65521; ++i) Put32(b, bucketsAt + 4 * i, 1);
    Put32(b, bucketsAt + kIndexBuckets, 256);  // the entry's path data
    Put32(b, keysAt, kAddress);
    Put16(b, keysAt + 4, 0x0005);
    const Bytes path = {2, 2, 2, 0x04, 0x00, 'a', 'b', 0};  // longest key, item, end
    std::copy(path.begin(), path.end(), b.begin() + static_cast<std::ptrdiff_t>(pathsAt + 256));

    // The name index: one offset, then the pool entry (length, flags, categories, key).
    const std::size_t n = kNameDescriptor;
    b[n] = 5;
    b[n + 1] = 2;
    Put16(b, n + 20, 1);
    Put32(b, n + 22, static_cast<std::uint32_t>(namesAt));
    Put32(b, n + 26, static_cast<std::uint32_t>(4 + poolSize));
    const std::size_t pool = namesAt + 4;
    b[pool] = static_cast<std::uint8_t>(kNameKey.size());
    b[pool + 1] = 0x80;
    Put16(b, pool + 2, 0xFEFE);
    std::copy(kNameKey.begin(), kNameKey.end(), b.begin() + static_cast<std::ptrdiff_t>(pool + 4));
    return b;
}

// A DNSHASH.DAT of 101 buckets holding a.example -> 192.168.1.1, alone in its ring.
constexpr std::string_view kHost = "a.example";
constexpr std::uint32_t kHostAddress = 0x0101A8C0;
constexpr std::uint32_t kHostBucket = 61;  // its hash mod 101

Bytes DnsHashImage() {
    Bytes b(1024 + 76, 0);
    Put16(b, 0, 0x7472);
    Put16(b, 2, 76);
    Put32(b, 4, 512);
    Put32(b, 8, 101);
    Put32(b, 12, 1024);
    Put32(b, 16, static_cast<std::uint32_t>(kHost.size() + 1));
    Put32(b, 20, 1);
    std::fill(b.begin() + 512, b.begin() + 1024, 0xFF);
    Put32(b, 512 + 4 * kHostBucket, 0);
    Put32(b, 1024, 0);  // next: itself
    Put32(b, 1028, dbread::DnsNameHash(kHost));
    Put32(b, 1032, kHostAddress);
    b[1036] = static_cast<std::uint8_t>(kHost.size());
    std::copy(kHost.begin(), kHost.end(), b.begin() + 1037);
    return b;
}

// A file of its own in the temporary directory, removed at the end.
struct TempFile {
    std::string path;
    explicit TempFile(const Bytes& bytes) {
        const char* dir = getenv("TMPDIR");
        std::string name = std::string(dir && *dir ? dir : "/tmp") + "/dbread-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd < 0) return;
        close(fd);
        path = name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        if (!path.empty()) unlink(path.c_str());
    }
};

void CheckDatabase() {
    const TempFile file(DatabaseImage());
    Bytes bytes;
    std::string error;
    Check(dbread::LoadFile(file.path, bytes, error), "database: load", error);
    dbread::DatabaseImage image;
    if (!dbread::OpenImage(bytes, image, error)) {
        Check(false, "database: open", error);
        return;
    }
    Check(image.addressIndexBuilt && image.addressEntries == 1, "database: address index");

    std::uint32_t address = 0;
    Check(dbread::ParseDottedAddress("1.2.3.4", address) && address == kAddress,
          "dotted address parsed");
    dbread::AddressEntry entry;
    Check(dbread::FindAddress(image, address, entry, error) == dbread::Lookup::kFound,
          "database: 1.2.3.4 found", error);
    Check(entry.categories == 0x0005 && entry.items.size() == 1 &&
              entry.items[0].categories == 0x0004 && entry.items[0].key == Bytes{'a', 'b'} &&
              dbread::PathKeyText(" AB") == Bytes{'a', 'b'},
          "database: 1.2.3.4 entry", dbread::DottedAddress(entry.address));
    Check(dbread::FindAddress(image, kAddress + 1, entry, error) == dbread::Lookup::kAbsent,
          "database: 2.2.3.4 absent");

    dbread::NameEntry name;
    const std::vector<std::string> keys = dbread::DomainKeys("www.Example.com");
    Check(keys.size() == 3 && keys[1] == kNameKey, "domain keys");
    Check(dbread::FindName(image, dbread::MakeNameKey(keys[1], 0).bytes, name, error) ==
              dbread::Lookup::kFound,
          "database: com.example found", error);
    Check(name.flags == 0x80 && name.categories == 0xFEFE, "database: com.example entry");
    Check(dbread::FindName(image, dbread::MakeNameKey(keys[0], 0).bytes, name, error) ==
              dbread::Lookup::kAbsent,
          "database: com.example.www absent");

    // One byte short of the name pool: refused with a reason, never read past.
    bytes.pop_back();
    Check(!dbread::OpenImage(bytes, image, error) && !error.empty(), "database: cut short");
}

void CheckDnsHash() {
    const Bytes bytes = DnsHashImage();
    const TempFile file(bytes);
    for (const bool fromFile : {false, true}) {
        dbread::DnsHashImage image;
        std::string error;
        const bool open = fromFile ? dbread::OpenDnsHashFile(file.path, image, error)
                                   : dbread::OpenDnsHashBytes(bytes, image, error);
        if (!open) {
            Check(false, "DNSHASH.DAT: open", error);
            continue;
        }
        dbread::DnsHashSummary summary;
        Check(dbread::CheckDnsHash(image, summary, error) && summary.bucketsUsed == 1,
              "DNSHASH.DAT: whole-file check", error);
        dbread::DnsLookupResult result;
        Check(dbread::LookupDnsName(image, kHost, result, error) && result.found &&
                  result.bucket == kHostBucket && result.record.value == kHostAddress,
              "DNSHASH.DAT: a.example found", error);
        Check(dbread::DottedAddress(result.record.value) == "192.168.1.1",
              "DNSHASH.DAT: a.example address");
        Check(dbread::LookupDnsName(image, "b.example", result, error) && !result.found,
              "DNSHASH.DAT: b.example absent", error);
    }
    Check(dbread::HasDnsHashMagic(file.path), "DNSHASH.DAT: magic");
}

}  // namespace

int main() {
    CheckDatabase();
    CheckDnsHash();
    if (g_failures == 0) std::puts("dbread stands alone: every check passed");
    return g_failures == 0 ? 0 : 1;
}
