#include "dbread/record_format.h"

#include <algorithm>
#include <iterator>

#include "dbread/bytes.h"

namespace dbread {

using namespace fields;

// ---- Keys ----

NameKey MakeNameKey(std::string_view name, std::uint16_t flags) {
    NameKey key;
    std::size_t limit = kMaxNameKeyLength;
    if (flags & kFlagOpposite) {
        key.bytes.push_back(0xFF);
        limit -= 1;
    }
    std::size_t i = 0;
    while (i < name.size() && static_cast<std::uint8_t>(name[i]) >= 1 &&
           static_cast<std::uint8_t>(name[i]) <= 32)
        ++i;
    for (std::size_t taken = 0; i < name.size() && taken < limit; ++i, ++taken) {
        const std::uint8_t c = static_cast<std::uint8_t>(name[i]);
        if (c <= 32) break;
        key.bytes.push_back(c | 0x20);
    }
    for (std::uint8_t c : key.bytes) key.hash = ((key.hash << 5) | (key.hash >> 27)) + c;
    return key;
}

// ---- Layout ----

FileHeader DecodeHeader(std::span<const std::uint8_t, kHeaderSize> b) {
    FileHeader h;
    h.magic = {static_cast<char>(b[0]), static_cast<char>(b[1])};
    h.version = Get16(b, kHVersion);
    h.field4 = Get16(b, kHField4);
    h.handle = Get16(b, kHHandle);
    h.created = Get32(b, kHCreated);
    h.created2 = Get32(b, kHCreated2);
    h.headerBlockSize = Get32(b, kHBlockSize);
    h.field20 = Get32(b, kHField20);
    h.tableAreaEnd = Get32(b, kHTableEnd);
    h.field40 = Get16(b, kHField40);
    h.tableCount = Get16(b, kHTableCount);
    h.field44 = Get16(b, kHField44);
    h.tableDescriptorOffset = Get32(b, kHTableDesc);
    h.addressIndexBuilt = Get16(b, kHAddrBuilt);
    h.addressIndexCount = Get16(b, kHAddrCount);
    h.addressIndexDescriptorOffset = Get32(b, kHAddrDesc);
    h.nameIndexBuilt = Get16(b, kHNameBuilt);
    h.nameIndexCount = Get16(b, kHNameCount);
    h.nameIndexDescriptorOffset = Get32(b, kHNameDesc);
    h.aliasCount = Get16(b, kHAliasCount);
    h.aliasOffset = Get32(b, kHAliasOffset);
    return h;
}

TableDescriptor DecodeTableDescriptor(std::span<const std::uint8_t, kTableDescriptorSize> b) {
    TableDescriptor d;
    d.kind = b[kDKind];
    d.number = b[kDNumber];
    d.size = Get16(b, kDSize);
    d.stamp = Get32(b, kDStamp);
    d.bucketOffset = Get32(b, kDBuckets);
    d.recordOffset = Get32(b, kDRecords);
    d.recordAreaSize = Get32(b, kDRecordBytes);
    d.nextSlotOffset = Get32(b, kDNextSlotOffset);
    d.recordAreaSize2 = Get32(b, kDRecordBytes2);
    d.capacity = Get32(b, kDCapacity);
    d.inUse = Get32(b, kDInUse);
    d.unusedLeft = Get32(b, kDUnusedLeft);
    d.nextUnused = Get32(b, kDNextUnused);
    d.freeListLength = Get32(b, kDFreeLength);
    d.freeListHead = Get32(b, kDFreeHead);
    d.pathOffset = Get32(b, kDPathOffset);
    d.pathSize = Get32(b, kDPathSize);
    d.pathUsed = Get32(b, kDPathUsed);
    d.pathFree = Get32(b, kDPathFree);
    d.recordSize = Get16(b, kDRecordSize);
    d.keyOffset = Get16(b, kDKeyOffset);
    d.keySize = Get16(b, kDKeySize);
    return d;
}

AddressIndexDescriptor DecodeAddressIndexDescriptor(
    std::span<const std::uint8_t, kAddressIndexDescriptorSize> b) {
    AddressIndexDescriptor d;
    d.kind = b[0];
    d.number = b[1];
    d.size = Get16(b, 2);
    d.mask = Get16(b, kIMask);
    d.bucketOffset = Get32(b, kIBucketOff);
    d.bucketSize = Get32(b, kIBucketSize);
    d.keyOffset = Get32(b, kIKeyOff);
    d.keySize = Get32(b, kIKeySize);
    d.pathOffset = Get32(b, kIPathOff);
    d.pathSize = Get32(b, kIPathSize);
    return d;
}

NameIndexDescriptor DecodeNameIndexDescriptor(
    std::span<const std::uint8_t, kNameIndexDescriptorSize> b) {
    NameIndexDescriptor d;
    d.kind = b[0];
    d.number = b[1];
    d.size = Get16(b, 2);
    d.mask = Get16(b, kIMask);
    d.count = Get16(b, kINameCount);
    d.offset = Get32(b, kINameOff);
    d.sectionSize = Get32(b, kINameSize);
    return d;
}

bool CheckHeader(const FileHeader& h, std::uint64_t fileSize, std::string& why) {
    if (h.magic[0] != 'V' || h.magic[1] != 'D') {
        why = "not a database file (no \"VD\" magic)";
    } else if (h.version != 0x0100) {
        why = "unknown format version";
    } else if (h.tableCount < 2) {
        why = "fewer than two table descriptors";
    } else if (h.tableDescriptorOffset < kHeaderSize ||
               std::uint64_t{h.tableDescriptorOffset} + 2 * kTableDescriptorSize >
                   std::min<std::uint64_t>(fileSize, kHeaderBlockSize)) {
        why = "table descriptors outside the header block";
    } else {
        return true;
    }
    return false;
}

bool CheckTables(const FileHeader& h,
                 std::span<const std::uint8_t, 2 * kTableDescriptorSize> descriptors,
                 std::uint64_t fileSize, FileLayout& layout, std::string& why) {
    layout = FileLayout{};
    layout.header = h;
    bool seen[2] = {false, false};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto d = DecodeTableDescriptor(
            descriptors.subspan(i * kTableDescriptorSize).first<kTableDescriptorSize>());
        if ((d.kind & 0x3F) != 3 || (d.number != 1 && d.number != 2)) {
            why = "a table descriptor of the wrong kind";
            return false;
        }
        const std::uint32_t offset =
            h.tableDescriptorOffset + static_cast<std::uint32_t>(i * kTableDescriptorSize);
        seen[d.number - 1] = true;
        if (d.number == 1) {
            layout.address = d;
            layout.addressDescriptorOffset = offset;
        } else {
            layout.name = d;
            layout.nameDescriptorOffset = offset;
        }
    }
    if (!seen[0] || !seen[1]) {
        why = "the address table or the name table is missing";
        return false;
    }

    const std::uint64_t end = h.tableAreaEnd;
    if (end < kHeaderBlockSize || end > fileSize) {
        why = "the table area runs past the end of the file";
        return false;
    }
    // An area [offset, offset + size) must lie between the header block and the table
    // area's end.
    auto inside = [end](std::uint64_t offset, std::uint64_t size) {
        return offset >= kHeaderBlockSize && offset + size <= end;
    };
    for (int i = 0; i < 2; ++i) {
        const TableDescriptor& d = i == 0 ? layout.address : layout.name;
        const char* table = i == 0 ? "address table: " : "name table: ";
        const std::uint32_t recordSize = i == 0 ? kAddressRecordSize : kNameRecordSize;
        const std::uint32_t maxCapacity = i == 0 ? kMaxAddressCapacity : kMaxNameCapacity;
        const std::uint64_t records = std::uint64_t{d.capacity} * recordSize;
        std::string problem;
        if (d.recordSize != recordSize) {
            problem = "wrong record size";
        } else if (d.capacity > maxCapacity || d.recordAreaSize != records) {
            problem = "capacity and record area do not agree";
        } else if (!inside(d.bucketOffset, std::uint64_t{kUsedBuckets} * 4) ||
                   !inside(d.recordOffset, records)) {
            problem = "buckets or records outside the table area";
        } else if (d.nextUnused > d.capacity || d.unusedLeft > d.capacity - d.nextUnused ||
                   d.inUse > d.nextUnused ||
                   d.nextSlotOffset != d.recordOffset + std::uint64_t{d.nextUnused} * recordSize) {
            problem = "record counts out of range";
        } else if (d.freeListLength > d.nextUnused ||
                   (d.freeListLength != 0 && d.freeListHead >= d.nextUnused)) {
            problem = "free list out of range";
        } else if (i == 0 && (!inside(d.pathOffset, d.pathSize) || d.pathUsed > d.pathSize ||
                              d.pathFree > d.pathSize - d.pathUsed)) {
            problem = "path data area out of range";
        }
        if (!problem.empty()) {
            why = table + problem;
            return false;
        }
    }
    const std::uint32_t aliasLimit = std::min(kMaxAliasPairs, layout.address.capacity);
    if (h.aliasCount > aliasLimit ||
        !inside(h.aliasOffset, std::uint64_t{layout.address.capacity} * 8)) {
        why = "alias table out of range";
        return false;
    }
    // The index descriptors, like the table descriptors, live in the header block behind
    // the header, each in a place of its own: the engine writes all of them back.
    struct Span {
        std::uint64_t from, to;
    };
    const Span spans[] = {
        {h.tableDescriptorOffset,
         h.tableDescriptorOffset + 2 * std::uint64_t{kTableDescriptorSize}},
        {h.addressIndexDescriptorOffset,
         h.addressIndexDescriptorOffset + std::uint64_t{kAddressIndexDescriptorSize}},
        {h.nameIndexDescriptorOffset,
         h.nameIndexDescriptorOffset + std::uint64_t{kNameIndexDescriptorSize}}};
    for (std::size_t i = 0; i < std::size(spans); ++i) {
        bool bad = spans[i].from < kHeaderSize || spans[i].to > kHeaderBlockSize;
        for (std::size_t k = 0; k < i; ++k)
            bad = bad || (spans[i].from < spans[k].to && spans[k].from < spans[i].to);
        if (bad) {
            why = "descriptors overlap or lie outside the header block";
            return false;
        }
    }
    return true;
}

}  // namespace dbread
