#include "dbbuild/record_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "dbread/bytes.h"
#include "platform/files.h"
#include "platform/process_state.h"

namespace dbbuild {

// The engine writes the format that dbread describes and checks.
using namespace dbread;

namespace {

constexpr std::uint32_t kBucketArrayBytes = 0x200000;
constexpr std::uint32_t kEmptyBucket = 0xFFFFFFFF;
constexpr std::size_t kFillChunk = 262144;
constexpr std::uint64_t kPrepareChunk = 262144;
constexpr std::uint64_t kMaxTableAreaEnd = 0x7FFFFFFF;  // leaves 32-bit room for the indexes
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

// The header and descriptor fields are the format's (dbread/record_format.h); the records
// and path blocks are the engine's alone.
using namespace dbread::fields;

// Record fields (both tables share the first 14 bytes).
constexpr std::size_t kRNext = 0, kRHigh = 4, kRFlags = 6, kRCategories = 8, kRPathOffset = 10,
                      kRPathLength = 14, kRLow = 16, kRKeyLength = 14, kRKey = 15;
// Path block fields.
constexpr std::size_t kBLength = 0, kBPrevLength = 2, kBOwner = 4, kBCount = 8, kBPrevOffset = 12;

void Append16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Append32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

std::uint64_t RoundUp512(std::uint64_t x) {
    return (x + 511) & ~std::uint64_t{511};
}

struct AliasPair {
    std::uint32_t canonical = 0;
    std::uint32_t alias = 0;
};

// From an address to the number of a pair: open addressing with linear probing, in a table
// of twice as many slots as a file takes pairs, made at the first insert and kept. Every
// address put into a database with aliases is looked up here.
class AddressMap {
  public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    bool empty() const { return used_ == 0; }
    void clear() {
        if (used_ != 0) std::fill(slots_.begin(), slots_.end(), Slot{});
        used_ = 0;
    }
    // The pair stored for `address`, or kNone.
    std::uint32_t Find(std::uint32_t address) const {
        if (used_ == 0) return kNone;
        for (std::size_t i = Home(address);; i = (i + 1) & (kSlots - 1)) {
            const Slot& s = slots_[i];
            if (s.pair == kNone || s.address == address) return s.pair;
        }
    }
    // Stores `pair` for `address` unless it has one already (the first pair wins). The
    // caller stores at most kMaxAliasPairs.
    void TryEmplace(std::uint32_t address, std::uint32_t pair) {
        if (slots_.empty()) slots_.resize(kSlots);
        for (std::size_t i = Home(address);; i = (i + 1) & (kSlots - 1)) {
            Slot& s = slots_[i];
            if (s.pair == kNone) {
                s = Slot{address, pair};
                ++used_;
                return;
            }
            if (s.address == address) return;
        }
    }

  private:
    static constexpr std::size_t kSlots = std::size_t{1} << 17;  // at least 2 * kMaxAliasPairs
    static_assert(kSlots >= 2 * std::size_t{kMaxAliasPairs});
    struct Slot {
        std::uint32_t address = 0;
        std::uint32_t pair = kNone;
    };
    static std::size_t Home(std::uint32_t address) { return (address * 2654435761u) >> (32 - 17); }
    std::vector<Slot> slots_;
    std::uint32_t used_ = 0;
};

// One table as the engine tracks it while the file is open.
struct TableState {
    std::array<std::uint8_t, kTableDescriptorSize> descriptor{};
    std::uint32_t descriptorOffset = 0;
    std::size_t recordSize = 0;
    std::uint16_t bucket = 0;        // bucket of the current key
    std::uint16_t keyHigh = 0;       // high 16 bits of the current key
    std::uint32_t record = 0;        // current record number
    std::uint64_t recordOffset = 0;  // its file offset
    std::uint64_t slotOffset = 0;    // file offset of the current bucket slot
    std::uint32_t first = 0;         // the slot's record number, as the last search read it
    std::uint32_t firstNext = 0;     // that record's next number
    // Ends (file offsets) of the written parts of the record area and of the path area; see
    // PrepareArea.
    std::uint64_t recordsPrepared = 0;
    std::uint64_t pathPrepared = 0;

    std::uint32_t Field(std::size_t o) const { return Get32(descriptor, o); }
    void SetField(std::size_t o, std::uint32_t v) { Put32(descriptor, o, v); }
    std::uint64_t OffsetOf(std::uint32_t r) const {
        return std::uint64_t{Field(kDRecords)} + std::uint64_t{r} * recordSize;
    }
};

// The entries of an address index while it is built.
struct IndexEntries {
    // Sized for the most entries an index holds once, and kept; `count` are in use.
    struct Entry {
        std::uint32_t address, pathOffset, bucket, next;  // next: bucket list link
        std::uint16_t categories;
    };
    std::vector<Entry> list;
    std::vector<std::uint32_t> heads;
    std::uint32_t count = 0;

    void Clear() {
        list.resize(kMaxIndexEntries);
        heads.assign(kIndexBucketCount, kNoEntry);
        count = 0;
    }

    std::uint32_t Count() const { return count; }
    // The caller keeps Count() below kMaxIndexEntries.
    void Add(std::uint32_t a, std::uint16_t c, std::uint32_t p) {
        const std::uint32_t b = AddressIndexBucket(a);
        list[count] = Entry{a, p, b, heads[b], c};
        heads[b] = count++;
    }
    std::uint32_t Find(std::uint32_t a) const {
        for (std::uint32_t e = heads[AddressIndexBucket(a)]; e != kNoEntry; e = list[e].next)
            if (list[e].address == a) return e;
        return kNoEntry;
    }
};

// Buffers of the index build, kept from one build to the next: a rebuild makes four
// databases in a row, and fresh buffers of several megabytes cost a page fault per page.
struct IndexScratch {
    IndexEntries entries;
    std::vector<std::uint8_t> paths, buckets, keys, pool, section;
    std::vector<std::uint32_t> place, offsets;
};

struct RecordFileState {
    platform::FileHandle file;
    bool open = false;
    std::array<std::uint8_t, kHeaderSize> header{};
    TableState tables[2];  // address table, name table
    std::array<std::uint8_t, kNameRecordSize> lastRecord{};
    std::vector<AliasPair> aliases;
    // First pair (in pair order) that has an address as its canonical / its alias.
    AddressMap canonicalPair;
    AddressMap aliasPair;
    std::uint32_t aliasLimit = 0;
    int lastError = 0;
    std::uint32_t now = 0;
    std::uint32_t (*clock)() = nullptr;
    // The table area [0, table area end) mapped shared while the file is open: records,
    // bucket slots, path blocks and table descriptors are read and written through it, so
    // that an insert costs no system call and another reader of the file sees each insert
    // at once, as it would after a write. The header, the alias pairs, the indexes and a new
    // file's contents go through the file layer.
    std::uint8_t* map = nullptr;
    std::size_t mapSize = 0;
    IndexScratch scratch;
};

RecordFileState g_rdb;

TableState& AddressTable() {
    return g_rdb.tables[0];
}
TableState& NameTable() {
    return g_rdb.tables[1];
}

void Unmap() {
    if (g_rdb.map) ::munmap(g_rdb.map, g_rdb.mapSize);
    g_rdb.map = nullptr;
    g_rdb.mapSize = 0;
}

bool Mapped(std::uint64_t offset, std::size_t size) {
    return g_rdb.map != nullptr && offset <= g_rdb.mapSize && size <= g_rdb.mapSize - offset;
}

void TakeTime() {
    g_rdb.now = g_rdb.clock ? g_rdb.clock() : static_cast<std::uint32_t>(std::time(nullptr));
}

// ---- Low-level calls: each clears the last error and sets it on failure. ----

bool SeekFile(std::uint64_t offset) {
    g_rdb.lastError = 0;
    errno = 0;
    if (!platform::SeekTo(g_rdb.file.get(), static_cast<std::int64_t>(offset))) {
        g_rdb.lastError = errno != 0 ? errno : EINVAL;
        return false;
    }
    return true;
}

// Reads at an absolute offset in one call (pread moves to the offset and reads).
bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    g_rdb.lastError = 0;
    if (Mapped(offset, out.size())) {
        if (!out.empty()) std::memcpy(out.data(), g_rdb.map + offset, out.size());
        return true;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(g_rdb.file.get(), out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            g_rdb.lastError = 1;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (!SeekFile(offset)) return false;
    if (!platform::WriteAll(g_rdb.file.get(), data)) {
        g_rdb.lastError = 1;
        return false;
    }
    return true;
}

bool ReadU32At(std::uint64_t offset, std::uint32_t& value) {
    std::array<std::uint8_t, 4> b{};
    if (!ReadAt(offset, b)) return false;
    value = Get32(b, 0);
    return true;
}

// Stores into the table area through the mapping; anything outside it (which a checked
// layout never asks for) goes through the file layer.
bool StoreAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (!Mapped(offset, data.size())) return WriteAt(offset, data);
    g_rdb.lastError = 0;
    std::uint8_t* to = g_rdb.map + offset;
    // The sizes an insert stores, copied without a call.
    switch (data.size()) {
        case 4:
            std::memcpy(to, data.data(), 4);
            break;
        case kAddressRecordSize:
            std::memcpy(to, data.data(), kAddressRecordSize);
            break;
        case kTableDescriptorSize:
            std::memcpy(to, data.data(), kTableDescriptorSize);
            break;
        default:
            if (!data.empty()) std::memcpy(to, data.data(), data.size());
    }
    return true;
}

bool WriteU32At(std::uint64_t offset, std::uint32_t value) {
    std::array<std::uint8_t, 4> b{};
    Put32(b, 0, value);
    return StoreAt(offset, b);
}

bool WriteDescriptor(const TableState& t) {
    return StoreAt(t.descriptorOffset, t.descriptor);
}
bool WriteHeader() {
    return WriteAt(0, g_rdb.header);
}

// A new file's record and path areas are left as holes. A hole page first touched through
// the mapping costs a fault that zero-fills it and a second one that makes it writable, which
// at full capacity takes more time than the inserts themselves; a page that a write() made
// costs one cheap fault. So the areas are written with zeros ahead of their use, a chunk at
// a time, through the file layer. `prepared` is the end of the written part; bytes behind
// it are never written with zeros again.
[[gnu::noinline]] bool WriteZerosAhead(std::uint64_t& prepared, std::uint64_t areaEnd,
                                       std::uint64_t needed) {
    static const std::array<std::uint8_t, kPrepareChunk> zeros{};
    const std::uint64_t to = std::min(areaEnd, std::max(needed, prepared + kPrepareChunk));
    for (std::uint64_t at = prepared; at < to;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(to - at, zeros.size()));
        const ssize_t done = ::pwrite(g_rdb.file.get(), zeros.data(), n, static_cast<off_t>(at));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            g_rdb.lastError = done < 0 ? errno : 1;
            return false;
        }
        at += static_cast<std::uint64_t>(done);
        prepared = at;
    }
    return true;
}

inline bool PrepareArea(std::uint64_t& prepared, std::uint64_t areaEnd, std::uint64_t needed) {
    return needed <= prepared || WriteZerosAhead(prepared, areaEnd, needed);
}

// Makes sure the record a new slot takes and a path block of `blockLength` bytes land in
// written parts of their areas; nothing in the file changes when this fails.
bool PrepareInsert(TableState& t, bool newRecord, std::size_t blockLength) {
    if (newRecord && t.Field(kDFreeLength) == 0 &&
        !PrepareArea(t.recordsPrepared, std::uint64_t{t.Field(kDRecords)} + t.Field(kDRecordBytes),
                     t.OffsetOf(t.Field(kDNextUnused) + 1)))
        return false;
    const std::uint64_t path = t.Field(kDPathOffset);
    return blockLength == 0 || PrepareArea(t.pathPrepared, path + t.Field(kDPathSize),
                                           path + t.Field(kDPathUsed) + blockLength);
}

// ---- Aliases ----

void ClearAliases() {
    g_rdb.aliases.clear();
    g_rdb.aliases.shrink_to_fit();
    g_rdb.canonicalPair.clear();
    g_rdb.aliasPair.clear();
}

void IndexAliasPair(std::uint32_t i) {
    const AliasPair& p = g_rdb.aliases[i];
    g_rdb.canonicalPair.TryEmplace(p.canonical, i);
    g_rdb.aliasPair.TryEmplace(p.alias, i);
}

bool AliasKnown(std::uint32_t address) {
    return g_rdb.canonicalPair.Find(address) != AddressMap::kNone ||
           g_rdb.aliasPair.Find(address) != AddressMap::kNone;
}

// ---- Records ----

enum class Found { kNo, kYes, kError };

// Looks for a record in the bucket slot t.slotOffset names. When found, t.record and
// t.recordOffset name it and g_rdb.lastRecord holds it.
// The slot and the records are compared where they lie in the mapping, which the checked
// layout keeps them inside of; only the record found is copied.
template <typename Match>
Found FindRecord(TableState& t, Match matches) {
    const std::uint32_t used = t.Field(kDNextUnused);
    g_rdb.lastError = 0;
    if (!Mapped(t.slotOffset, 4) || !Mapped(t.OffsetOf(0), std::size_t{used} * t.recordSize)) {
        g_rdb.lastError = 1;
        return Found::kError;
    }
    const std::uint32_t first = Get32(std::span(g_rdb.map + t.slotOffset, 4), 0);
    t.first = first;
    if (first == kEmptyBucket) return Found::kNo;
    std::uint32_t r = first;
    // A chain longer than the records in use does not close: the file is damaged.
    for (std::uint32_t steps = 0; steps <= used; ++steps) {
        if (r >= used) return Found::kError;
        const std::uint64_t off = t.OffsetOf(r);
        const std::span<const std::uint8_t> rec(g_rdb.map + off, t.recordSize);
        const std::uint32_t next = Get32(rec, kRNext);
        if (r == first) t.firstNext = next;
        if (matches(rec)) {
            t.record = r;
            t.recordOffset = off;
            std::memcpy(g_rdb.lastRecord.data(), rec.data(), rec.size());
            return Found::kYes;
        }
        r = next;
        if (r == first) return Found::kNo;
    }
    return Found::kError;
}

// Takes a slot for a new record (t.record, t.recordOffset) and counts it; false when the
// table is full or the free list is damaged.
bool TakeSlot(TableState& t) {
    std::uint32_t r = 0;
    if (t.Field(kDFreeLength) != 0) {
        r = t.Field(kDFreeHead);
        std::uint32_t nextHead = 0;
        if (r >= t.Field(kDNextUnused) || !ReadU32At(t.OffsetOf(r), nextHead)) return false;
        t.SetField(kDFreeHead, nextHead);
        t.SetField(kDFreeLength, t.Field(kDFreeLength) - 1);
    } else {
        if (t.Field(kDUnusedLeft) == 0) return false;
        r = t.Field(kDNextUnused);
        t.SetField(kDNextUnused, r + 1);
        t.SetField(kDUnusedLeft, t.Field(kDUnusedLeft) - 1);
        t.SetField(kDNextSlotOffset, static_cast<std::uint32_t>(t.OffsetOf(r + 1)));
    }
    t.SetField(kDInUse, t.Field(kDInUse) + 1);
    t.SetField(kDStamp, g_rdb.now);
    t.record = r;
    t.recordOffset = t.OffsetOf(r);
    return true;
}

// Writes a path block behind the used part of the path area and links it into the chain
// of the record t.record (held in `record`): the stored block names its owner and the
// record's current block (or itself when it is the first), the record names the block, and
// the block is counted. False (nothing changed) when the place lies outside the mapping,
// which a checked layout never asks for.
bool PlaceBlock(TableState& t, std::span<const std::uint8_t> block,
                std::span<std::uint8_t> record) {
    const std::uint32_t offset = t.Field(kDPathUsed);
    const std::uint32_t length = static_cast<std::uint32_t>(block.size());
    const std::uint64_t at = std::uint64_t{t.Field(kDPathOffset)} + offset;
    if (!Mapped(at, length)) {
        g_rdb.lastError = 1;
        return false;
    }
    std::memcpy(g_rdb.map + at, block.data(), length);
    const std::span<std::uint8_t> placed(g_rdb.map + at, length);
    const bool first = Get16(record, kRPathLength) == 0;
    Put32(placed, kBOwner, t.record);
    Put16(placed, kBPrevLength, first ? 0 : Get16(record, kRPathLength));
    Put32(placed, kBPrevOffset, first ? offset : Get32(record, kRPathOffset));
    Put32(record, kRPathOffset, offset);
    Put16(record, kRPathLength, length);
    t.SetField(kDPathUsed, offset + length);
    t.SetField(kDPathFree, t.Field(kDPathFree) - length);
    return true;
}

// Inserts `record` (key, flags and categories filled in, no path data) as a new record of
// the current bucket, with an optional path block. The search that found no record read the
// bucket slot and its first record (t.first, t.firstNext).
bool InsertRecord(TableState& t, std::span<std::uint8_t> record,
                  std::span<const std::uint8_t> block) {
    const std::uint32_t first = t.first;
    if (!PrepareInsert(t, true, block.size()) || !TakeSlot(t)) return false;
    if (!block.empty() && !PlaceBlock(t, block, record)) return false;
    if (first == kEmptyBucket) {
        Put32(record, kRNext, t.record);
        if (!StoreAt(t.recordOffset, record) || !WriteU32At(t.slotOffset, t.record)) return false;
    } else {
        // The new record follows the first one in the circle.
        const std::uint64_t firstOffset = t.OffsetOf(first);
        Put32(record, kRNext, t.firstNext);
        if (!StoreAt(t.recordOffset, record) || !WriteU32At(firstOffset + kRNext, t.record))
            return false;
    }
    return WriteDescriptor(t);
}

// Appends a path block to the existing record t.record (held in `record`) and writes the
// record and the descriptor back.
bool AppendBlock(TableState& t, std::span<std::uint8_t> record,
                 std::span<const std::uint8_t> block) {
    return PrepareInsert(t, false, block.size()) && PlaceBlock(t, block, record) &&
           StoreAt(t.recordOffset, record) && WriteDescriptor(t);
}

// ---- Index build ----

enum class PathResult { kOk, kCorrupt, kFull };

// The path section of an address index while it is built: a buffer of the section's full
// size and the length of what it holds.
struct PathSection {
    std::vector<std::uint8_t>& bytes;
    std::size_t used = 0;
};

// Copies the items of a record's block chain (newest block first) into the index path
// section; `offset` becomes the entry's path offset.
PathResult CopyPathData(std::span<const std::uint8_t> area, std::uint32_t blockOffset,
                        std::uint32_t blockLength, PathSection& out, std::uint32_t& offset) {
    const std::size_t start = out.used;
    std::size_t at = start + 1;  // the largest key length goes first, filled in below
    std::uint8_t* const base = out.bytes.data();
    std::uint8_t longest = 0;
    std::uint64_t walked = 0;
    while (blockLength > 17) {
        walked += blockLength;
        if (std::uint64_t{blockOffset} + blockLength > area.size() || walked > area.size())
            return PathResult::kCorrupt;
        auto block = area.subspan(blockOffset, blockLength);
        const std::uint32_t count = Get32(block, kBCount);
        std::size_t p = kPathBlockHeadSize;
        for (std::uint32_t i = 0; i < count && p + 3 <= block.size(); ++i) {
            const std::uint8_t itemLength = block[p];
            if (itemLength < 3 || p + itemLength > block.size()) break;
            const std::uint8_t keyLength = static_cast<std::uint8_t>(itemLength - 3);
            const std::uint16_t categories = Get16(block, p + 1);
            if (keyLength > 0) {
                // +1 for the closing zero byte, +2 for the section's closing bytes.
                if (at + 4 + keyLength + 1 + 2 > kIndexPathBufferSize) return PathResult::kFull;
                base[at] = keyLength;
                base[at + 1] = categories == 0 ? 1 : 2;
                std::memcpy(base + at + 2, &categories, 2);
                std::memcpy(base + at + 4, block.data() + p + 3, keyLength);
                at += 4 + std::size_t{keyLength};
                longest = std::max(longest, keyLength);
            }
            p += itemLength;
        }
        blockOffset = Get32(block, kBPrevOffset);
        blockLength = Get16(block, kBPrevLength);
    }
    if (longest == 0) {
        offset = kNoIndexPath;
        return PathResult::kOk;
    }
    base[start] = longest;
    base[at++] = 0;
    out.used = at;
    offset = static_cast<std::uint32_t>(start);
    return PathResult::kOk;
}

// A read-only view of [offset, offset + size): straight into the mapping, or read into `copy`.
bool View(std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& copy,
          std::span<const std::uint8_t>& out) {
    if (Mapped(offset, size)) {
        g_rdb.lastError = 0;
        out = std::span<const std::uint8_t>(g_rdb.map + offset, size);
        return true;
    }
    copy.resize(size);
    if (!ReadAt(offset, copy)) return false;
    out = copy;
    return true;
}

bool Excluded(std::uint16_t flags, std::uint16_t categories, std::uint16_t mask) {
    return (flags & (kFlagHidden | kFlagRemoved)) != 0 || (categories & mask) == 0;
}

// Reads an index descriptor and checks its kind and number.
template <std::size_t N>
bool ReadIndexDescriptor(std::size_t headerField, std::uint8_t number,
                         std::array<std::uint8_t, N>& d) {
    if (!ReadAt(Get32(g_rdb.header, headerField), d)) return false;
    return (d[0] & 0x3F) == 5 && d[1] == number;
}

bool BuildAddressIndex(std::uint16_t mask, std::uint64_t& cursor) {
    TableState& t = AddressTable();
    std::array<std::uint8_t, kAddressIndexDescriptorSize> d{};
    if (!ReadIndexDescriptor(kHAddrDesc, 1, d)) return false;

    const std::uint32_t used = t.Field(kDNextUnused);
    std::vector<std::uint8_t> recordsCopy, areaCopy;
    std::span<const std::uint8_t> records, area;
    if (!View(t.Field(kDRecords), std::size_t{used} * kAddressRecordSize, recordsCopy, records) ||
        !View(t.Field(kDPathOffset), t.Field(kDPathUsed), areaCopy, area))
        return false;
    IndexEntries& entries = g_rdb.scratch.entries;
    entries.Clear();
    // Sized once (the engine keeps it); only the bytes below `used` are written out.
    g_rdb.scratch.paths.resize(kIndexPathBufferSize);
    PathSection paths{g_rdb.scratch.paths, kIndexPathReserved};
    std::fill_n(paths.bytes.begin(), kIndexPathReserved, 0);
    for (std::uint32_t r = 0; r < used; ++r) {
        auto rec = records.subspan(std::size_t{r} * kAddressRecordSize, kAddressRecordSize);
        const std::uint16_t flags = Get16(rec, kRFlags);
        const std::uint16_t categories = Get16(rec, kRCategories);
        if (Excluded(flags, categories, mask)) continue;
        if (entries.Count() >= kMaxIndexEntries) return false;
        std::uint32_t pathOffset = kNoIndexPath;
        const std::uint16_t length = Get16(rec, kRPathLength);
        if ((flags & (kFlagRemoved | kFlagWholeSite)) == 0 && length >= 18) {
            if (CopyPathData(area, Get32(rec, kRPathOffset), length, paths, pathOffset) !=
                PathResult::kOk)
                return false;
        }
        entries.Add((std::uint32_t{Get16(rec, kRHigh)} << 16) | Get16(rec, kRLow), categories,
                    pathOffset);
    }

    // Each alias pair copies the entry of whichever of its addresses is present.
    for (const AliasPair& p : g_rdb.aliases) {
        if (entries.Count() >= kMaxIndexEntries) break;
        if (std::uint32_t e = entries.Find(p.canonical); e != kNoEntry) {
            entries.Add(p.alias, entries.list[e].categories, entries.list[e].pathOffset);
        } else if (std::uint32_t f = entries.Find(p.alias); f != kNoEntry) {
            entries.Add(p.canonical, entries.list[f].categories, entries.list[f].pathOffset);
        }
    }

    // Entries bucket by bucket, each bucket's list in its order (newest first).
    const std::uint32_t count = entries.Count();
    constexpr std::size_t kPathOffsets = 0x40008;  // 65538 bucket values come first
    std::vector<std::uint8_t>& buckets = g_rdb.scratch.buckets;
    std::vector<std::uint8_t>& keys = g_rdb.scratch.keys;
    buckets.assign(kPathOffsets + 4 * std::size_t{count}, 0);
    keys.resize(6 * std::size_t{count});
    // A counting sort by bucket; walking the entries newest first puts each bucket's in its
    // list order.
    std::vector<std::uint32_t>& place = g_rdb.scratch.place;
    place.assign(kIndexBucketCount + 1, 0);
    for (std::uint32_t e = 0; e < count; ++e) ++place[entries.list[e].bucket + 1];
    for (std::uint32_t b = 0; b < kIndexBucketCount; ++b) {
        place[b + 1] += place[b];
        Put32(buckets, 4 * b, place[b]);
    }
    for (std::uint32_t e = count; e-- > 0;) {
        const IndexEntries::Entry& entry = entries.list[e];
        const std::uint32_t n = place[entry.bucket]++;
        Put32(buckets, kPathOffsets + 4 * std::size_t{n}, entry.pathOffset);
        Put32(keys, 4 * std::size_t{n}, entry.address);
        Put16(keys, 4 * std::size_t{count} + 2 * std::size_t{n}, entry.categories);
    }
    Put32(buckets, 4 * kIndexBucketCount, count);
    paths.bytes[paths.used++] = 0;
    paths.bytes[paths.used++] = 0;
    const std::span<const std::uint8_t> pathBytes(paths.bytes.data(), paths.used);

    const std::uint64_t bucketOffset = cursor;
    const std::uint64_t keyOffset = RoundUp512(bucketOffset + buckets.size());
    const std::uint64_t pathOffset = RoundUp512(keyOffset + keys.size());
    cursor = RoundUp512(pathOffset + pathBytes.size());
    if (!WriteAt(bucketOffset, buckets) || !WriteAt(keyOffset, keys) ||
        !WriteAt(pathOffset, pathBytes))
        return false;

    Put16(d, kIMask, mask);
    Put32(d, kIBucketOff, static_cast<std::uint32_t>(bucketOffset));
    Put32(d, kIBucketSize, static_cast<std::uint32_t>(buckets.size()));
    Put32(d, kIKeyOff, static_cast<std::uint32_t>(keyOffset));
    Put32(d, kIKeySize, static_cast<std::uint32_t>(keys.size()));
    Put32(d, kIPathOff, static_cast<std::uint32_t>(pathOffset));
    Put32(d, kIPathSize, static_cast<std::uint32_t>(pathBytes.size()));
    if (!WriteAt(Get32(g_rdb.header, kHAddrDesc), d)) return false;
    Put16(g_rdb.header, kHAddrBuilt, 1);
    return WriteHeader();
}

bool BuildNameIndex(std::uint16_t mask, std::uint64_t cursor) {
    TableState& t = NameTable();
    std::array<std::uint8_t, kNameIndexDescriptorSize> d{};
    if (!ReadIndexDescriptor(kHNameDesc, 2, d)) return false;

    const std::uint32_t used = t.Field(kDNextUnused);
    std::vector<std::uint8_t> recordsCopy;
    std::span<const std::uint8_t> records;
    if (!View(t.Field(kDRecords), std::size_t{used} * kNameRecordSize, recordsCopy, records))
        return false;

    std::vector<std::uint8_t>& pool = g_rdb.scratch.pool;
    std::vector<std::uint32_t>& offsets = g_rdb.scratch.offsets;
    pool.clear();
    offsets.clear();
    for (std::uint32_t r = 0; r < used; ++r) {
        auto rec = records.subspan(std::size_t{r} * kNameRecordSize, kNameRecordSize);
        const std::uint16_t flags = Get16(rec, kRFlags);
        const std::uint16_t categories = Get16(rec, kRCategories);
        if (Excluded(flags, categories, mask)) continue;
        const std::uint8_t n = rec[kRKeyLength];
        if (n > kMaxNameKeyLength || offsets.size() >= kMaxNameCapacity) return false;
        offsets.push_back(static_cast<std::uint32_t>(pool.size()));
        pool.push_back(n);
        pool.push_back(static_cast<std::uint8_t>(flags));
        Append16(pool, categories);
        pool.insert(pool.end(), rec.begin() + kRKey, rec.begin() + kRKey + n);
        pool.push_back(0);
    }
    if (offsets.empty()) return false;

    auto key = [&pool](std::uint32_t o) {
        return std::span<const std::uint8_t>(pool).subspan(o + 4, pool[o]);
    };
    std::stable_sort(offsets.begin(), offsets.end(), [&](std::uint32_t a, std::uint32_t b) {
        auto ka = key(a), kb = key(b);
        return std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end());
    });

    std::vector<std::uint8_t>& section = g_rdb.scratch.section;
    section.clear();
    section.reserve(4 * offsets.size() + pool.size());
    for (std::uint32_t o : offsets) Append32(section, o);
    section.insert(section.end(), pool.begin(), pool.end());
    const std::uint64_t offset = RoundUp512(cursor);
    if (!WriteAt(offset, section)) return false;

    Put16(d, kIMask, mask);
    std::fill(d.begin() + 10, d.begin() + 20, 0);
    Put16(d, kINameCount, static_cast<std::uint32_t>(offsets.size()));
    Put32(d, kINameOff, static_cast<std::uint32_t>(offset));
    Put32(d, kINameSize, static_cast<std::uint32_t>(section.size()));
    if (!WriteAt(Get32(g_rdb.header, kHNameDesc), d)) return false;
    Put16(g_rdb.header, kHNameBuilt, 1);
    return true;
}

// ---- Create ----

void FillTableDescriptor(std::span<std::uint8_t> d, std::uint8_t number, std::uint32_t buckets,
                         std::uint32_t capacity, std::uint32_t recordSize, std::uint32_t pathOffset,
                         std::uint32_t pathSize, std::uint32_t keyOffset, std::uint32_t keySize) {
    const std::uint32_t records = buckets + kBucketArrayBytes;
    d[kDKind] = 3;
    d[kDNumber] = number;
    Put16(d, kDSize, kTableDescriptorSize);
    Put32(d, kDBuckets, buckets);
    Put32(d, kDRecords, records);
    Put32(d, kDRecordBytes, capacity * recordSize);
    Put32(d, kDNextSlotOffset, records);
    Put32(d, kDRecordBytes2, capacity * recordSize);
    Put32(d, kDCapacity, capacity);
    Put32(d, kDUnusedLeft, capacity);
    Put32(d, kDPathOffset, pathOffset);
    Put32(d, kDPathSize, pathSize);
    Put32(d, kDPathFree, pathSize);
    Put16(d, kDRecordSize, recordSize);
    Put16(d, kDKeyOffset, keyOffset);
    Put16(d, kDKeySize, keySize);
}

bool Fill(int fd, std::uint64_t from, std::uint64_t to, std::uint8_t value,
          std::vector<std::uint8_t>& buffer) {
    std::fill(buffer.begin(), buffer.end(), value);
    if (!SeekFile(from)) return false;
    for (std::uint64_t at = from; at < to;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kFillChunk, to - at));
        if (!platform::WriteAll(fd, std::span<const std::uint8_t>(buffer.data(), n))) {
            g_rdb.lastError = 1;
            return false;
        }
        at += n;
    }
    return true;
}

int CreateFile(const std::string& path, std::uint32_t pathDataSize, std::uint32_t addressCapacity,
               std::uint32_t nameCapacity) {
    const std::uint64_t addressRecords = 0x200200;
    const std::uint64_t a = RoundUp512(addressRecords + std::uint64_t{addressCapacity} * 18);
    const std::uint64_t b = RoundUp512(a + pathDataSize);
    const std::uint64_t nameRecords = b + kBucketArrayBytes;
    const std::uint64_t aliases = RoundUp512(nameRecords + std::uint64_t{nameCapacity} * 78);
    const std::uint64_t end = RoundUp512(aliases + std::uint64_t{addressCapacity} * 8);
    if (end > kMaxTableAreaEnd) return 0;

    std::vector<std::uint8_t> buffer(kFillChunk);
    g_rdb.lastError = 0;
    errno = 0;
    g_rdb.file.reset(platform::OpenFileMode(path, platform::kOfCreate | platform::kOfReadWrite));
    if (!g_rdb.file.valid()) {
        g_rdb.lastError = errno != 0 ? errno : EACCES;
        return 0;
    }
    TakeTime();

    std::array<std::uint8_t, kHeaderBlockSize> block{};
    std::span<std::uint8_t> h(block);
    h[kHMagic] = 'V';
    h[kHMagic + 1] = 'D';
    Put16(h, kHVersion, 0x0100);
    Put16(h, kHField4, 0x2000);
    Put32(h, kHCreated, g_rdb.now);
    Put32(h, kHCreated2, g_rdb.now);
    Put32(h, kHBlockSize, kHeaderBlockSize);
    Put32(h, kHTableEnd, static_cast<std::uint32_t>(end));
    Put16(h, kHField40, 0xFFFF);
    Put16(h, kHTableCount, 2);
    Put16(h, kHField44, 2);
    Put32(h, kHTableDesc, 80);
    Put16(h, kHAddrCount, 1);
    Put32(h, kHAddrDesc, 236);
    Put16(h, kHNameCount, 1);
    Put32(h, kHNameDesc, 270);
    Put32(h, kHAliasOffset, static_cast<std::uint32_t>(aliases));
    FillTableDescriptor(h.subspan(80, kTableDescriptorSize), 1, kHeaderBlockSize, addressCapacity,
                        kAddressRecordSize, static_cast<std::uint32_t>(a), pathDataSize, 0, 0);
    FillTableDescriptor(h.subspan(158, kTableDescriptorSize), 2, static_cast<std::uint32_t>(b),
                        nameCapacity, kNameRecordSize, 0, 0, 14, 64);
    h[236] = 5;
    h[237] = 1;
    Put16(h, 238, kAddressIndexDescriptorSize);
    h[270] = 5;
    h[271] = 2;
    Put16(h, 272, kNameIndexDescriptorSize);

    // The zero areas (records, path data, aliases) are left to the file's extension, which
    // reads as zeros: only the header block and the two bucket arrays are written.
    const int fd = g_rdb.file.get();
    bool ok = WriteAt(0, block) && Fill(fd, kHeaderBlockSize, addressRecords, 0xFF, buffer) &&
              Fill(fd, b, nameRecords, 0xFF, buffer);
    if (ok && ::ftruncate(fd, static_cast<off_t>(end)) != 0) {
        g_rdb.lastError = errno != 0 ? errno : 1;
        ok = false;
    }
    g_rdb.file.reset();
    if (!ok) return 0;
    buffer = {};
    if (!RdbOpen(path)) return 0;
    for (TableState& t : g_rdb.tables) {
        t.recordsPrepared = t.Field(kDRecords);
        t.pathPrepared = t.Field(kDPathOffset);
    }
    return 1;
}

// ---- Open ----

int OpenFile(const std::string& path) {
    g_rdb.lastError = 0;
    errno = 0;
    g_rdb.file.reset(platform::OpenFileMode(path, platform::kOfReadWrite));
    if (!g_rdb.file.valid()) {
        g_rdb.lastError = errno != 0 ? errno : ENOENT;
        return 0;
    }
    const std::int64_t size = platform::FileSize(g_rdb.file.get());
    if (size < static_cast<std::int64_t>(kHeaderSize)) return 0;
    const std::uint64_t fileSize = static_cast<std::uint64_t>(size);
    if (!ReadAt(0, g_rdb.header)) return 0;
    std::string why;
    const FileHeader header = DecodeHeader(g_rdb.header);
    if (!CheckHeader(header, fileSize, why)) return 0;

    std::array<std::uint8_t, 2 * kTableDescriptorSize> descriptors{};
    FileLayout layout;
    if (!ReadAt(header.tableDescriptorOffset, descriptors) ||
        !CheckTables(header, descriptors, fileSize, layout, why))
        return 0;
    for (int i = 0; i < 2; ++i) {
        // CheckTables accepted one descriptor of each number.
        const int table = descriptors[i * kTableDescriptorSize + kDNumber] == 1 ? 0 : 1;
        TableState& t = g_rdb.tables[table];
        t = TableState{};
        std::copy_n(descriptors.begin() + i * kTableDescriptorSize, kTableDescriptorSize,
                    t.descriptor.begin());
        t.descriptorOffset =
            header.tableDescriptorOffset + static_cast<std::uint32_t>(i * kTableDescriptorSize);
        t.recordSize = table == 0 ? kAddressRecordSize : kNameRecordSize;
        // An existing file's areas are taken as they are.
        t.recordsPrepared = std::uint64_t{t.Field(kDRecords)} + t.Field(kDRecordBytes);
        t.pathPrepared = std::uint64_t{t.Field(kDPathOffset)} + t.Field(kDPathSize);
    }

    g_rdb.aliasLimit = std::min(kMaxAliasPairs, AddressTable().Field(kDCapacity));
    g_rdb.aliases.reserve(g_rdb.aliasLimit);
    g_rdb.aliases.resize(header.aliasCount);
    if (header.aliasCount != 0) {
        std::vector<std::uint8_t> raw(std::size_t{header.aliasCount} * 8);
        if (!ReadAt(header.aliasOffset, raw)) return 0;
        for (std::uint32_t i = 0; i < header.aliasCount; ++i) {
            g_rdb.aliases[i] = {Get32(raw, 8 * i), Get32(raw, 8 * i + 4)};
            IndexAliasPair(i);
        }
    }
    // CheckTables keeps the table area inside the file.
    errno = 0;
    void* map = ::mmap(nullptr, header.tableAreaEnd, PROT_READ | PROT_WRITE, MAP_SHARED,
                       g_rdb.file.get(), 0);
    if (map == MAP_FAILED) {
        g_rdb.lastError = errno != 0 ? errno : ENOMEM;
        return 0;
    }
    g_rdb.map = static_cast<std::uint8_t*>(map);
    g_rdb.mapSize = header.tableAreaEnd;
    TakeTime();
    Put16(g_rdb.header, kHHandle, static_cast<std::uint32_t>(g_rdb.file.get()));
    g_rdb.open = true;
    return 1;
}

}  // namespace

// ---- Path blocks ----

bool AddPathItem(std::vector<std::uint8_t>& block, std::uint16_t categories,
                 std::span<const std::uint8_t> key) {
    if (key.size() > 252) return false;
    if (block.size() < kPathBlockHeadSize) block.assign(kPathBlockHeadSize, 0);
    const std::size_t length = block.size() + 3 + key.size();
    if (length > 0xFFFF) return false;
    block.push_back(static_cast<std::uint8_t>(3 + key.size()));
    Append16(block, categories);
    block.insert(block.end(), key.begin(), key.end());
    Put16(block, kBLength, static_cast<std::uint32_t>(length));
    Put32(block, kBCount, Get32(block, kBCount) + 1);
    return true;
}

// ---- Engine ----

int RdbCreate(const std::string& path, std::uint32_t pathDataSize, std::uint32_t addressCapacity,
              std::uint32_t nameCapacity) {
    if (g_rdb.open) RdbClose();
    if (addressCapacity > kMaxAddressCapacity || nameCapacity > kMaxNameCapacity) return 0;
    try {
        return CreateFile(path, pathDataSize, addressCapacity, nameCapacity);
    } catch (const std::bad_alloc&) {
        g_rdb.file.reset();
        g_rdb.lastError = ENOMEM;
        return 0;
    }
}

int RdbOpen(const std::string& path) {
    if (g_rdb.open) RdbClose();
    int ok = 0;
    try {
        ok = OpenFile(path);
    } catch (const std::bad_alloc&) {
        g_rdb.lastError = ENOMEM;
    }
    if (!ok) {
        Unmap();
        g_rdb.file.reset();
        ClearAliases();
        g_rdb.header = {};
    }
    return ok;
}

int RdbClose() {
    if (!g_rdb.open) return 1;
    TakeTime();
    bool ok = true;
    if (!g_rdb.aliases.empty()) {
        std::vector<std::uint8_t> raw;
        raw.reserve(g_rdb.aliases.size() * 8);
        for (const AliasPair& p : g_rdb.aliases) {
            Append32(raw, p.canonical);
            Append32(raw, p.alias);
        }
        ok = WriteAt(Get32(g_rdb.header, kHAliasOffset), raw);
    }
    ClearAliases();
    if (ok) ok = WriteHeader();
    Unmap();
    // On disk before the caller renames the file into place.
    if (ok) ok = platform::FlushFile(g_rdb.file.get());
    g_rdb.file.reset();
    g_rdb.header[kHMagic] = 0;
    g_rdb.header[kHMagic + 1] = 0;
    g_rdb.open = false;
    return ok ? 1 : 0;
}

int RdbPutAddress(std::uint32_t address, std::uint16_t categories, std::uint16_t flags,
                  std::span<const std::uint8_t> block) {
    if (!g_rdb.open) return 0;
    TableState& t = AddressTable();
    // The block as stored: its first `length` bytes; none when it holds no items.
    std::span<const std::uint8_t> stored;
    if (!block.empty()) {
        if (block.size() < kPathBlockHeadSize) return 0;
        const std::uint16_t length = Get16(block, kBLength);
        if (length != 0 && Get32(block, kBCount) != 0) {
            if (length < kPathBlockHeadSize || length > block.size()) return 0;
            if (length > t.Field(kDPathFree)) return 0;
            stored = block.first(length);
        }
    }

    if (const std::uint32_t pair = g_rdb.aliasPair.Find(address); pair != AddressMap::kNone)
        address = g_rdb.aliases[pair].canonical;

    t.bucket = AddressBucket(address);
    t.keyHigh = static_cast<std::uint16_t>(address >> 16);
    t.slotOffset = std::uint64_t{t.Field(kDBuckets)} + 4 * std::uint64_t{t.bucket};
    const std::uint16_t low = static_cast<std::uint16_t>(address);
    const Found found = FindRecord(t, [&](std::span<const std::uint8_t> rec) {
        return Get16(rec, kRHigh) == t.keyHigh && Get16(rec, kRLow) == low;
    });
    if (found == Found::kError) return 0;

    std::span<std::uint8_t> rec(g_rdb.lastRecord.data(), kAddressRecordSize);
    if (found == Found::kNo) {
        std::fill(rec.begin(), rec.end(), 0);
        Put16(rec, kRHigh, t.keyHigh);
        Put16(rec, kRFlags, flags);
        Put16(rec, kRCategories, categories);
        Put16(rec, kRLow, low);
        return InsertRecord(t, rec, stored) ? 1 : 0;
    }

    std::uint16_t recFlags = Get16(rec, kRFlags);
    if (flags & kFlagOpposite) {
        if (stored.empty()) {
            Put16(rec, kRFlags, recFlags | kFlagRemoved);
            return StoreAt(t.recordOffset, rec) ? 1 : 0;
        }
        Put16(rec, kRFlags, recFlags & ~(kFlagRemoved | kFlagWholeSite));
        return AppendBlock(t, rec, stored) ? 1 : 0;
    }
    Put16(rec, kRCategories, Get16(rec, kRCategories) | categories);
    Put16(rec, kRFlags, flags);
    if (!stored.empty()) return AppendBlock(t, rec, stored) ? 1 : 0;
    if (Get16(rec, kRPathLength) != 0) Put16(rec, kRFlags, flags | kFlagWholeSite);
    return StoreAt(t.recordOffset, rec) ? 1 : 0;
}

int RdbPutName(std::string_view name, std::uint16_t categories, std::uint16_t flags) {
    if (!g_rdb.open) return 0;
    TableState& t = NameTable();
    const NameKey key = MakeNameKey(name, flags);
    if (flags & kFlagOpposite) categories = 0xFFFF;
    t.bucket = static_cast<std::uint16_t>(key.hash);
    t.keyHigh = static_cast<std::uint16_t>(key.hash >> 16);
    t.slotOffset = std::uint64_t{t.Field(kDBuckets)} + 4 * std::uint64_t{t.bucket};
    const Found found = FindRecord(t, [&](std::span<const std::uint8_t> rec) {
        return Get16(rec, kRHigh) == t.keyHigh && rec[kRKeyLength] == key.bytes.size() &&
               std::equal(key.bytes.begin(), key.bytes.end(), rec.begin() + kRKey);
    });
    if (found == Found::kError) return 0;

    std::span<std::uint8_t> rec(g_rdb.lastRecord.data(), kNameRecordSize);
    if (found == Found::kNo) {
        std::fill(rec.begin(), rec.end(), 0);
        Put16(rec, kRHigh, t.keyHigh);
        Put16(rec, kRFlags, flags);
        Put16(rec, kRCategories, categories);
        Put32(rec, 10, 0xFFFFFFFF);
        rec[kRKeyLength] = static_cast<std::uint8_t>(key.bytes.size());
        std::copy(key.bytes.begin(), key.bytes.end(), rec.begin() + kRKey);
        return InsertRecord(t, rec, {}) ? 1 : 0;
    }
    if (Get16(rec, kRCategories) == categories && Get16(rec, kRFlags) == flags) return 2;
    Put16(rec, kRCategories, Get16(rec, kRCategories) | categories);
    Put16(rec, kRFlags, flags);
    return StoreAt(t.recordOffset, rec) ? 1 : 0;
}

int RdbAddAlias(std::uint32_t canonical, std::uint32_t alias) {
    if (!g_rdb.open) return 0;
    AliasPair pair{canonical, alias};
    if (const std::uint32_t i = g_rdb.canonicalPair.Find(alias); i != AddressMap::kNone) {
        if (g_rdb.aliases[i].alias == canonical || AliasKnown(canonical)) return 1;
        pair = {alias, canonical};
    } else if (const std::uint32_t j = g_rdb.aliasPair.Find(alias); j != AddressMap::kNone) {
        const std::uint32_t first = g_rdb.aliases[j].canonical;
        if (first == canonical || AliasKnown(canonical)) return 1;
        pair = {first, canonical};
    }
    if (g_rdb.aliases.size() >= g_rdb.aliasLimit) return 0;
    try {
        g_rdb.aliases.push_back(pair);
        IndexAliasPair(static_cast<std::uint32_t>(g_rdb.aliases.size() - 1));
    } catch (const std::bad_alloc&) {
        g_rdb.lastError = ENOMEM;
        return 0;
    }
    Put16(g_rdb.header, kHAliasCount, static_cast<std::uint32_t>(g_rdb.aliases.size()));
    return 1;
}

int RdbBuildIndexes(int indexNumber, std::uint16_t mask) {
    if (!g_rdb.open || indexNumber != 0) return 0;
    TakeTime();
    std::uint64_t cursor = RoundUp512(Get32(g_rdb.header, kHTableEnd));
    // Sections of an earlier build may be overwritten: neither index counts as built until
    // it is written again.
    Put16(g_rdb.header, kHAddrBuilt, 0);
    Put16(g_rdb.header, kHNameBuilt, 0);
    try {
        if (!BuildAddressIndex(mask, cursor) || !BuildNameIndex(mask, cursor)) return 0;
    } catch (const std::bad_alloc&) {
        g_rdb.lastError = ENOMEM;
        return 0;
    }
    return WriteHeader() ? 1 : 0;
}

int RdbLastError() {
    return g_rdb.lastError;
}
bool RdbIsOpen() {
    return g_rdb.open;
}

void ResetRecordFile() {
    Unmap();
    g_rdb.file.reset();
    ClearAliases();
    g_rdb.header = {};
    g_rdb.tables[0] = TableState{};
    g_rdb.tables[1] = TableState{};
    g_rdb.lastRecord = {};
    g_rdb.aliasLimit = 0;
    g_rdb.scratch = IndexScratch{};
    g_rdb.canonicalPair = AddressMap{};
    g_rdb.aliasPair = AddressMap{};
    g_rdb.lastError = 0;
    g_rdb.now = 0;
    g_rdb.clock = nullptr;
    g_rdb.open = false;
}
namespace {
const platform::StateReset kResetRecordFile{platform::StateLayer::kDbbuild, &ResetRecordFile};
}  // namespace

void SetRecordFileClock(std::uint32_t (*clock)()) {
    g_rdb.clock = clock;
}

}  // namespace dbbuild
