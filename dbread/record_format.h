// The file format of the filter databases (VeldaNOT.BIN, VeldaYES.BIN, NoneNOT.BIN,
// NoneYES.BIN): the fixed layout of the header and the descriptors, the keys records are
// stored under, and the checks that tell a usable file from a damaged or foreign one.
//
// A file holds a hashed address table (18-byte records, with a path data area of chained
// path blocks), a hashed name table (78-byte records), an alias table of address pairs, and
// two read-only indexes behind the table area: the address index (buckets by address mod
// 65521, keys, path data) and the name index (sorted offsets into a pool of names). The
// filter reads these files, so the byte layout is fixed; every integer is little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbread {

// Record flags.
constexpr std::uint16_t kFlagOpposite = 0x0002;        // approved-list entry / opposite sense
constexpr std::uint16_t kFlagRemoved = 0x0010;         // left out of the indexes
constexpr std::uint16_t kFlagWholeSite = 0x0020;       // path data left out of the index
constexpr std::uint16_t kFlagApprovedDomain = 0x0080;  // administrator's approved domain
constexpr std::uint16_t kFlagAdminOpposite = 0x0100;   // administrator's entry, opposite sense
constexpr std::uint16_t kFlagHidden = 0x8000;          // left out of the indexes

constexpr std::size_t kHeaderSize = 80;
constexpr std::size_t kTableDescriptorSize = 78;
constexpr std::size_t kAddressIndexDescriptorSize = 34;
constexpr std::size_t kNameIndexDescriptorSize = 30;
constexpr std::uint32_t kHeaderBlockSize = 512;
constexpr std::size_t kAddressRecordSize = 18;
constexpr std::size_t kNameRecordSize = 78;
constexpr std::size_t kMaxNameKeyLength = 63;
constexpr std::uint32_t kUsedBuckets = 65536;  // table bucket numbers are 16 bits wide
constexpr std::uint32_t kMaxAddressCapacity = 98304;
constexpr std::uint32_t kMaxNameCapacity = 65535;
constexpr std::uint32_t kMaxAliasPairs = 65535;
constexpr std::uint32_t kMaxIndexEntries = 98304;
constexpr std::uint32_t kIndexBucketCount = 65521;
constexpr std::uint32_t kIndexPathReserved = 256;  // path offsets below this are not data
constexpr std::uint32_t kNoIndexPath = 1;          // path offset of an entry without paths

// Byte offsets of the fields of the header and of the descriptors.
namespace fields {
// Header.
constexpr std::size_t kHMagic = 0, kHVersion = 2, kHField4 = 4, kHHandle = 6, kHCreated = 8,
                      kHCreated2 = 12, kHBlockSize = 16, kHField20 = 20, kHTableEnd = 24,
                      kHField40 = 40, kHTableCount = 42, kHField44 = 44, kHTableDesc = 46,
                      kHAddrBuilt = 50, kHAddrCount = 52, kHAddrDesc = 54, kHNameBuilt = 58,
                      kHNameCount = 60, kHNameDesc = 62, kHAliasCount = 74, kHAliasOffset = 76;
// Table descriptor.
constexpr std::size_t kDKind = 0, kDNumber = 1, kDSize = 2, kDStamp = 4, kDBuckets = 8,
                      kDRecords = 12, kDRecordBytes = 16, kDNextSlotOffset = 20,
                      kDRecordBytes2 = 24, kDCapacity = 28, kDInUse = 32, kDUnusedLeft = 36,
                      kDNextUnused = 40, kDFreeLength = 44, kDFreeHead = 48, kDPathOffset = 52,
                      kDPathSize = 56, kDPathUsed = 60, kDPathFree = 64, kDRecordSize = 70,
                      kDKeyOffset = 74, kDKeySize = 76;
// Index descriptors (address index, then the name index's own fields).
constexpr std::size_t kIMask = 8, kIBucketOff = 10, kIBucketSize = 14, kIKeyOff = 18,
                      kIKeySize = 22, kIPathOff = 26, kIPathSize = 30, kINameCount = 20,
                      kINameOff = 22, kINameSize = 26;
}  // namespace fields

// ---- Keys ----

struct NameKey {
    std::vector<std::uint8_t> bytes;  // at most 63
    std::uint32_t hash = 0;
};
// The key a name is stored under: leading bytes 1..32 skipped, then the bytes above 32 (at
// most 63) OR-ed with 0x20; with kFlagOpposite a 0xFF lead byte and at most 62 more. The
// hash is (hash rotated left by 5) + byte over the stored bytes.
NameKey MakeNameKey(std::string_view name, std::uint16_t flags);

// Table bucket: address mod 524287, low 16 bits.
constexpr std::uint16_t AddressBucket(std::uint32_t address) {
    return static_cast<std::uint16_t>(address % 524287);
}
// Index bucket: address mod 65521.
constexpr std::uint32_t AddressIndexBucket(std::uint32_t address) {
    return address % kIndexBucketCount;
}

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

// The checks every opener makes, in two steps as it reads: the header alone (magic, version,
// descriptor count and place), then the two table descriptors read from the header's
// descriptor offset, every area checked against the table area and the file's size.
// False with the reason in `why` when the file is not a usable database.
bool CheckHeader(const FileHeader& header, std::uint64_t fileSize, std::string& why);
bool CheckTables(const FileHeader& header,
                 std::span<const std::uint8_t, 2 * kTableDescriptorSize> descriptors,
                 std::uint64_t fileSize, FileLayout& layout, std::string& why);

}  // namespace dbread
