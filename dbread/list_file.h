// Category list files (VELDA.NOT, the restricted list, and VELDA.YES, the approved list):
// their layouts, the checks every reader makes, and the writer that veldana-list uses.
//
// On disk a list is scrambled with ScrambleSiteList over its whole length (the transform of
// USER.LST); everything here works on the unscrambled content. Two layouts, told apart by
// the first byte b:
//  - extended (b = 0xFC): 2 bytes header size (> 12) at 2, family letter at 4 ('C', 'H',
//    'L'), kind letter at 5 ('N' = level 2, 'H' = level 3), flags at 6 (bits 1 and 2 clear;
//    bit 0 set on an approved list), directory count (> 0) at 12, then 10-byte directory
//    entries: letter, 1 byte unused, 4 bytes section offset, 4 bytes section length. A
//    section counts only when it starts with "SD" and ends with "ED"; its content lies
//    between them. 'I' addresses, 'L' site-block addresses, 'A' aliases, 'N' names; a later
//    entry with the same letter replaces an earlier one; other letters are ignored.
//  - level 1 (b AND 0xEF is 0xEB, 0xEE, or 0xEA unless the file is named "VELDA.NOT"):
//    16-bit length n at 1, the address section from 3 (n bytes when bit 4 of b is set, else
//    n + 65536), the name section behind it to the end of the file. 0xEB reports an
//    approved list, the others a restricted one.
// Address records: 4 bytes address, 2 bytes category bits; bits 0 mean path items follow,
// each 1 byte L (its size with its 3-byte head), 2 bytes category bits, L - 3 key bytes,
// ended by a byte 0 or the section's end. Alias entries: 4 bytes canonical address, 1 byte
// count n, n × 4 bytes aliases; a canonical address 0 ends the section.
//
// Safety contract: every offset, length and count taken from a list is checked against the
// bytes that are there before it is used. A list in which anything points outside the file
// or outside its section (a directory entry, a section, a record cut short by the section's
// end, a path item running past it or shorter than its own head, an alias count running
// past it), or a record whose items would not fit one path block of the record file
// engine, is refused as a whole: ReadListLayout gives false with the reason. A list is
// therefore either used completely or not at all, and the walkers below never meet a
// fault in a list that passed the check.
//
// Name sections are not read by the console. veldana-list writes names as records of
// 1 byte length N (1..255) and N bytes, a length byte 0 ending them; a name section in any
// other form is reported as unreadable, which does not make the list invalid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbread {

constexpr std::size_t kMinListFileSize = 8;
// The whole file is held in memory; a longer file is refused.
constexpr std::size_t kMaxListFileSize = 1048576;
constexpr std::uint8_t kExtendedListMark = 0xFC;
constexpr std::size_t kListDirectoryOffset = 14;
constexpr std::size_t kListDirectoryEntrySize = 10;
constexpr std::size_t kListRecordHeadSize = 6;  // address and category bits
constexpr std::size_t kListItemHeadSize = 3;    // L and category bits
constexpr std::size_t kMaxListItemKey = 252;    // L is one byte
// The items of one record go into one engine path block (16-byte head, 16-bit length).
constexpr std::size_t kMaxListRecordItemBytes = 0xFFFF - 16;

// The list-kind set: one bit per family and kind letter.
//   'C': 'N' 1, 'H' 8    'H': 'N' 64, 'H' 16    'L': 'N' 128, 'H' 32
unsigned ListKindBit(char family, char kind);  // 0 for any other pair
constexpr unsigned kBuildListKinds = 9;        // what the database build accepts
constexpr unsigned kAnyListKind = 0xF9;

// Report values.
constexpr int kRestrictedList = 1;
constexpr int kApprovedList = 2;

// A section's content (its markers excluded), as offsets into the content.
struct ListSpan {
    std::size_t offset = 0;
    std::size_t size = 0;
};

struct ListDirectoryEntry {
    char letter = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    bool marked = false;  // "SD" ... "ED"
};

struct ListLayout {
    int level = 0;   // 1, 2 or 3
    int report = 0;  // kRestrictedList or kApprovedList
    bool extended = false;
    std::uint8_t firstByte = 0;
    char family = 0, kind = 0;  // extended layout only
    std::uint8_t flags = 0;
    unsigned kindBit = 0;
    std::vector<ListDirectoryEntry> directory;
    ListSpan addresses, siteBlocks, aliases, names;
    std::size_t addressRecords = 0, siteBlockRecords = 0, aliasPairs = 0;
};

// Checks a whole list (header, directory, and every record of the sections used) and
// describes it. `fileName` is the name the list is installed under (for the "VELDA.NOT"
// rule of level 1); `acceptedSet` the list kinds accepted for the extended layout. False
// with the reason in `why` when the list is invalid or damaged.
bool ReadListLayout(std::string_view fileName, std::span<const std::uint8_t> content,
                    unsigned acceptedSet, ListLayout& layout, std::string& why);

std::span<const std::uint8_t> SectionBytes(std::span<const std::uint8_t> content, ListSpan span);

// ---- Walking the sections ----

enum class ListRead { kEntry, kEnd, kCorrupt };

struct ListRecord {
    std::uint32_t address = 0;
    std::uint16_t categories = 0;         // as stored: 0 when path items follow
    std::span<const std::uint8_t> items;  // the items' bytes, without the ending 0
};
// Reads the record at `pos` of an address section and moves `pos` behind it (and behind
// its ending 0). kEnd at the section's end; kCorrupt (pos unchanged, reason in `why`) when
// the record or one of its items does not fit.
ListRead ReadListRecord(std::span<const std::uint8_t> section, std::size_t& pos, ListRecord& record,
                        std::string& why);

struct ListPathItem {
    std::uint16_t categories = 0;
    std::span<const std::uint8_t> key;
};
// The next item of a record that ReadListRecord gave; false after the last.
bool NextPathItem(std::span<const std::uint8_t> items, std::size_t& pos, ListPathItem& item);

struct ListAlias {
    std::uint32_t canonical = 0;
    std::span<const std::uint8_t> aliases;  // count × 4 bytes
};
// Reads the entry at `pos` of an alias section. kEnd at the section's end or at a
// canonical address 0.
ListRead ReadListAlias(std::span<const std::uint8_t> section, std::size_t& pos, ListAlias& alias,
                       std::string& why);
std::uint32_t ListAliasAt(const ListAlias& alias, std::size_t i);

// ---- Whole lists, for veldana-list, tests and benchmarks ----

struct ListItemData {
    std::uint16_t categories = 0;
    std::vector<std::uint8_t> key;  // at most kMaxListItemKey bytes
    bool operator==(const ListItemData&) const = default;
};
struct ListRecordData {
    std::uint32_t address = 0;
    std::uint16_t categories = 0;  // written only when there are no items
    std::vector<ListItemData> items;
    bool operator==(const ListRecordData&) const = default;
};
struct ListAliasData {
    std::uint32_t canonical = 0;
    std::vector<std::uint32_t> aliases;
    bool operator==(const ListAliasData&) const = default;
};
struct ListContent {
    int level = 3;
    bool approved = false;
    std::vector<ListRecordData> addresses;
    std::vector<ListRecordData> siteBlocks;  // levels 2 and 3
    std::vector<ListAliasData> aliases;      // levels 2 and 3
    std::vector<std::string> names;
    bool namesReadable = true;  // false when a read list's name section has another form
    bool operator==(const ListContent&) const = default;
};

// Lays a list out as unscrambled content: level 1 in the short layout (first byte 0xFE or
// 0xEE restricted, 0xFB or 0xEB approved), levels 2 and 3 in the extended layout with
// family 'C'. Alias entries of more than 255 aliases are split. False with the reason when
// the list cannot be written: level 1 with site blocks or aliases, a record whose items do
// not fit, a key over 252 bytes, a canonical address 0, a name over 255 bytes, a level 1
// address section over 131071 bytes, or a file over kMaxListFileSize.
bool EncodeListFile(const ListContent& list, std::vector<std::uint8_t>& content, std::string& why);
// Checks a list as ReadListLayout does and reads every section into `list`.
bool DecodeListFile(std::string_view fileName, std::span<const std::uint8_t> content,
                    unsigned acceptedSet, ListContent& list, ListLayout& layout, std::string& why);

// The path key of a URL path for a format level: level 3 the running CRC-32 (reflected
// IEEE 802.3 table, starting at 0, never reset, no final inversion, 'A'..'Z' as lower
// case) appended as 4 little-endian bytes at every '/' and once at the end when bytes
// followed the last '/', one leading '/' dropped, at most 4096 bytes; other levels the
// path bytes OR-ed with 0x20. The path starts after blanks and tabs and ends at a byte of
// 32 or below or at ','.
std::vector<std::uint8_t> PathKeyForLevel(int level, std::string_view text);

}  // namespace dbread
