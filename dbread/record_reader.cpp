#include "dbread/record_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>

#include "dbread/bytes.h"
#include "dbread/text.h"

namespace dbread {
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

// The path text a key is made from: after blanks and tabs, up to a byte of 32 or below or
// a ','.
std::string_view PathText(std::string_view path) {
    std::size_t i = 0;
    while (i < path.size() && (path[i] == ' ' || path[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < path.size() && static_cast<std::uint8_t>(path[j]) > 32 && path[j] != ',') ++j;
    return path.substr(i, j - i);
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

bool ReadAddressEntryView(const DatabaseImage& image, std::uint32_t number,
                          AddressEntryView& entry, std::string& error) {
    entry = AddressEntryView{};
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
    const std::size_t start = entry.pathOffset;
    if (start < kIndexPathReserved || start >= end) {
        error = Printf("address index: entry %u: path offset out of range", number);
        return false;
    }
    entry.longestKey = paths[start];
    std::size_t p = start + 1;
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
        p += 4 + k;
    }
    entry.items = paths.subspan(start + 1, p - start - 1);
    return true;
}

bool NextIndexPathItem(std::span<const std::uint8_t>& rest, PathItemView& item) {
    if (rest.size() < 4 || rest[0] == 0 || rest.size() < 4 + std::size_t{rest[0]}) return false;
    const std::size_t k = rest[0];
    item.kind = rest[1];
    item.categories = Get16(rest, 2);
    item.key = rest.subspan(4, k);
    rest = rest.subspan(4 + k);
    return true;
}

bool ReadAddressEntry(const DatabaseImage& image, std::uint32_t number, AddressEntry& entry,
                      std::string& error) {
    entry = AddressEntry{};
    AddressEntryView view;
    if (!ReadAddressEntryView(image, number, view, error)) return false;
    entry.number = view.number;
    entry.address = view.address;
    entry.categories = view.categories;
    entry.pathOffset = view.pathOffset;
    entry.longestKey = view.longestKey;
    PathItemView item;
    for (auto rest = view.items; NextIndexPathItem(rest, item);)
        entry.items.push_back({item.kind, item.categories, {item.key.begin(), item.key.end()}});
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

namespace {

// The number of the first entry of the address in its bucket.
Lookup FindEntryNumber(const DatabaseImage& image, std::uint32_t address, std::uint32_t& number) {
    if (!image.addressIndexBuilt) return Lookup::kAbsent;
    auto buckets = BucketSection(image);
    auto keys = Section(image, image.addressIndex.keyOffset, image.addressIndex.keySize);
    const std::uint32_t b = AddressIndexBucket(address);
    const std::uint32_t first = Get32(buckets, 4 * b), end = Get32(buckets, 4 * (b + 1));
    for (std::uint32_t e = first; e < end; ++e) {
        if (Get32(keys, 4 * std::size_t{e}) != address) continue;
        number = e;
        return Lookup::kFound;
    }
    return Lookup::kAbsent;
}

}  // namespace

Lookup FindAddress(const DatabaseImage& image, std::uint32_t address, AddressEntry& entry,
                   std::string& error) {
    std::uint32_t number = 0;
    const Lookup found = FindEntryNumber(image, address, number);
    if (found != Lookup::kFound) return found;
    return ReadAddressEntry(image, number, entry, error) ? Lookup::kFound : Lookup::kCorrupt;
}

Lookup FindAddressView(const DatabaseImage& image, std::uint32_t address, AddressEntryView& entry,
                       std::string& error) {
    std::uint32_t number = 0;
    const Lookup found = FindEntryNumber(image, address, number);
    if (found != Lookup::kFound) return found;
    return ReadAddressEntryView(image, number, entry, error) ? Lookup::kFound : Lookup::kCorrupt;
}

Lookup FindName(const DatabaseImage& image, std::span<const std::uint8_t> key, NameEntry& entry,
                std::string& error) {
    if (!image.nameIndexBuilt) return Lookup::kAbsent;
    const NameIndexDescriptor& d = image.nameIndex;
    auto section = Section(image, d.offset, d.sectionSize);
    auto pool = section.subspan(4 * std::size_t{d.count});
    std::uint32_t low = 0, high = d.count;
    while (low < high) {
        const std::uint32_t mid = low + (high - low) / 2;
        // Compared where it lies; the entry is read out only when found.
        const std::uint32_t offset = Get32(section, 4 * std::size_t{mid});
        if (!Fits(pool, offset, 4) || !Fits(pool, offset, std::size_t{pool[offset]} + 5)) {
            error = Printf("name index: entry %u outside the name pool", mid);
            return Lookup::kCorrupt;
        }
        const auto stored = pool.subspan(offset + 4, pool[offset]);
        if (std::lexicographical_compare(stored.begin(), stored.end(), key.begin(), key.end())) {
            low = mid + 1;
        } else if (std::lexicographical_compare(key.begin(), key.end(), stored.begin(),
                                                stored.end())) {
            high = mid;
        } else {
            return ReadNameEntry(image, mid, entry, error) ? Lookup::kFound : Lookup::kCorrupt;
        }
    }
    return Lookup::kAbsent;
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

}  // namespace dbread
