// Read-only access to a database file held in memory, for the filter, the inspector
// (veldana-db), tests and fuzzing: the header and table descriptors with the checks RdbOpen
// makes, and the two indexes as the filter reads them (the address index by bucket, the name
// index by binary search). Every offset, count and size taken from the bytes is checked
// against them before use, so any input is safe; a damaged file gives false /
// Lookup::kCorrupt and a reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbread/lookup.h"
#include "dbread/record_format.h"

namespace dbread {

struct DatabaseImage {
    std::span<const std::uint8_t> bytes;
    FileLayout layout;
    bool addressIndexBuilt = false;
    AddressIndexDescriptor addressIndex;
    std::uint32_t addressEntries = 0;  // E
    bool nameIndexBuilt = false;
    NameIndexDescriptor nameIndex;
};

// Checks the header, the table descriptors and the sections of the indexes marked built.
// `bytes` must outlive `image`.
bool OpenImage(std::span<const std::uint8_t> bytes, DatabaseImage& image, std::string& error);
bool LoadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

struct IndexPathItem {
    std::uint8_t kind = 0;  // 2, or 1 when the categories are 0
    std::uint16_t categories = 0;
    std::vector<std::uint8_t> key;
};

struct AddressEntry {
    std::uint32_t number = 0;  // entry number
    std::uint32_t address = 0;
    std::uint16_t categories = 0;
    std::uint32_t pathOffset = kNoIndexPath;
    std::uint8_t longestKey = 0;
    std::vector<IndexPathItem> items;
};

struct NameEntry {
    std::uint32_t position = 0;  // place in the sorted order
    std::uint32_t poolOffset = 0;
    std::vector<std::uint8_t> key;
    std::uint8_t flags = 0;  // low byte of the record's flags
    std::uint16_t categories = 0;
};

bool ReadAddressEntry(const DatabaseImage& image, std::uint32_t number, AddressEntry& entry,
                      std::string& error);

// The same entry where it lies, for a reader that must not allocate (the filter): its path
// data is checked to its closing 0 once, then taken item by item with NextIndexPathItem.
struct AddressEntryView {
    std::uint32_t number = 0;
    std::uint32_t address = 0;
    std::uint16_t categories = 0;
    std::uint32_t pathOffset = kNoIndexPath;
    std::uint8_t longestKey = 0;
    std::span<const std::uint8_t> items;  // the items' bytes, without the closing 0
};
struct PathItemView {
    std::uint8_t kind = 0;
    std::uint16_t categories = 0;
    std::span<const std::uint8_t> key;
};
bool ReadAddressEntryView(const DatabaseImage& image, std::uint32_t number,
                          AddressEntryView& entry, std::string& error);
// Takes the next item off the front of `rest`; false when none is left.
bool NextIndexPathItem(std::span<const std::uint8_t>& rest, PathItemView& item);
bool ReadNameEntry(const DatabaseImage& image, std::uint32_t position, NameEntry& entry,
                   std::string& error);

// The first entry of the address in its bucket (address mod 65521).
Lookup FindAddress(const DatabaseImage& image, std::uint32_t address, AddressEntry& entry,
                   std::string& error);
Lookup FindAddressView(const DatabaseImage& image, std::uint32_t address, AddressEntryView& entry,
                       std::string& error);
// Binary search of the sorted name index for a stored key.
Lookup FindName(const DatabaseImage& image, std::span<const std::uint8_t> key, NameEntry& entry,
                std::string& error);

// The two forms of a path key (see PathKeyForLevel for which level takes which): the
// lower-cased path text, and the running CRC-32 taken at every '/' (and at the end), 4
// bytes each. Both start after blanks and tabs and end at a byte of 32 or below or at ','.
std::vector<std::uint8_t> PathKeyText(std::string_view path);
std::vector<std::uint8_t> PathKeySegments(std::string_view path);
// The name-index keys under which a host or domain name and its parent domains are stored:
// labels reversed (www.example.com gives com, com.example, com.example.www); a name of
// dotted numbers keeps its order and gives its leading parts. Most specific first.
std::vector<std::string> DomainKeys(std::string_view name);

}  // namespace dbread
