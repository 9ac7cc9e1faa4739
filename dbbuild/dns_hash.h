// The DNS resolving database DNSHASH.DAT: a disk-resident hash table from host names to IPv4
// address words, read by the filter library, and its build from the administrator's sites
// (resolved through IPADDR.LST and the DNS client) and the raw name lists DNSRAW.NOT and
// DNSRAW.YES.
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
//
// Raw name lists: a 4-byte record count, then records of a length byte N (0 ends the list),
// N name bytes and a 4-byte value. IPDNSRAW.NOT and IPDNSRAW.YES, of the same format, are
// opened (denying writers) and closed unread: this build always follows VeldaYES.BIN.
//
// Contract:
//  - One build at a time; its state lives in DnsHash() from DnsHashCreate to DnsHashClose
//    and ResetDnsHash() drops it (closing the file unwritten) with a raw name pass, as a
//    fresh process has it. The file stays empty until DnsHashClose writes it whole.
//  - BuildDnsHash reads the raw lists on a helper thread (StartRawNamePass) into a table of
//    their own, which it puts behind the sites' records as if each name had been put after
//    them; the file is the same byte for byte. That table keeps where each record lies in
//    its list, not its name: names are compared, and written, by reading the lists again,
//    which stay open (denying writers) until the file is written. A list that can no longer
//    be read where it was fails the build. The helper touches nothing but that table and the
//    two lists; everything else stays on the calling thread. With many records DnsHashClose
//    writes the last part of them on a second thread.
//  - Operations return 1 for success and 0 for failure, DnsHashPut as described below.
//  - The build runs on the GUI thread; the resolver pumps window messages meanwhile.
//
// Where this build is stricter than a plain reading of the format would be:
//  - The bucket count is sized from the raw lists' record counts, which come from
//    downloaded files: each count is taken as at most (file size - 4) / 6 (the most
//    records of 6 bytes or more that the file can hold), and their sum as at most
//    kDnsMaxRawNames. Names beyond that still go in; their rings are only longer. Reading
//    stops at the file's end whatever the count says.
//  - The open build's table is held in memory (bucket heads, and per record its hash,
//    next index, value and name), and DnsHashClose writes the file sequentially:
//    a put then walks its ring in compact arrays instead of a record area of up to
//    hundreds of megabytes. DnsHashClose flushes the file to disk (the caller renames it
//    into place) and reports a failure of any write or of the flush, so BuildDnsHash
//    returns 0 for a file that was not written whole.
//  - A put that cannot get the memory for its record keeps nothing of its name.
//  - A ring walk is bounded by the record count.
//  - DnsHashCreate checks the bucket count (100 .. kDnsMaxBuckets, so that R fits in 32 bits)
//    before it touches the file. Names take at most 4 GB in all; a put beyond returns 0. A
//    build still open is dropped first.
//  - At most kDnsMaxRecords records; a put beyond returns 0.
//  - NextPrime(0) is 2 like NextPrime(1), and 0 means that no 32-bit prime is that large.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace dbbuild {

constexpr std::uint16_t kDnsHashMagic = 0x7472;
constexpr std::uint16_t kDnsRecordSize = 76;
constexpr std::uint32_t kDnsTableOffset = 512;
constexpr std::size_t kDnsHeaderSize = 24;
constexpr std::size_t kDnsMaxName = 63;
constexpr std::uint32_t kDnsNoRecord = 0xFFFFFFFF;  // an empty bucket
constexpr std::uint32_t kDnsMinBuckets = 100;
constexpr std::uint32_t kDnsMaxBuckets = (0xFFFFFFFFu - 1023) / 4;  // the largest B whose R fits
constexpr std::uint32_t kDnsSiteSlots = 2048;  // four blocks of 512 site entries
constexpr std::uint32_t kDnsMaxRawNames = 1u << 24;
constexpr std::uint32_t kDnsMaxRecords = 0x7FFFFFFE;

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

// The smallest prime not below n.
std::uint32_t NextPrime(std::uint32_t n);

// The open build.
struct DnsHashState {
    platform::FileHandle file;
    DnsHashHeader header;  // name bytes and record count as they grow
    bool open = false;
};
DnsHashState& DnsHash();
void ResetDnsHash();

// Creates (truncating) the file at `path` and starts an empty table of `bucketCount` buckets.
int DnsHashCreate(const std::string& path, std::uint32_t bucketCount);
// Inserts a name (its first 63 bytes) with *value (0 without a value): index + 1 of the new
// record; -(index + 1) when the name is present already, its stored value then put into
// *value and the record left as it was; 0 for an empty name, without an open build, or on
// an I/O failure (nothing of the name is then kept).
int DnsHashPut(std::string_view name, std::uint32_t* value);
// Writes the final header and closes the file (closed in every case).
int DnsHashClose();

// One block of site entries of the site list image: `count` slots of `slotSize` bytes from
// `namesOffset`, up to the first empty one. A slot naming an existing file gives one site
// per line of that file (up to its first empty line); any other text is a site of its own,
// without a scheme, cut to slotSize - 1 characters and lower-cased.
void HashSiteBlock(std::size_t namesOffset, int count, std::size_t slotSize);
// Resolves a site text (IPADDR.LST first, then the DNS client) and puts its host, without a
// leading "www.", with each address found: the first address is the one kept.
void HashSite(std::string_view siteText);

// Starts reading DNSRAW.NOT and DNSRAW.YES (opened here, denying writers) into a table of
// their own on a helper thread, for the next BuildDnsHash: a rebuild starts it before its
// databases so that the two overlap. A pass already started is dropped first.
void StartRawNamePass();
// Stops and drops a pass that BuildDnsHash did not take, closing its lists.
void DropRawNamePass();

// Builds DNSHASH.DAT at `path` (the caller's temporary name) from the sites of the site list
// image and the raw name lists, showing the progress window meanwhile (the one the caller
// opened, or its own) and closing it at the end. 1 when the file was completed, else 0.
int BuildDnsHash(const std::string& path);

}  // namespace dbbuild
