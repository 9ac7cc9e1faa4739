// Record file engine: the file format of the filter databases (VeldaNOT.BIN, VeldaYES.BIN,
// NoneNOT.BIN, NoneYES.BIN) and the operations that build one.
//
// A file holds a hashed address table (18-byte records, with a path data area of chained
// path blocks), a hashed name table (78-byte records), an alias table of address pairs, and
// two read-only indexes that RdbBuildIndexes appends behind the table area. The filter
// library reads these files, so the byte layout is fixed; every integer is little-endian.
//
// Contract:
//  - One file is open at a time and the engine's state is global; ResetRecordFile() drops
//    it (closing the descriptor without writing), as a fresh process would have it.
//  - Operations return 1 on success and 0 on failure; RdbPutName returns 2 when an
//    identical record already exists. A failed low-level call leaves its cause in
//    RdbLastError(): an errno value, or 1 for a failed or short read or write.
//  - Every insert writes the records it touches and the table descriptor at once, through a
//    shared mapping of the table area (so another reader of the file sees it at once); the
//    alias pairs and the header reach the file at RdbClose (the header also at the end of
//    an index build), and the indexes at RdbBuildIndexes, through the file layer. A file
//    whose table area cannot be mapped is not opened. In a file that RdbCreate made, the
//    record and path areas are written with zeros just ahead of the inserts that reach
//    them, so that the mapping never touches a hole.
//  - The index build's buffers (a few megabytes at full capacity) and the alias maps are
//    kept from one file to the next, for the four builds of a rebuild; ResetRecordFile()
//    frees them.
//  - RdbOpen refuses a file whose header or table descriptors do not describe this format,
//    or whose offsets, counts and sizes do not fit inside the file's real size.
//  - Limits, each failing the operation that reaches it (result 0) without changing the
//    file: RdbCreate takes at most 98304 address records (the address index holds 98304
//    entries) and 65535 name records (the name index counts in 16 bits). RdbAddAlias
//    refuses a pair beyond min(65535, address capacity): the header counts pairs in 16 bits
//    and the file's alias area holds one pair per address record. RdbBuildIndexes fails
//    when the address index's path section (its 256 reserved bytes, the entries' path data
//    and the 2 closing bytes) would exceed its 3 MB buffer; truncating path data instead
//    would silently widen an entry to its whole site. A failed build leaves the header's
//    "built" marks at 0 for what was not written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbbuild {

// Record flags.
constexpr std::uint16_t kFlagOpposite = 0x0002;        // approved-list entry / opposite sense
constexpr std::uint16_t kFlagRemoved = 0x0010;         // left out of the indexes
constexpr std::uint16_t kFlagWholeSite = 0x0020;       // path data left out of the index
constexpr std::uint16_t kFlagApprovedDomain = 0x0080;  // administrator's approved domain
constexpr std::uint16_t kFlagAdminOpposite = 0x0100;   // administrator's entry, opposite sense
constexpr std::uint16_t kFlagHidden = 0x8000;          // left out of the indexes

// The parameters every database build passes to RdbCreate.
constexpr std::uint32_t kBuildPathDataSize = 0x400000;
constexpr std::uint32_t kBuildAddressCapacity = 0x18000;
constexpr std::uint32_t kBuildNameCapacity = 1000;

constexpr std::size_t kHeaderSize = 80;
constexpr std::size_t kTableDescriptorSize = 78;
constexpr std::size_t kAddressIndexDescriptorSize = 34;
constexpr std::size_t kNameIndexDescriptorSize = 30;
constexpr std::uint32_t kHeaderBlockSize = 512;
constexpr std::size_t kAddressRecordSize = 18;
constexpr std::size_t kNameRecordSize = 78;
constexpr std::size_t kPathBlockHeadSize = 16;
constexpr std::size_t kMaxNameKeyLength = 63;
constexpr std::uint32_t kMaxAddressCapacity = 98304;
constexpr std::uint32_t kMaxNameCapacity = 65535;
constexpr std::uint32_t kMaxAliasPairs = 65535;
constexpr std::uint32_t kMaxIndexEntries = 98304;
constexpr std::uint32_t kIndexBucketCount = 65521;
constexpr std::uint32_t kIndexPathBufferSize = 3 * 1024 * 1024;
constexpr std::uint32_t kIndexPathReserved = 256;  // path offsets below this are not data
constexpr std::uint32_t kNoIndexPath = 1;          // path offset of an entry without paths

// ---- Engine ----

int RdbCreate(const std::string& path, std::uint32_t pathDataSize, std::uint32_t addressCapacity,
              std::uint32_t nameCapacity);
int RdbOpen(const std::string& path);
int RdbClose();
// `block` is a path block (16-byte head and items; see AddPathItem) or empty for none. The
// engine fills in the block's owner and chain fields in its own copy.
int RdbPutAddress(std::uint32_t address, std::uint16_t categories, std::uint16_t flags,
                  std::span<const std::uint8_t> block = {});
int RdbPutName(std::string_view name, std::uint16_t categories, std::uint16_t flags);
int RdbAddAlias(std::uint32_t canonical, std::uint32_t alias);
// Only index number 0 exists.
int RdbBuildIndexes(int indexNumber, std::uint16_t mask);

int RdbLastError();
bool RdbIsOpen();
void ResetRecordFile();
// Replaces the clock (seconds since 1970) the engine takes its time stamps from; nullptr
// restores the system clock. For tests that compare whole files.
void SetRecordFileClock(std::uint32_t (*clock)());

// ---- Keys and path blocks ----

struct NameKey {
    std::vector<std::uint8_t> bytes;  // at most 63
    std::uint32_t hash = 0;
};
// The key RdbPutName stores for a name: leading bytes 1..32 skipped, then the bytes above
// 32 (at most 63) OR-ed with 0x20; with kFlagOpposite a 0xFF lead byte and at most 62
// more. The hash is (hash rotated left by 5) + byte over the stored bytes.
NameKey MakeNameKey(std::string_view name, std::uint16_t flags);
std::uint16_t AddressBucket(std::uint32_t address);       // table bucket: mod 524287, low 16 bits
std::uint32_t AddressIndexBucket(std::uint32_t address);  // index bucket: mod 65521

// Appends one item (categories, key of at most 252 bytes) to a path block, starting the
// block's head when `block` is empty; false (block unchanged) when the item does not fit.
bool AddPathItem(std::vector<std::uint8_t>& block, std::uint16_t categories,
                 std::span<const std::uint8_t> key);

// ---- Layout as stored ----

struct FileHeader {
    std::array<char, 2> magic{};
    std::uint16_t version = 0;
    std::uint16_t field4 = 0;
    std::uint16_t handle = 0;
    std::uint32_t created = 0;
    std::uint32_t created2 = 0;
    std::uint32_t headerBlockSize = 0;
    std::uint32_t field20 = 0;
    std::uint32_t tableAreaEnd = 0;
    std::uint16_t field40 = 0;
    std::uint16_t tableCount = 0;
    std::uint16_t field44 = 0;
    std::uint32_t tableDescriptorOffset = 0;
    std::uint16_t addressIndexBuilt = 0;
    std::uint16_t addressIndexCount = 0;
    std::uint32_t addressIndexDescriptorOffset = 0;
    std::uint16_t nameIndexBuilt = 0;
    std::uint16_t nameIndexCount = 0;
    std::uint32_t nameIndexDescriptorOffset = 0;
    std::uint16_t aliasCount = 0;
    std::uint32_t aliasOffset = 0;
};

struct TableDescriptor {
    std::uint8_t kind = 0;
    std::uint8_t number = 0;
    std::uint16_t size = 0;
    std::uint32_t stamp = 0;
    std::uint32_t bucketOffset = 0;
    std::uint32_t recordOffset = 0;
    std::uint32_t recordAreaSize = 0;
    std::uint32_t nextSlotOffset = 0;
    std::uint32_t recordAreaSize2 = 0;
    std::uint32_t capacity = 0;
    std::uint32_t inUse = 0;
    std::uint32_t unusedLeft = 0;
    std::uint32_t nextUnused = 0;
    std::uint32_t freeListLength = 0;
    std::uint32_t freeListHead = 0;
    std::uint32_t pathOffset = 0;
    std::uint32_t pathSize = 0;
    std::uint32_t pathUsed = 0;
    std::uint32_t pathFree = 0;
    std::uint16_t recordSize = 0;
    std::uint16_t keyOffset = 0;
    std::uint16_t keySize = 0;
};

struct AddressIndexDescriptor {
    std::uint8_t kind = 0;
    std::uint8_t number = 0;
    std::uint16_t size = 0;
    std::uint16_t mask = 0;
    std::uint32_t bucketOffset = 0;
    std::uint32_t bucketSize = 0;
    std::uint32_t keyOffset = 0;
    std::uint32_t keySize = 0;
    std::uint32_t pathOffset = 0;
    std::uint32_t pathSize = 0;
};

struct NameIndexDescriptor {
    std::uint8_t kind = 0;
    std::uint8_t number = 0;
    std::uint16_t size = 0;
    std::uint16_t mask = 0;
    std::uint16_t count = 0;
    std::uint32_t offset = 0;
    std::uint32_t sectionSize = 0;
};

FileHeader DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes);
TableDescriptor DecodeTableDescriptor(std::span<const std::uint8_t, kTableDescriptorSize> bytes);
AddressIndexDescriptor DecodeAddressIndexDescriptor(
    std::span<const std::uint8_t, kAddressIndexDescriptorSize> bytes);
NameIndexDescriptor DecodeNameIndexDescriptor(
    std::span<const std::uint8_t, kNameIndexDescriptorSize> bytes);

struct FileLayout {
    FileHeader header;
    TableDescriptor address;
    TableDescriptor name;
    std::uint32_t addressDescriptorOffset = 0;
    std::uint32_t nameDescriptorOffset = 0;
};

// The checks RdbOpen makes, in two steps as it reads: the header alone (magic, version,
// descriptor count and place), then the two table descriptors read from the header's
// descriptor offset, every area checked against the table area and the file's size.
// False with the reason in `why` when the file is not a usable database.
bool CheckHeader(const FileHeader& header, std::uint64_t fileSize, std::string& why);
bool CheckTables(const FileHeader& header,
                 std::span<const std::uint8_t, 2 * kTableDescriptorSize> descriptors,
                 std::uint64_t fileSize, FileLayout& layout, std::string& why);

}  // namespace dbbuild
