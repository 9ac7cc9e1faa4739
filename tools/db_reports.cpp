#include "tools/db_reports.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "dbread/record_format.h"
#include "dbread/text.h"

namespace dbreports {

using namespace dbread;

namespace {

// ---- Text forms ----

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

// A JSON string; bytes outside printable ASCII are written as \u00XX, so any key survives a
// round trip.
std::string JsonString(std::span<const std::uint8_t> bytes) {
    std::string out = "\"";
    for (std::uint8_t c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            out += Printf("\\u%04x", c);
        }
    }
    return out + "\"";
}
std::string JsonString(std::string_view text) {
    return JsonString(AsBytes(text));
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
    void Text(std::span<const std::uint8_t> bytes) { out_ += JsonString(bytes); }

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

bool StartsWith(std::span<const std::uint8_t> whole, std::span<const std::uint8_t> part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// ---- DNSHASH.DAT ----

std::string TextName(std::string_view name) {
    std::string out;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b > 0x20 && b < 0x7F && b != '\\')
            out += c;
        else
            out += Printf("\\x%02x", b);
    }
    return out;
}

std::string JsonRecord(const DnsHashImage& image, std::uint32_t index, const DnsNameRecord& r) {
    return Printf("{\"index\":%u,\"name\":", index) + JsonString(r.Name()) + ",\"address\":\"" +
           DottedAddress(r.value) + "\"" +
           Printf(",\"bucket\":%u,\"next\":%u}", r.hash % image.header.bucketCount, r.next);
}

std::string TextRecordLine(const DnsHashImage& image, std::uint32_t index, const DnsNameRecord& r) {
    return Printf("%10u %10u %10u  %-15s  ", index, r.hash % image.header.bucketCount, r.next,
                  DottedAddress(r.value).c_str()) +
           TextName(r.Name()) + "\n";
}

}  // namespace

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

bool DnsHashInfoText(const DnsHashImage& image, std::string& out, std::string& error) {
    DnsHashSummary s;
    if (!CheckDnsHash(image, s, error)) return false;
    const DnsHashHeader& h = image.header;
    out = "DNS resolving database\n";
    out += Printf("magic          0x%04x\n", h.magic);
    out += Printf("record size    %u\n", h.recordSize);
    out += Printf("bucket table   offset %u, %u buckets, %u used\n", h.tableOffset, h.bucketCount,
                  s.bucketsUsed);
    out += Printf("record area    offset %u\n", h.recordOffset);
    out += Printf("records        %u\n", h.recordCount);
    out += Printf("name bytes     %u\n", h.nameBytes);
    out += Printf("longest ring   %u\n", s.longestRing);
    out += Printf("file size      %llu\n", static_cast<unsigned long long>(image.size));
    return true;
}

bool DnsHashInfoJson(const DnsHashImage& image, std::string& out, std::string& error) {
    DnsHashSummary s;
    if (!CheckDnsHash(image, s, error)) return false;
    const DnsHashHeader& h = image.header;
    out = Printf("{\"magic\":%u,\"recordSize\":%u,\"tableOffset\":%u,\"bucketCount\":%u,", h.magic,
                 h.recordSize, h.tableOffset, h.bucketCount);
    out += Printf("\"recordOffset\":%u,\"recordCount\":%u,\"nameBytes\":%u,", h.recordOffset,
                  h.recordCount, h.nameBytes);
    out += Printf("\"bucketsUsed\":%u,\"longestRing\":%u,\"fileSize\":%llu}\n", s.bucketsUsed,
                  s.longestRing, static_cast<unsigned long long>(image.size));
    return true;
}

bool DnsHashDumpText(const DnsHashImage& image, std::string& out, std::string& error) {
    DnsHashSummary s;
    if (!CheckDnsHash(image, s, error)) return false;
    std::string text =
        Printf("%10s %10s %10s  %-15s  %s\n", "index", "bucket", "next", "address", "name");
    if (!ForEachDnsRecord(image, error, [&](std::uint32_t i, const DnsNameRecord& r) {
            text += TextRecordLine(image, i, r);
            return true;
        }))
        return false;
    out = std::move(text);
    return true;
}

bool DnsHashDumpJson(const DnsHashImage& image, std::string& out, std::string& error) {
    DnsHashSummary s;
    if (!CheckDnsHash(image, s, error)) return false;
    std::string text = Printf("{\"bucketCount\":%u,\"records\":[", image.header.bucketCount);
    if (!ForEachDnsRecord(image, error, [&](std::uint32_t i, const DnsNameRecord& r) {
            if (i > 0) text += ",";
            text += JsonRecord(image, i, r);
            return true;
        }))
        return false;
    out = std::move(text) + "]}\n";
    return true;
}

bool DnsHashLookupText(const DnsHashImage& image, std::string_view name, std::string& out,
                       std::string& error) {
    DnsLookupResult r;
    if (!LookupDnsName(image, name, r, error)) return false;
    out = "name     " + TextName(name.substr(0, kDnsMaxName)) + "\n";
    out += Printf("hash     0x%08x\n", r.hash);
    out += Printf("bucket   %u of %u\n", r.bucket, image.header.bucketCount);
    out += "ring    ";
    if (r.visited.empty()) out += " (empty)";
    for (std::size_t i = 0; i < r.visited.size(); ++i)
        out += (i ? " -> " : " ") + std::to_string(r.visited[i]);
    out += "\n";
    if (r.found)
        out += Printf("found    record %u: ", r.index) + DottedAddress(r.record.value) + "\n";
    else
        out += "found    no\n";
    return true;
}

bool DnsHashLookupJson(const DnsHashImage& image, std::string_view name, std::string& out,
                       std::string& error) {
    DnsLookupResult r;
    if (!LookupDnsName(image, name, r, error)) return false;
    out = "{\"name\":" + JsonString(name.substr(0, kDnsMaxName)) +
          Printf(",\"hash\":%u,\"bucket\":%u,\"ring\":[", r.hash, r.bucket);
    for (std::size_t i = 0; i < r.visited.size(); ++i)
        out += (i ? "," : "") + std::to_string(r.visited[i]);
    out += Printf("],\"found\":%s", r.found ? "true" : "false");
    if (r.found) out += ",\"record\":" + JsonRecord(image, r.index, r.record);
    out += "}\n";
    return true;
}

}  // namespace dbreports
