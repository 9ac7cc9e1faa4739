#include "dbread/list_file.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "dbread/bytes.h"
#include "dbread/record_reader.h"

namespace dbread {
namespace {

void Append16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Append32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool Fail(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

std::string Hex(std::size_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%zx", v);
    return buf;
}

// Walks every record of an address section; false with the reason at the first one that
// does not fit.
bool CheckRecordSection(std::span<const std::uint8_t> section, const char* what, std::size_t& count,
                        std::string& why) {
    std::size_t pos = 0;
    ListRecord record;
    count = 0;
    for (;;) {
        switch (ReadListRecord(section, pos, record, why)) {
            case ListRead::kEntry:
                ++count;
                break;
            case ListRead::kEnd:
                return true;
            case ListRead::kCorrupt:
                return Fail(why, std::string(what) + " section: " + why);
        }
    }
}

bool CheckAliasSection(std::span<const std::uint8_t> section, std::size_t& pairs,
                       std::string& why) {
    std::size_t pos = 0;
    ListAlias alias;
    pairs = 0;
    for (;;) {
        switch (ReadListAlias(section, pos, alias, why)) {
            case ListRead::kEntry:
                pairs += alias.aliases.size() / 4;
                break;
            case ListRead::kEnd:
                return true;
            case ListRead::kCorrupt:
                return Fail(why, "alias section: " + why);
        }
    }
}

bool CheckSections(std::span<const std::uint8_t> content, ListLayout& layout, std::string& why) {
    return CheckRecordSection(SectionBytes(content, layout.addresses), "address",
                              layout.addressRecords, why) &&
           CheckRecordSection(SectionBytes(content, layout.siteBlocks), "site-block",
                              layout.siteBlockRecords, why) &&
           CheckAliasSection(SectionBytes(content, layout.aliases), layout.aliasPairs, why);
}

bool ReadExtended(std::span<const std::uint8_t> content, unsigned acceptedSet, ListLayout& layout,
                  std::string& why) {
    if (content.size() < kListDirectoryOffset)
        return Fail(why,
                    "extended header cut short (" + std::to_string(content.size()) + " bytes)");
    if (Get16(content, 2) <= 12)
        return Fail(why, "header size " + std::to_string(Get16(content, 2)) + " is not above 12");
    layout.family = static_cast<char>(content[4]);
    layout.kind = static_cast<char>(content[5]);
    layout.kindBit = ListKindBit(layout.family, layout.kind);
    if (layout.kindBit == 0)
        return Fail(why, "unknown list family/kind " + Hex(content[4]) + "/" + Hex(content[5]));
    if ((layout.kindBit & acceptedSet) == 0)
        return Fail(why, std::string("list family ") + layout.family + " kind " + layout.kind +
                             " is not accepted");
    layout.flags = content[6];
    if (layout.flags & 0x06)
        return Fail(why, "flags " + Hex(layout.flags) + " have bit 1 or 2 set");
    layout.level = layout.kind == 'N' ? 2 : 3;
    layout.report = (layout.flags & 1) + 1;

    const std::size_t count = Get16(content, 12);
    if (count == 0) return Fail(why, "the directory is empty");
    const std::size_t directoryEnd = kListDirectoryOffset + count * kListDirectoryEntrySize;
    if (directoryEnd > content.size())
        return Fail(why, "the directory of " + std::to_string(count) +
                             " entries runs past the end of the file");
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = kListDirectoryOffset + i * kListDirectoryEntrySize;
        ListDirectoryEntry entry;
        entry.letter = static_cast<char>(content[e]);
        entry.offset = Get32(content, e + 2);
        entry.length = Get32(content, e + 6);
        const std::uint64_t end = std::uint64_t{entry.offset} + entry.length;
        if (end > content.size())
            return Fail(why, "directory entry " + std::to_string(i) + " ('" +
                                 std::string(1, entry.letter) + "') points outside the file: " +
                                 Hex(entry.offset) + " + " + Hex(entry.length));
        const auto s = content.subspan(entry.offset, entry.length);
        entry.marked = s.size() >= 4 && s[0] == 'S' && s[1] == 'D' && s[s.size() - 2] == 'E' &&
                       s[s.size() - 1] == 'D';
        layout.directory.push_back(entry);
        if (!entry.marked) continue;
        const ListSpan span{std::size_t{entry.offset} + 2, std::size_t{entry.length} - 4};
        switch (entry.letter) {
            case 'I':
                layout.addresses = span;
                break;
            case 'L':
                layout.siteBlocks = span;
                break;
            case 'A':
                layout.aliases = span;
                break;
            case 'N':
                layout.names = span;
                break;
            default:
                break;
        }
    }
    return true;
}

bool ReadShort(std::string_view fileName, std::span<const std::uint8_t> content, ListLayout& layout,
               std::string& why) {
    const std::uint8_t b = content[0];
    const std::uint8_t form = b & 0xEF;
    if (form == 0xEA && fileName == "VELDA.NOT")
        return Fail(why, "first byte " + Hex(b) + " is not allowed in VELDA.NOT");
    if (form != 0xEB && form != 0xEE && form != 0xEA)
        return Fail(why, "first byte " + Hex(b) + " names no list layout");
    layout.level = 1;
    layout.report = form == 0xEB ? kApprovedList : kRestrictedList;
    const std::size_t n = Get16(content, 1) + ((b & 0x10) ? 0 : 65536);
    if (3 + n > content.size())
        return Fail(why, "the address section of " + std::to_string(n) +
                             " bytes runs past the end of the file");
    layout.addresses = {3, n};
    layout.names = {3 + n, content.size() - 3 - n};
    return true;
}

void AppendRecord(std::vector<std::uint8_t>& out, const ListRecordData& r) {
    Append32(out, r.address);
    if (r.items.empty()) {
        Append16(out, r.categories);
        if (r.categories == 0) out.push_back(0);  // an empty list of items
        return;
    }
    Append16(out, 0);
    for (const auto& item : r.items) {
        out.push_back(static_cast<std::uint8_t>(kListItemHeadSize + item.key.size()));
        Append16(out, item.categories);
        out.insert(out.end(), item.key.begin(), item.key.end());
    }
    out.push_back(0);
}

bool CheckRecords(const std::vector<ListRecordData>& records, const char* what, std::string& why) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::size_t bytes = 0;
        for (const auto& item : records[i].items) {
            if (item.key.size() > kMaxListItemKey)
                return Fail(why, std::string(what) + " record " + std::to_string(i) +
                                     ": a path key of " + std::to_string(item.key.size()) +
                                     " bytes is longer than 252");
            bytes += kListItemHeadSize + item.key.size();
        }
        if (bytes > kMaxListRecordItemBytes)
            return Fail(why, std::string(what) + " record " + std::to_string(i) +
                                 ": its path items (" + std::to_string(bytes) +
                                 " bytes) do not fit one path block");
    }
    return true;
}

std::vector<std::uint8_t> RecordSection(const std::vector<ListRecordData>& records) {
    std::vector<std::uint8_t> out;
    for (const auto& r : records) AppendRecord(out, r);
    return out;
}

std::vector<std::uint8_t> NameSection(const std::vector<std::string>& names) {
    std::vector<std::uint8_t> out;
    for (const auto& n : names) {
        out.push_back(static_cast<std::uint8_t>(n.size()));
        out.insert(out.end(), n.begin(), n.end());
    }
    return out;
}

bool DecodeRecords(std::span<const std::uint8_t> section, std::vector<ListRecordData>& out,
                   std::string& why) {
    std::size_t pos = 0;
    ListRecord r;
    ListRead read;
    while ((read = ReadListRecord(section, pos, r, why)) == ListRead::kEntry) {
        ListRecordData data{r.address, r.categories, {}};
        std::size_t at = 0;
        ListPathItem item;
        while (NextPathItem(r.items, at, item))
            data.items.push_back({item.categories, {item.key.begin(), item.key.end()}});
        out.push_back(std::move(data));
    }
    return read == ListRead::kEnd;
}

bool DecodeNames(std::span<const std::uint8_t> section, std::vector<std::string>& names) {
    std::size_t pos = 0;
    while (pos < section.size()) {
        const std::size_t n = section[pos];
        if (n == 0) return true;
        if (pos + 1 + n > section.size()) return false;
        names.emplace_back(reinterpret_cast<const char*>(section.data() + pos + 1), n);
        pos += 1 + n;
    }
    return true;
}

}  // namespace

unsigned ListKindBit(char family, char kind) {
    if (kind != 'N' && kind != 'H') return 0;
    const bool n = kind == 'N';
    switch (family) {
        case 'C':
            return n ? 1 : 8;
        case 'H':
            return n ? 64 : 16;
        case 'L':
            return n ? 128 : 32;
        default:
            return 0;
    }
}

std::span<const std::uint8_t> SectionBytes(std::span<const std::uint8_t> content, ListSpan span) {
    if (span.offset > content.size() || span.size > content.size() - span.offset) return {};
    return content.subspan(span.offset, span.size);
}

bool ReadListLayout(std::string_view fileName, std::span<const std::uint8_t> content,
                    unsigned acceptedSet, ListLayout& layout, std::string& why) {
    layout = ListLayout{};
    if (content.size() < kMinListFileSize)
        return Fail(why, "shorter than " + std::to_string(kMinListFileSize) + " bytes");
    if (content.size() > kMaxListFileSize)
        return Fail(why, "longer than " + std::to_string(kMaxListFileSize) + " bytes");
    layout.firstByte = content[0];
    layout.extended = content[0] == kExtendedListMark;
    const bool ok = layout.extended ? ReadExtended(content, acceptedSet, layout, why)
                                    : ReadShort(fileName, content, layout, why);
    if (ok && CheckSections(content, layout, why)) return true;
    layout = ListLayout{};
    return false;
}

ListRead ReadListRecord(std::span<const std::uint8_t> section, std::size_t& pos, ListRecord& record,
                        std::string& why) {
    if (pos >= section.size()) return ListRead::kEnd;
    const std::size_t start = pos;
    if (section.size() - start < kListRecordHeadSize) {
        why = "record at " + Hex(start) + " is cut short by the section's end";
        return ListRead::kCorrupt;
    }
    record.address = Get32(section, start);
    record.categories = Get16(section, start + 4);
    std::size_t p = start + kListRecordHeadSize;
    const std::size_t itemsStart = p;
    if (record.categories == 0) {
        while (p < section.size() && section[p] != 0) {
            const std::size_t length = section[p];
            if (length < kListItemHeadSize) {
                why = "path item at " + Hex(p) +
                      " is shorter than its head (L = " + std::to_string(length) + ")";
                return ListRead::kCorrupt;
            }
            if (length > section.size() - p) {
                why = "path item at " + Hex(p) + " (L = " + std::to_string(length) +
                      ") runs past the section's end";
                return ListRead::kCorrupt;
            }
            p += length;
            if (p - itemsStart > kMaxListRecordItemBytes) {
                why = "record at " + Hex(start) + " has more path items than one block holds";
                return ListRead::kCorrupt;
            }
        }
    }
    record.items = section.subspan(itemsStart, p - itemsStart);
    if (record.categories == 0 && p < section.size()) ++p;  // the ending 0
    pos = p;
    return ListRead::kEntry;
}

bool NextPathItem(std::span<const std::uint8_t> items, std::size_t& pos, ListPathItem& item) {
    if (pos >= items.size()) return false;
    const std::size_t length = items[pos];
    if (length < kListItemHeadSize || length > items.size() - pos) return false;
    item.categories = Get16(items, pos + 1);
    item.key = items.subspan(pos + kListItemHeadSize, length - kListItemHeadSize);
    pos += length;
    return true;
}

ListRead ReadListAlias(std::span<const std::uint8_t> section, std::size_t& pos, ListAlias& alias,
                       std::string& why) {
    if (pos >= section.size()) return ListRead::kEnd;
    const std::size_t left = section.size() - pos;
    if (left < 4) {
        why = "alias entry at " + Hex(pos) + " is cut short by the section's end";
        return ListRead::kCorrupt;
    }
    alias.canonical = Get32(section, pos);
    if (alias.canonical == 0) return ListRead::kEnd;
    if (left < 5) {
        why = "alias entry at " + Hex(pos) + " has no count";
        return ListRead::kCorrupt;
    }
    const std::size_t n = section[pos + 4];
    if (5 + 4 * n > left) {
        why = "alias entry at " + Hex(pos) + " with " + std::to_string(n) +
              " aliases runs past the section's end";
        return ListRead::kCorrupt;
    }
    alias.aliases = section.subspan(pos + 5, 4 * n);
    pos += 5 + 4 * n;
    return ListRead::kEntry;
}

std::uint32_t ListAliasAt(const ListAlias& alias, std::size_t i) {
    return Get32(alias.aliases, 4 * i);
}

bool EncodeListFile(const ListContent& list, std::vector<std::uint8_t>& content, std::string& why) {
    content.clear();
    if (list.level < 1 || list.level > 3)
        return Fail(why, "format level " + std::to_string(list.level) + " is not 1, 2 or 3");
    if (!CheckRecords(list.addresses, "address", why) ||
        !CheckRecords(list.siteBlocks, "site-block", why))
        return false;
    for (const auto& name : list.names)
        if (name.empty() || name.size() > 255)
            return Fail(why, "name \"" + name + "\" is empty or longer than 255 bytes");
    for (const auto& a : list.aliases)
        if (a.canonical == 0) return Fail(why, "an alias entry's canonical address is 0.0.0.0");

    const std::vector<std::uint8_t> addresses = RecordSection(list.addresses);
    const std::vector<std::uint8_t> names = NameSection(list.names);
    std::vector<std::uint8_t> out;
    if (list.level == 1) {
        if (!list.siteBlocks.empty() || !list.aliases.empty())
            return Fail(why, "a level 1 list has no site-block or alias section");
        const std::size_t n = addresses.size();
        if (n > 0xFFFF + 65536)
            return Fail(why, "the address section (" + std::to_string(n) +
                                 " bytes) is too long for level 1 (at most 131071)");
        const bool small = n <= 0xFFFF;
        out.push_back(
            static_cast<std::uint8_t>((list.approved ? 0xEB : 0xEE) | (small ? 0x10 : 0)));
        out.resize(3);
        Put16(out, 1, small ? n : n - 65536);
        out.insert(out.end(), addresses.begin(), addresses.end());
        out.insert(out.end(), names.begin(), names.end());
        if (out.size() < kMinListFileSize) out.resize(kMinListFileSize, 0);  // names end at a 0
    } else {
        std::vector<std::uint8_t> aliases;
        for (const auto& a : list.aliases) {
            std::size_t i = 0;
            do {
                const std::size_t n = std::min<std::size_t>(255, a.aliases.size() - i);
                Append32(aliases, a.canonical);
                aliases.push_back(static_cast<std::uint8_t>(n));
                for (std::size_t k = 0; k < n; ++k) Append32(aliases, a.aliases[i + k]);
                i += n;
            } while (i < a.aliases.size());
        }
        struct Section {
            char letter;
            const std::vector<std::uint8_t>* bytes;
        };
        const std::vector<std::uint8_t> blocks = RecordSection(list.siteBlocks);
        std::vector<Section> sections{{'I', &addresses}};
        if (!list.siteBlocks.empty()) sections.push_back({'L', &blocks});
        if (!list.aliases.empty()) sections.push_back({'A', &aliases});
        if (!list.names.empty()) sections.push_back({'N', &names});

        const std::size_t headerSize =
            kListDirectoryOffset + sections.size() * kListDirectoryEntrySize;
        std::size_t total = headerSize;
        for (const auto& s : sections) total += s.bytes->size() + 4;
        if (total > kMaxListFileSize)
            return Fail(why, "the list (" + std::to_string(total) + " bytes) is longer than " +
                                 std::to_string(kMaxListFileSize) + " bytes");
        out.reserve(total);
        out.assign(headerSize, 0);
        out[0] = kExtendedListMark;
        Put16(out, 2, headerSize);
        out[4] = 'C';
        out[5] = list.level == 2 ? 'N' : 'H';
        out[6] = list.approved ? 1 : 0;
        Put16(out, 12, sections.size());
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const std::size_t e = kListDirectoryOffset + i * kListDirectoryEntrySize;
            out[e] = static_cast<std::uint8_t>(sections[i].letter);
            Put32(out, e + 2, out.size());
            Put32(out, e + 6, sections[i].bytes->size() + 4);
            out.push_back('S');
            out.push_back('D');
            out.insert(out.end(), sections[i].bytes->begin(), sections[i].bytes->end());
            out.push_back('E');
            out.push_back('D');
        }
    }
    if (out.size() > kMaxListFileSize)
        return Fail(why, "the list (" + std::to_string(out.size()) + " bytes) is longer than " +
                             std::to_string(kMaxListFileSize) + " bytes");
    content = std::move(out);
    return true;
}

bool DecodeListFile(std::string_view fileName, std::span<const std::uint8_t> content,
                    unsigned acceptedSet, ListContent& list, ListLayout& layout, std::string& why) {
    list = ListContent{};
    if (!ReadListLayout(fileName, content, acceptedSet, layout, why)) return false;
    list.level = layout.level;
    list.approved = layout.report == kApprovedList;
    if (!DecodeRecords(SectionBytes(content, layout.addresses), list.addresses, why) ||
        !DecodeRecords(SectionBytes(content, layout.siteBlocks), list.siteBlocks, why))
        return false;
    const auto aliases = SectionBytes(content, layout.aliases);
    std::size_t pos = 0;
    ListAlias alias;
    while (ReadListAlias(aliases, pos, alias, why) == ListRead::kEntry) {
        ListAliasData data{alias.canonical, {}};
        for (std::size_t i = 0; i < alias.aliases.size() / 4; ++i)
            data.aliases.push_back(ListAliasAt(alias, i));
        list.aliases.push_back(std::move(data));
    }
    list.namesReadable = DecodeNames(SectionBytes(content, layout.names), list.names);
    if (!list.namesReadable) list.names.clear();
    return true;
}

std::vector<std::uint8_t> PathKeyForLevel(int level, std::string_view text) {
    return level == 3 ? PathKeySegments(text) : PathKeyText(text);
}

}  // namespace dbread
