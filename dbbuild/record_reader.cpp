#include "dbbuild/record_reader.h"
#include "dbbuild/bytes.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace dbbuild {
namespace {

constexpr std::uint32_t kBucketValues = 65538;
constexpr std::uint32_t kBucketTableBytes = 4 * kBucketValues;  // 0x40008
constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 32;


bool Fits(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t size) {
    return offset <= bytes.size() && size <= bytes.size() - offset;
}

std::span<const std::uint8_t> Section(const DatabaseImage& image, std::uint32_t offset,
                                      std::uint32_t size) {
    return image.bytes.subspan(offset, size);
}

std::span<const std::uint8_t> BucketSection(const DatabaseImage& image) {
    return Section(image, image.addressIndex.bucketOffset, image.addressIndex.bucketSize);
}

bool CheckAddressIndex(DatabaseImage& image, std::string& error) {
    const std::uint32_t at = image.layout.header.addressIndexDescriptorOffset;
    image.addressIndex =
        DecodeAddressIndexDescriptor(image.bytes.subspan(at).first<kAddressIndexDescriptorSize>());
    const AddressIndexDescriptor& d = image.addressIndex;
    if ((d.kind & 0x3F) != 5 || d.number != 1) {
        error = "address index: wrong descriptor";
        return false;
    }
    if (d.bucketSize < kBucketTableBytes || (d.bucketSize - kBucketTableBytes) % 4 != 0 ||
        !Fits(image.bytes, d.bucketOffset, d.bucketSize) ||
        !Fits(image.bytes, d.keyOffset, d.keySize) ||
        !Fits(image.bytes, d.pathOffset, d.pathSize)) {
        error = "address index: sections outside the file";
        return false;
    }
    const std::uint32_t count = (d.bucketSize - kBucketTableBytes) / 4;
    if (d.keySize != 6 * std::uint64_t{count} || d.pathSize < kIndexPathReserved + 2) {
        error = "address index: section sizes do not agree";
        return false;
    }
    auto buckets = BucketSection(image);
    if (Get32(buckets, 4 * kIndexBucketCount) != count) {
        error = "address index: entry count does not agree";
        return false;
    }
    // Bucket starts never decrease and end at the entry count (checked above).
    const std::uint8_t* p = buckets.data();
    std::uint32_t previous = 0;
    for (std::uint32_t b = 0; b < kIndexBucketCount; ++b, p += 4) {
        const std::uint32_t first = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
        if (first < previous) {
            error = "address index: bucket starts out of order";
            return false;
        }
        previous = first;
    }
    if (previous > count) {
        error = "address index: bucket starts out of order";
        return false;
    }
    image.addressEntries = count;
    return true;
}

bool CheckNameIndex(DatabaseImage& image, std::string& error) {
    const std::uint32_t at = image.layout.header.nameIndexDescriptorOffset;
    image.nameIndex =
        DecodeNameIndexDescriptor(image.bytes.subspan(at).first<kNameIndexDescriptorSize>());
    const NameIndexDescriptor& d = image.nameIndex;
    if ((d.kind & 0x3F) != 5 || d.number != 2) {
        error = "name index: wrong descriptor";
        return false;
    }
    if (!Fits(image.bytes, d.offset, d.sectionSize) || 4 * std::uint64_t{d.count} > d.sectionSize) {
        error = "name index: section outside the file";
        return false;
    }
    return true;
}

// ---- Text helpers ----

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(s.data(), s.size() + 1, format, again);
    va_end(again);
    return s;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string s;
    for (std::uint8_t b : bytes) s += Printf("%02x", b);
    return s;
}

bool Printable(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](std::uint8_t c) { return c >= 32 && c < 127; });
}

// A key as quoted text, bytes outside printable ASCII as \xHH.
std::string Quoted(std::span<const std::uint8_t> bytes) {
    std::string s = "\"";
    for (std::uint8_t c : bytes) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\')
            s += static_cast<char>(c);
        else
            s += Printf("\\x%02x", c);
    }
    return s + "\"";
}

// A path key: text when printable, else hex in groups of 4 bytes (segment checksums).
std::string PathKeyForText(std::span<const std::uint8_t> key) {
    if (Printable(key)) return Quoted(key);
    std::string s = "hex";
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (i % 4 == 0) s += ' ';
        s += Printf("%02x", key[i]);
    }
    return s;
}

std::span<const std::uint8_t> AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A minimal JSON writer: objects and arrays, with commas placed as values are added.
class Json {
  public:
    explicit Json(std::string& out) : out_(out) {}
    Json& Object(std::string_view key = {}) { return Open(key, '{'); }
    Json& Array(std::string_view key = {}) { return Open(key, '['); }
    Json& End() {
        out_ += closers_.back();
        closers_.pop_back();
        first_ = false;
        if (closers_.empty()) out_ += '\n';
        return *this;
    }
    Json& Number(std::string_view key, std::uint64_t v) {
        Key(key);
        out_ += std::to_string(v);
        return *this;
    }
    Json& Bool(std::string_view key, bool v) {
        Key(key);
        out_ += v ? "true" : "false";
        return *this;
    }
    Json& String(std::string_view key, std::span<const std::uint8_t> bytes) {
        Key(key);
        Text(bytes);
        return *this;
    }
    Json& String(std::string_view key, std::string_view text) { return String(key, AsBytes(text)); }

  private:
    Json& Open(std::string_view key, char open) {
        Key(key);
        out_ += open;
        closers_.push_back(open == '{' ? '}' : ']');
        first_ = true;
        return *this;
    }
    void Key(std::string_view key) {
        if (!first_) out_ += ',';
        first_ = false;
        if (key.empty()) return;
        Text(AsBytes(key));
        out_ += ':';
    }
    // Bytes outside printable ASCII are written as \u00XX, so any key survives a round trip.
    void Text(std::span<const std::uint8_t> bytes) {
        out_ += '"';
        for (std::uint8_t c : bytes) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c >= 32 && c < 127) {
                out_ += static_cast<char>(c);
            } else {
                out_ += Printf("\\u%04x", c);
            }
        }
        out_ += '"';
    }

    std::string& out_;
    std::vector<char> closers_;
    bool first_ = true;
};

// ---- Reports ----

void InfoText(const DatabaseImage& image, std::string& out) {
    const FileHeader& h = image.layout.header;
    out += Printf("file size: %zu bytes\n", image.bytes.size());
    out += "header:\n";
    out += Printf("  magic %c%c, version 0x%04x, field 4 0x%04x, handle %u\n", h.magic[0],
                  h.magic[1], h.version, h.field4, h.handle);
    out += Printf("  created %u (%u), header block %u, table area end 0x%08x\n", h.created,
                  h.created2, h.headerBlockSize, h.tableAreaEnd);
    out += Printf("  field 40 0x%04x, tables %u (field 44 %u) at %u\n", h.field40, h.tableCount,
                  h.field44, h.tableDescriptorOffset);
    out += Printf("  address index: %s, %u descriptor at %u\n",
                  image.addressIndexBuilt ? "built" : "not built", h.addressIndexCount,
                  h.addressIndexDescriptorOffset);
    out += Printf("  name index: %s, %u descriptor at %u\n",
                  image.nameIndexBuilt ? "built" : "not built", h.nameIndexCount,
                  h.nameIndexDescriptorOffset);
    out += Printf("  alias pairs: %u at 0x%08x\n", h.aliasCount, h.aliasOffset);
    for (int i = 0; i < 2; ++i) {
        const TableDescriptor& d = i == 0 ? image.layout.address : image.layout.name;
        const std::uint32_t at =
            i == 0 ? image.layout.addressDescriptorOffset : image.layout.nameDescriptorOffset;
        out += Printf("%s table (descriptor at %u): kind %u, number %u, size %u, stamp %u\n",
                      i == 0 ? "address" : "name", at, d.kind, d.number, d.size, d.stamp);
        out += Printf("  buckets at 0x%08x, records at 0x%08x (%u bytes of %u-byte records)\n",
                      d.bucketOffset, d.recordOffset, d.recordAreaSize, d.recordSize);
        out += Printf("  capacity %u, in use %u, never used %u, next slot %u at 0x%08x\n",
                      d.capacity, d.inUse, d.unusedLeft, d.nextUnused, d.nextSlotOffset);
        out += Printf("  free list %u (head %u), key at %u size %u\n", d.freeListLength,
                      d.freeListHead, d.keyOffset, d.keySize);
        if (i == 0)
            out += Printf("  path data at 0x%08x, size %u, used %u, free %u\n", d.pathOffset,
                          d.pathSize, d.pathUsed, d.pathFree);
    }
    if (image.addressIndexBuilt) {
        const AddressIndexDescriptor& d = image.addressIndex;
        out += Printf("address index: mask 0x%04x, %u entries\n", d.mask, image.addressEntries);
        out +=
            Printf("  buckets at 0x%08x (%u bytes), keys at 0x%08x (%u), paths at 0x%08x (%u)\n",
                   d.bucketOffset, d.bucketSize, d.keyOffset, d.keySize, d.pathOffset, d.pathSize);
    } else {
        out += "address index: not built\n";
    }
    if (image.nameIndexBuilt) {
        const NameIndexDescriptor& d = image.nameIndex;
        out += Printf("name index: mask 0x%04x, %u entries at 0x%08x (%u bytes)\n", d.mask, d.count,
                      d.offset, d.sectionSize);
    } else {
        out += "name index: not built\n";
    }
}

void TableJson(Json& j, std::string_view key, const TableDescriptor& d, std::uint32_t at) {
    j.Object(key)
        .Number("descriptor_offset", at)
        .Number("kind", d.kind)
        .Number("number", d.number)
        .Number("size", d.size)
        .Number("stamp", d.stamp)
        .Number("bucket_offset", d.bucketOffset)
        .Number("record_offset", d.recordOffset)
        .Number("record_area_size", d.recordAreaSize)
        .Number("next_slot_offset", d.nextSlotOffset)
        .Number("capacity", d.capacity)
        .Number("in_use", d.inUse)
        .Number("never_used", d.unusedLeft)
        .Number("next_slot", d.nextUnused)
        .Number("free_list_length", d.freeListLength)
        .Number("free_list_head", d.freeListHead)
        .Number("path_offset", d.pathOffset)
        .Number("path_size", d.pathSize)
        .Number("path_used", d.pathUsed)
        .Number("path_free", d.pathFree)
        .Number("record_size", d.recordSize)
        .Number("key_offset", d.keyOffset)
        .Number("key_size", d.keySize)
        .End();
}

void InfoJson(const DatabaseImage& image, std::string& out) {
    const FileHeader& h = image.layout.header;
    Json j(out);
    j.Object().Number("file_size", image.bytes.size());
    j.Object("header")
        .String("magic", std::string_view(h.magic.data(), 2))
        .Number("version", h.version)
        .Number("field4", h.field4)
        .Number("handle", h.handle)
        .Number("created", h.created)
        .Number("created2", h.created2)
        .Number("header_block_size", h.headerBlockSize)
        .Number("table_area_end", h.tableAreaEnd)
        .Number("field40", h.field40)
        .Number("table_count", h.tableCount)
        .Number("field44", h.field44)
        .Number("table_descriptor_offset", h.tableDescriptorOffset)
        .Number("address_index_built", h.addressIndexBuilt)
        .Number("address_index_descriptor_offset", h.addressIndexDescriptorOffset)
        .Number("name_index_built", h.nameIndexBuilt)
        .Number("name_index_descriptor_offset", h.nameIndexDescriptorOffset)
        .Number("alias_count", h.aliasCount)
        .Number("alias_offset", h.aliasOffset)
        .End();
    TableJson(j, "address_table", image.layout.address, image.layout.addressDescriptorOffset);
    TableJson(j, "name_table", image.layout.name, image.layout.nameDescriptorOffset);
    j.Object("address_index").Bool("built", image.addressIndexBuilt);
    if (image.addressIndexBuilt) {
        const AddressIndexDescriptor& d = image.addressIndex;
        j.Number("mask", d.mask)
            .Number("entries", image.addressEntries)
            .Number("bucket_offset", d.bucketOffset)
            .Number("bucket_size", d.bucketSize)
            .Number("key_offset", d.keyOffset)
            .Number("key_size", d.keySize)
            .Number("path_offset", d.pathOffset)
            .Number("path_size", d.pathSize);
    }
    j.End();
    j.Object("name_index").Bool("built", image.nameIndexBuilt);
    if (image.nameIndexBuilt) {
        const NameIndexDescriptor& d = image.nameIndex;
        j.Number("mask", d.mask)
            .Number("entries", d.count)
            .Number("offset", d.offset)
            .Number("size", d.sectionSize);
    }
    j.End().End();
}

// One entry: a line for the address (after `lead`), one per path item (after `indent`).
void EntryText(const AddressEntry& e, std::string& out, const char* lead, const char* indent) {
    out += Printf("%s%s  categories 0x%04x  entry %u  bucket %u", lead,
                  DottedAddress(e.address).c_str(), e.categories, e.number,
                  AddressIndexBucket(e.address));
    if (e.items.empty()) {
        out += "  no path data\n";
        return;
    }
    out += Printf("  path data at %u (longest key %u)\n", e.pathOffset, e.longestKey);
    for (const IndexPathItem& item : e.items)
        out += Printf("%s  path categories 0x%04x  key %s\n", indent, item.categories,
                      PathKeyForText(item.key).c_str());
}

void EntryJson(Json& j, std::string_view key, const AddressEntry& e) {
    j.Object(key)
        .Number("entry", e.number)
        .String("address", DottedAddress(e.address))
        .Number("address_word", e.address)
        .Number("bucket", AddressIndexBucket(e.address))
        .Number("categories", e.categories)
        .Number("path_offset", e.pathOffset);
    j.Array("items");
    for (const IndexPathItem& item : e.items)
        j.Object()
            .Number("categories", item.categories)
            .Number("kind", item.kind)
            .String("key", item.key)
            .String("hex", Hex(item.key))
            .End();
    j.End().End();
}

void NameText(const NameEntry& e, std::string& out, const char* indent) {
    out += Printf("%s%s  flags 0x%02x  categories 0x%04x  position %u\n", indent,
                  Quoted(e.key).c_str(), e.flags, e.categories, e.position);
}

void NameJson(Json& j, std::string_view key, const NameEntry& e) {
    j.Object(key)
        .Number("position", e.position)
        .String("key", e.key)
        .String("hex", Hex(e.key))
        .Number("flags", e.flags)
        .Number("categories", e.categories)
        .End();
}


// The path text a key is made from: after blanks and tabs, up to a byte of 32 or below or
// a ','.
std::string_view PathText(std::string_view path) {
    std::size_t i = 0;
    while (i < path.size() && (path[i] == ' ' || path[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < path.size() && static_cast<std::uint8_t>(path[j]) > 32 && path[j] != ',') ++j;
    return path.substr(i, j - i);
}

bool StartsWith(std::span<const std::uint8_t> whole, std::span<const std::uint8_t> part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

}  // namespace

bool OpenImage(std::span<const std::uint8_t> bytes, DatabaseImage& image, std::string& error) {
    image = DatabaseImage{};
    image.bytes = bytes;
    if (bytes.size() < kHeaderSize) {
        error = "file too short for a database header";
        return false;
    }
    const FileHeader header = DecodeHeader(bytes.first<kHeaderSize>());
    if (!CheckHeader(header, bytes.size(), error) ||
        !CheckTables(header,
                     bytes.subspan(header.tableDescriptorOffset).first<2 * kTableDescriptorSize>(),
                     bytes.size(), image.layout, error))
        return false;
    image.addressIndexBuilt = header.addressIndexBuilt != 0;
    image.nameIndexBuilt = header.nameIndexBuilt != 0;
    return (!image.addressIndexBuilt || CheckAddressIndex(image, error)) &&
           (!image.nameIndexBuilt || CheckNameIndex(image, error));
}

bool LoadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": cannot open";
        return false;
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) >= kMaxFileSize) {
        error = path + ": not a database file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.resize(static_cast<std::size_t>(st.st_size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()))) {
        error = path + ": cannot read";
        return false;
    }
    return true;
}

bool ReadAddressEntry(const DatabaseImage& image, std::uint32_t number, AddressEntry& entry,
                      std::string& error) {
    entry = AddressEntry{};
    const std::uint32_t count = image.addressEntries;
    if (!image.addressIndexBuilt || number >= count) {
        error = "address index: no such entry";
        return false;
    }
    auto keys = Section(image, image.addressIndex.keyOffset, image.addressIndex.keySize);
    auto paths = Section(image, image.addressIndex.pathOffset, image.addressIndex.pathSize);
    entry.number = number;
    entry.address = Get32(keys, 4 * std::size_t{number});
    entry.categories = Get16(keys, 4 * std::size_t{count} + 2 * std::size_t{number});
    entry.pathOffset = Get32(BucketSection(image), kBucketTableBytes + 4 * std::size_t{number});
    if (entry.pathOffset == kNoIndexPath) return true;

    // Path data: the longest key length, items (k, kind, categories, k key bytes), a 0.
    const std::size_t end = paths.size() - 2;
    std::size_t p = entry.pathOffset;
    if (p < kIndexPathReserved || p >= end) {
        error = Printf("address index: entry %u: path offset out of range", number);
        return false;
    }
    entry.longestKey = paths[p++];
    while (true) {
        if (p >= end) {
            error = Printf("address index: entry %u: path data runs past its section", number);
            return false;
        }
        const std::uint8_t k = paths[p];
        if (k == 0) break;
        if (p + 4 + k > end) {
            error = Printf("address index: entry %u: path item runs past its section", number);
            return false;
        }
        IndexPathItem item;
        item.kind = paths[p + 1];
        item.categories = Get16(paths, p + 2);
        item.key.assign(paths.begin() + p + 4, paths.begin() + p + 4 + k);
        entry.items.push_back(std::move(item));
        p += 4 + k;
    }
    return true;
}

bool ReadNameEntry(const DatabaseImage& image, std::uint32_t position, NameEntry& entry,
                   std::string& error) {
    entry = NameEntry{};
    const NameIndexDescriptor& d = image.nameIndex;
    if (!image.nameIndexBuilt || position >= d.count) {
        error = "name index: no such entry";
        return false;
    }
    auto section = Section(image, d.offset, d.sectionSize);
    auto pool = section.subspan(4 * std::size_t{d.count});
    const std::uint32_t offset = Get32(section, 4 * std::size_t{position});
    if (!Fits(pool, offset, 4) || !Fits(pool, offset, std::size_t{pool[offset]} + 5)) {
        error = Printf("name index: entry %u outside the name pool", position);
        return false;
    }
    const std::uint8_t n = pool[offset];
    entry.position = position;
    entry.poolOffset = offset;
    entry.flags = pool[offset + 1];
    entry.categories = Get16(pool, offset + 2);
    entry.key.assign(pool.begin() + offset + 4, pool.begin() + offset + 4 + n);
    return true;
}

Lookup FindAddress(const DatabaseImage& image, std::uint32_t address, AddressEntry& entry,
                   std::string& error) {
    if (!image.addressIndexBuilt) return Lookup::kAbsent;
    auto buckets = BucketSection(image);
    auto keys = Section(image, image.addressIndex.keyOffset, image.addressIndex.keySize);
    const std::uint32_t b = AddressIndexBucket(address);
    const std::uint32_t first = Get32(buckets, 4 * b), end = Get32(buckets, 4 * (b + 1));
    for (std::uint32_t e = first; e < end; ++e) {
        if (Get32(keys, 4 * std::size_t{e}) != address) continue;
        return ReadAddressEntry(image, e, entry, error) ? Lookup::kFound : Lookup::kCorrupt;
    }
    return Lookup::kAbsent;
}

Lookup FindName(const DatabaseImage& image, std::span<const std::uint8_t> key, NameEntry& entry,
                std::string& error) {
    if (!image.nameIndexBuilt) return Lookup::kAbsent;
    std::uint32_t low = 0, high = image.nameIndex.count;
    while (low < high) {
        const std::uint32_t mid = low + (high - low) / 2;
        if (!ReadNameEntry(image, mid, entry, error)) return Lookup::kCorrupt;
        if (std::lexicographical_compare(entry.key.begin(), entry.key.end(), key.begin(),
                                         key.end())) {
            low = mid + 1;
        } else if (std::lexicographical_compare(key.begin(), key.end(), entry.key.begin(),
                                                entry.key.end())) {
            high = mid;
        } else {
            return Lookup::kFound;
        }
    }
    return Lookup::kAbsent;
}

bool ParseDottedAddress(std::string_view text, std::uint32_t& address) {
    std::uint32_t result = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        result |= value << (8 * part);
    }
    if (i != text.size()) return false;
    address = result;
    return true;
}

std::string DottedAddress(std::uint32_t a) {
    return Printf("%u.%u.%u.%u", a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF, a >> 24);
}

std::vector<std::uint8_t> PathKeyText(std::string_view path) {
    std::vector<std::uint8_t> key;
    for (char c : PathText(path)) key.push_back(static_cast<std::uint8_t>(c) | 0x20);
    return key;
}

std::vector<std::uint8_t> PathKeySegments(std::string_view path) {
    constexpr std::size_t kMaxKey = 4096;
    std::string_view text = PathText(path);
    if (!text.empty() && text.front() == '/') text.remove_prefix(1);
    std::vector<std::uint8_t> key;
    auto append = [&key](std::uint32_t v) {
        if (key.size() + 4 > kMaxKey) return;
        for (int i = 0; i < 4; ++i) key.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    std::uint32_t crc = 0;
    bool pending = false;  // bytes since the last '/'
    for (char ch : text) {
        std::uint8_t c = static_cast<std::uint8_t>(ch);
        if (c == '/') {
            append(crc);
            pending = false;
            continue;
        }
        if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c | 0x20);
        crc = CrcTable()[(crc ^ c) & 0xFF] ^ (crc >> 8);
        pending = true;
    }
    if (pending) append(crc);
    return key;
}

std::vector<std::string> DomainKeys(std::string_view name) {
    const NameKey normal = MakeNameKey(name, 0);
    std::string text(normal.bytes.begin(), normal.bytes.end());
    while (!text.empty() && text.back() == '.') text.pop_back();
    if (text.empty()) return {};

    std::vector<std::string> labels;
    for (std::size_t start = 0;;) {
        const std::size_t dot = text.find('.', start);
        labels.push_back(text.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    // Dotted numbers (each one followed by a '.' at most 255) keep their order; other names
    // are reversed by label.
    bool numeric = true;
    for (std::size_t i = 0; i < labels.size() && numeric; ++i) {
        const std::string& l = labels[i];
        numeric = std::all_of(l.begin(), l.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (numeric && i + 1 < labels.size())
            numeric = !l.empty() && l.size() <= 3 && std::stoi(l) <= 255;
    }
    if (!numeric) std::reverse(labels.begin(), labels.end());

    std::vector<std::string> keys;
    std::string key;
    for (const std::string& l : labels) {
        if (&l != &labels.front()) key += '.';
        key += l;
        keys.push_back(key);
    }
    std::reverse(keys.begin(), keys.end());
    return keys;
}

bool ReportInfo(const DatabaseImage& image, ReportFormat format, std::string& out, std::string&) {
    if (format == ReportFormat::kJson)
        InfoJson(image, out);
    else
        InfoText(image, out);
    return true;
}

bool ReportDump(const DatabaseImage& image, ReportFormat format, std::string& out,
                std::string& error) {
    std::vector<AddressEntry> addresses(image.addressEntries);
    for (std::uint32_t e = 0; e < image.addressEntries; ++e)
        if (!ReadAddressEntry(image, e, addresses[e], error)) return false;
    std::vector<NameEntry> names(image.nameIndexBuilt ? image.nameIndex.count : 0);
    for (std::uint32_t i = 0; i < names.size(); ++i)
        if (!ReadNameEntry(image, i, names[i], error)) return false;

    if (format == ReportFormat::kJson) {
        Json j(out);
        j.Object().Object("address_index").Bool("built", image.addressIndexBuilt);
        if (image.addressIndexBuilt) j.Number("mask", image.addressIndex.mask);
        j.Array("entries");
        for (const AddressEntry& e : addresses) EntryJson(j, {}, e);
        j.End().End();
        j.Object("name_index").Bool("built", image.nameIndexBuilt);
        if (image.nameIndexBuilt) j.Number("mask", image.nameIndex.mask);
        j.Array("entries");
        for (const NameEntry& e : names) NameJson(j, {}, e);
        j.End().End().End();
        return true;
    }
    if (image.addressIndexBuilt)
        out += Printf("address index: %u entries, mask 0x%04x\n", image.addressEntries,
                      image.addressIndex.mask);
    else
        out += "address index: not built\n";
    for (const AddressEntry& e : addresses) EntryText(e, out, "  ", "    ");
    if (image.nameIndexBuilt)
        out += Printf("name index: %zu entries, mask 0x%04x\n", names.size(), image.nameIndex.mask);
    else
        out += "name index: not built\n";
    for (const NameEntry& e : names) NameText(e, out, "  ");
    return true;
}

bool ReportLookup(const DatabaseImage& image, std::string_view query,
                  std::optional<std::string_view> path, ReportFormat format, std::string& out,
                  std::string& error) {
    const bool json = format == ReportFormat::kJson;
    Json j(out);
    if (json) j.Object().String("query", query);

    std::uint32_t address = 0;
    if (ParseDottedAddress(query, address)) {
        AddressEntry entry;
        const Lookup found = FindAddress(image, address, entry, error);
        if (found == Lookup::kCorrupt) return false;
        if (json) {
            j.Object("address")
                .String("address", DottedAddress(address))
                .Number("bucket", AddressIndexBucket(address))
                .Bool("found", found == Lookup::kFound);
            if (found == Lookup::kFound) EntryJson(j, "entry", entry);
        } else if (!image.addressIndexBuilt) {
            out += "address index: not built\n";
        } else if (found == Lookup::kFound) {
            EntryText(entry, out, "address ", "  ");
        } else {
            out += Printf("address %s: not in the address index (bucket %u)\n",
                          DottedAddress(address).c_str(), AddressIndexBucket(address));
        }
        if (path) {
            // An item applies when its key leads the path's key, in either key form; text
            // keys are tried against the path with and without its leading '/'.
            const auto text = PathKeyText(*path);
            const std::span<const std::uint8_t> bare =
                !text.empty() && text.front() == '/' ? std::span(text).subspan(1) : std::span(text);
            const auto segments = PathKeySegments(*path);
            if (json) j.Object("path").String("path", *path).Array("matches");
            if (!json) out += Printf("path %s:", Quoted(AsBytes(*path)).c_str());
            bool any = false;
            for (std::size_t i = 0; found == Lookup::kFound && i < entry.items.size(); ++i) {
                const auto& key = entry.items[i].key;
                const char* form = nullptr;
                bool exact = false;
                if (StartsWith(text, key)) {
                    form = "text";
                    exact = key.size() == text.size();
                } else if (StartsWith(bare, key)) {
                    form = "text";
                    exact = key.size() == bare.size();
                } else if (key.size() % 4 == 0 && StartsWith(segments, key)) {
                    form = "segments";
                    exact = key.size() == segments.size();
                } else {
                    continue;
                }
                any = true;
                if (json)
                    j.Object()
                        .Number("item", i)
                        .String("form", form)
                        .Bool("exact", exact)
                        .Number("categories", entry.items[i].categories)
                        .End();
                else
                    out += Printf(" item %zu (%s, %s, categories 0x%04x)", i, form,
                                  exact ? "whole path" : "leading part", entry.items[i].categories);
            }
            if (json) j.End().End();
            if (!json) out += any ? "\n" : " no path item matches\n";
        }
        if (json) j.End();
    }

    // The name index: every key the name is stored under, plain and with the 0xFF lead byte.
    if (json) j.Array("names");
    std::vector<std::string> tried;
    bool anyName = false;
    for (const std::string& domain : DomainKeys(query)) {
        for (std::uint16_t flags : {std::uint16_t{0}, kFlagOpposite}) {
            const NameKey key = MakeNameKey(domain, flags);
            NameEntry entry;
            const Lookup found = FindName(image, key.bytes, entry, error);
            if (found == Lookup::kCorrupt) return false;
            anyName = anyName || found == Lookup::kFound;
            if (json) {
                j.Object().String("key", key.bytes).Bool("found", found == Lookup::kFound);
                if (found == Lookup::kFound) NameJson(j, "entry", entry);
                j.End();
            } else if (found == Lookup::kFound) {
                NameText(entry, out, "name ");
            } else if (flags == 0) {
                tried.push_back(Quoted(key.bytes));
            }
        }
    }
    if (!json && !image.nameIndexBuilt) {
        out += "name index: not built\n";
    } else if (!json && !anyName) {
        std::string keys;
        for (const std::string& k : tried) keys += (keys.empty() ? "" : ", ") + k;
        out += Printf("name index: nothing for %s (keys %s, each also with the 0xff lead byte)\n",
                      Quoted(AsBytes(query)).c_str(), keys.c_str());
    }
    if (json) j.End().End();
    return true;
}

}  // namespace dbbuild
