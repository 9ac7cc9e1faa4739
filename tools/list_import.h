// Public blocklists turned into the console's four list files (VELDA.NOT, VELDA.YES,
// DNSRAW.NOT, DNSRAW.YES), for veldana-list import.
//
// Sources: a category tree (a folder per category holding "domains", one name per line, and
// "urls", one host/path per line) and plain lists (domain lists or hosts files) given with
// their category. A category map names the list bits each source category sets.
//
// Names become category values, not addresses: every distinct pair of restricted and
// approved bits, and every host that carries paths, gets a value of its own from the
// reserved block 240.0.0.0/4. The lists hold the values with their bits (and path items);
// the raw name lists hold every name with its value; a dotted IPv4 entry stands for itself.
// The filter looks a host and then its parent domains up in DNSHASH.DAT, so a listed name
// covers its subdomains, and a site on a shared address never blocks its neighbours.
//
// The readers take any bytes: what they cannot use is counted and reported with file and
// line, never a stop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace listimport {

enum class ListSide { kRestricted, kApproved };

// Which bits a source category sets: a restricted mask and an approved mask.
struct CategoryBits {
    std::uint16_t restricted = 0;
    std::uint16_t approved = 0;
};
using CategoryMap = std::map<std::string, CategoryBits>;

// The map file: one line per source category and bit, "NAME restricted|approved BIT"
// (BIT 0..15), '#' starting a comment; the lines of one name add up. Problems go to
// `problems` as "line N: ..."; false when there are any.
bool ParseCategoryMap(std::string_view text, CategoryMap& map, std::vector<std::string>& problems);
// The map that ships (docs/blocklist-import.md lists it).
std::string_view DefaultCategoryMap();

enum class NameVerdict { kHost, kAddress, kNotAHostName, kTooLong, kSkipped };
// A name as the import keeps it: lower case, a leading "*." or "www." and a trailing dot
// dropped, IDN labels (bytes of 128 and above, or xn--) kept as written. kAddress for a dotted
// IPv4 address (`address` set), kSkipped for the names of hosts files (localhost, ...),
// kTooLong for a name over the 63 bytes DNSHASH.DAT keeps.
NameVerdict NormaliseName(std::string_view raw, std::string& name, std::uint32_t& address);

// One usable entry of a source line: a name or address, with a path for a urls line.
struct SourceEntry {
    std::string name;
    std::uint32_t address = 0;  // when the entry is a dotted IPv4 address
    bool isAddress = false;
    std::string path;           // empty: the whole site
};
enum class LineKind { kDomains, kUrls };
// Reads one line of a domains file, a hosts file or a urls file (comments, blank lines and
// adblock-style "||name^" allowed). kHost/kAddress with the entry, or why it is left out.
NameVerdict ReadSourceLine(std::string_view line, LineKind kind, SourceEntry& entry);

struct CategoryCount {
    std::size_t read = 0;        // entries read for this category
    std::size_t kept = 0;        // entries that went into the lists
    std::size_t leftOut = 0;     // left out, for any reason
};

struct ImportSummary {
    std::map<std::string, CategoryCount> categories;
    std::map<std::string, std::size_t> leftOut;  // by reason
    std::vector<std::string> reports;            // "FILE:LINE: ..." (the first ones)
    std::size_t reportsDropped = 0;
    std::size_t names = 0, addresses = 0, pathHosts = 0, values = 0;
    std::size_t restrictedRecords = 0, approvedRecords = 0;
    std::size_t restrictedRawNames = 0, approvedRawNames = 0;
    bool partial() const { return !leftOut.empty() || !reports.empty(); }
};

struct ImportSource {
    enum Kind { kTree, kList } kind = kTree;
    std::string path;
    std::string category;  // for a plain list
};

// Reads every source, maps and merges them, and writes the four files into `outDir`, each
// replaced whole. `progress(done, total)` is told about the bytes read. False (with the
// reason in `error`) when nothing could be written; true with `summary.partial()` when
// something was left out.
bool Import(const std::vector<ImportSource>& sources, const CategoryMap& map,
            const std::string& outDir, ImportSummary& summary, std::string& error,
            const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});

// The address word of the n-th category value (n from 1): 240.0.0.0/4 counted up.
std::uint32_t CategoryValue(std::uint32_t n);

}  // namespace listimport
