// The DNS resolving database DNSHASH.DAT: a disk-resident hash table from host names to IPv4
// address words, read by the filter library, and its build from the administrator's sites
// (resolved by the caller's resolver: the console's reads IPADDR.LST, then asks DNS) and the
// raw name lists DNSRAW.NOT and
// DNSRAW.YES.
//
// The file's layout, its hash and its rings are described in dbread/dns_hash_format.h.
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

#include "dbread/dns_hash_format.h"
#include "platform/files.h"
#include "sitelists/site_entries.h"

namespace dbbuild {

// The build writes the format that dbread reads: its names, used here as the build's own.
using dbread::DnsHashHeader;
using dbread::DnsNameHash;
using dbread::DnsNameRecord;
using dbread::DnsRecordAreaOffset;
using dbread::EncodeDnsHashHeader;
using dbread::EncodeDnsNameRecord;
using dbread::kDnsHeaderSize;
using dbread::kDnsMaxBuckets;
using dbread::kDnsMaxName;
using dbread::kDnsMinBuckets;
using dbread::kDnsNoRecord;
using dbread::kDnsRecordSize;
using dbread::kDnsTableOffset;

constexpr std::uint32_t kDnsSiteSlots = 2048;  // four blocks of 512 site entries
constexpr std::uint32_t kDnsMaxRawNames = 1u << 24;
constexpr std::uint32_t kDnsMaxRecords = 0x7FFFFFFE;

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

// The site entries of the site list image (sitelists/site_entries.h): approved sites, then
// restricted ones, each block up to its first empty slot. A slot's own text is a site
// without its scheme, lower-cased; each line of a file a slot names is a site as it stands.
void HashSites(const sitelists::SiteResolver& resolve);
// Resolves a site text with `resolve` and puts its host, without a leading "www.", with
// each address found: the first address is the one kept.
void HashSite(std::string_view siteText, const sitelists::SiteResolver& resolve);

// Starts reading DNSRAW.NOT and DNSRAW.YES (opened here, denying writers) into a table of
// their own on a helper thread, for the next BuildDnsHash: a rebuild starts it before its
// databases so that the two overlap. A pass already started is dropped first.
void StartRawNamePass();
// Stops and drops a pass that BuildDnsHash did not take, closing its lists.
void DropRawNamePass();

// Builds DNSHASH.DAT at `path` (the caller's temporary name) from the sites of the site list
// image, resolved with `resolve`, and the raw name lists, showing the progress window
// meanwhile (the one the caller opened, or its own) and closing it at the end. 1 when the
// file was completed, else 0.
int BuildDnsHash(const std::string& path, const sitelists::SiteResolver& resolve);

}  // namespace dbbuild
