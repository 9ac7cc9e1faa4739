// veldana-list: makes and shows category list files (VELDA.NOT, VELDA.YES).
//   veldana-list make SOURCE OUT [--level 1|2|3] [--kind restricted|approved]
//       reads a list source (docs/list-source-format.md; SOURCE "-" is standard input) and
//       writes the scrambled list file OUT, replacing it only when it is complete
//   veldana-list show FILE [--json]
//       unscrambles and checks FILE and prints it; the text form is itself a list source
//   veldana-list plain FILE OUT
//       writes FILE's unscrambled bytes to OUT, for a look with a hex viewer
//   veldana-list import OUT-DIR [--map FILE] [--tree DIR]... [--list FILE CATEGORY]...
//       turns public blocklists into VELDA.NOT, VELDA.YES, DNSRAW.NOT and DNSRAW.YES in
//       OUT-DIR (docs/blocklist-import.md); exit status 0 when everything went in, 3 when
//       something was left out (the summary says what and why), 1 when nothing was written
//   veldana-list import --print-map
//       prints the category map that ships
// Exit status 0 on success, 1 for a bad source (reported as SOURCE:LINE: reason), a list
// file that is invalid or damaged, or a file that cannot be read or written, 2 for a usage
// error.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dbread/list_file.h"
#include "dbread/text.h"
#include "platform/files.h"
#include "sitelists/site_list.h"
#include "tools/list_import.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int Usage() {
    std::fputs(
        "usage: veldana-list make SOURCE OUT [--level 1|2|3] [--kind restricted|approved]\n"
        "       veldana-list show FILE [--json]\n"
        "       veldana-list plain FILE OUT\n"
        "       veldana-list import OUT-DIR [--map FILE] [--tree DIR]... [--list FILE CATEGORY]...\n"
        "       veldana-list import --print-map\n"
        "SOURCE is a list source (see docs/list-source-format.md), '-' for standard input.\n"
        "OUT is written scrambled, as the console reads VELDA.NOT and VELDA.YES.\n",
        stderr);
    return 2;
}

int Error(const std::string& text) {
    std::fprintf(stderr, "veldana-list: %s\n", text.c_str());
    return 1;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadWhole(std::istream& in, Bytes& bytes, std::size_t limit) {
    bytes.clear();
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buf, buf + in.gcount());
        if (bytes.size() > limit) return true;  // the caller sees the size
    }
    return !in.bad();
}

bool ReadFile(const std::string& path, Bytes& bytes, std::size_t limit, std::string& why) {
    if (path == "-") {
        if (ReadWhole(std::cin, bytes, limit)) return true;
        why = "standard input: read error";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in || !ReadWhole(in, bytes, limit)) {
        why = path + ": cannot be read";
        return false;
    }
    return true;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string Categories(std::uint16_t bits) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", bits);
    return buf;
}

// ---- Source ----

struct SourceItem {
    int line = 0;
    bool raw = false;  // "key HEX"
    std::string path;  // "path PATH"
    Bytes key;
    std::uint16_t categories = 0;
};
struct SourceRecord {
    int line = 0;
    std::uint32_t address = 0;
    std::uint16_t categories = 0;
    std::vector<SourceItem> items;
};
struct Source {
    std::optional<int> level;
    std::optional<bool> approved;
    std::vector<SourceRecord> addresses, blocks;
    std::vector<dbread::ListAliasData> aliases;
    int firstBlockLine = 0, firstAliasLine = 0;
    std::vector<std::string> names;
};

class SourceError {
  public:
    SourceError(std::string file) : file_(std::move(file)) {}
    bool operator()(int line, const std::string& text) {
        message_ = file_ + ":" + std::to_string(line) + ": " + text;
        return false;
    }
    const std::string& message() const { return message_; }

  private:
    std::string file_, message_;
};

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && static_cast<std::uint8_t>(line[i]) <= 32) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::size_t j = i;
        while (j < line.size() && static_cast<std::uint8_t>(line[j]) > 32) ++j;
        words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

bool ParseCategories(std::string_view word, std::uint16_t& bits) {
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (ec != std::errc() || end != word.data() + word.size() || value > 0xFFFF) return false;
    bits = static_cast<std::uint16_t>(value);
    return true;
}

bool ParseHex(std::string_view word, Bytes& bytes) {
    if (word.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < word.size(); i += 2) {
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(word.data() + i, word.data() + i + 2, v, 16);
        if (ec != std::errc() || end != word.data() + i + 2) return false;
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool ParseAddressWord(std::string_view word, std::uint32_t& address) {
    return dbread::ParseDottedAddress(word, address);
}

// "address|block ADDRESS (CATEGORIES | (path PATH CATEGORIES | key HEX CATEGORIES)...)"
bool ParseRecord(const std::vector<std::string_view>& w, int line, SourceRecord& record,
                 SourceError& error) {
    record = SourceRecord{};
    record.line = line;
    if (w.size() < 3)
        return error(line, "expected: " + std::string(w[0]) +
                               " ADDRESS CATEGORIES, or ADDRESS and path items");
    if (!ParseAddressWord(w[1], record.address))
        return error(line, "'" + std::string(w[1]) + "' is not a dotted IPv4 address");
    if (w.size() == 3) {
        if (!ParseCategories(w[2], record.categories))
            return error(line, "'" + std::string(w[2]) +
                                   "' is not a category number (0..65535, or 0x0..0xffff)");
        if (record.categories == 0)
            return error(line, "categories 0: give nonzero categories or path items");
        return true;
    }
    for (std::size_t i = 2; i < w.size(); i += 3) {
        if (w[i] != "path" && w[i] != "key")
            return error(line, "expected 'path PATH CATEGORIES' or 'key HEX CATEGORIES', found '" +
                                   std::string(w[i]) + "'");
        if (i + 2 >= w.size())
            return error(line, "'" + std::string(w[i]) + "' needs a value and categories");
        SourceItem item;
        item.line = line;
        item.raw = w[i] == "key";
        if (item.raw) {
            if (!ParseHex(w[i + 1], item.key))
                return error(line, "'" + std::string(w[i + 1]) + "' is not a key in hex digits");
        } else {
            item.path = std::string(w[i + 1]);
            if (item.path.find(',') != std::string::npos)
                return error(line, "path '" + item.path + "': a path key ends at ','");
        }
        if (!ParseCategories(w[i + 2], item.categories))
            return error(line, "'" + std::string(w[i + 2]) +
                                   "' is not a category number (0..65535, or 0x0..0xffff)");
        record.items.push_back(std::move(item));
    }
    return true;
}

bool ParseSource(std::string_view text, Source& source, SourceError& error) {
    int line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        const std::string_view raw =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        ++line;
        const auto w = Words(raw);
        if (w.empty()) continue;
        const std::string_view what = w[0];
        if (what == "level") {
            if (w.size() != 2 || (w[1] != "1" && w[1] != "2" && w[1] != "3"))
                return error(line, "expected: level 1, level 2 or level 3");
            source.level = w[1][0] - '0';
        } else if (what == "kind") {
            if (w.size() != 2 || (w[1] != "restricted" && w[1] != "approved"))
                return error(line, "expected: kind restricted or kind approved");
            source.approved = w[1] == "approved";
        } else if (what == "address" || what == "block") {
            SourceRecord record;
            if (!ParseRecord(w, line, record, error)) return false;
            if (what == "block" && source.firstBlockLine == 0) source.firstBlockLine = line;
            (what == "address" ? source.addresses : source.blocks).push_back(std::move(record));
        } else if (what == "alias") {
            if (w.size() < 3) return error(line, "expected: alias CANONICAL ALIAS...");
            dbread::ListAliasData alias;
            for (std::size_t i = 1; i < w.size(); ++i) {
                std::uint32_t a = 0;
                if (!ParseAddressWord(w[i], a))
                    return error(line, "'" + std::string(w[i]) + "' is not a dotted IPv4 address");
                if (a == 0) return error(line, "0.0.0.0 cannot be an alias or a canonical address");
                (i == 1 ? alias.canonical : alias.aliases.emplace_back()) = a;
            }
            if (source.firstAliasLine == 0) source.firstAliasLine = line;
            source.aliases.push_back(std::move(alias));
        } else if (what == "name") {
            if (w.size() != 2) return error(line, "expected: name NAME");
            if (w[1].size() > 255) return error(line, "a name is at most 255 bytes");
            source.names.emplace_back(w[1]);
        } else {
            return error(line, "unknown entry '" + std::string(what) +
                                   "' (level, kind, address, block, alias or name)");
        }
    }
    return true;
}

// Path keys in the list's level, checked against what an item and a block hold.
bool MakeRecords(const std::vector<SourceRecord>& records, int level,
                 std::vector<dbread::ListRecordData>& out, SourceError& error) {
    for (const auto& r : records) {
        dbread::ListRecordData data{
            r.address, r.items.empty() ? r.categories : std::uint16_t{0}, {}};
        std::size_t bytes = 0;
        for (const auto& item : r.items) {
            Bytes key = item.key;
            if (!item.raw) {
                std::string_view path = item.path;
                // A path is taken from behind its leading '/', as the console takes the path
                // of a site entry.
                if (!path.empty() && path.front() == '/') path.remove_prefix(1);
                key = dbread::PathKeyForLevel(level, path);
                if (key.empty())
                    return error(item.line, "path '" + item.path + "' gives an empty key");
            }
            if (key.size() > dbread::kMaxListItemKey)
                return error(item.line, "the key of '" + (item.raw ? Hex(item.key) : item.path) +
                                            "' is " + std::to_string(key.size()) +
                                            " bytes; a path item holds at most 252");
            bytes += dbread::kListItemHeadSize + key.size();
            data.items.push_back({item.categories, std::move(key)});
        }
        if (bytes > dbread::kMaxListRecordItemBytes)
            return error(r.line, "the path items of this entry (" + std::to_string(bytes) +
                                     " bytes) do not fit one path block (65519 bytes)");
        out.push_back(std::move(data));
    }
    return true;
}

int Make(const std::string& sourcePath, const std::string& outPath, std::optional<int> level,
         std::optional<bool> approved) {
    Bytes text;
    std::string why;
    if (!ReadFile(sourcePath, text, std::size_t(64) << 20, why)) return Error(why);
    const std::string name = sourcePath == "-" ? "<stdin>" : sourcePath;
    SourceError error(name);
    Source source;
    if (!ParseSource({reinterpret_cast<const char*>(text.data()), text.size()}, source, error))
        return Error(error.message());

    dbread::ListContent list;
    list.level = level.value_or(source.level.value_or(3));
    list.approved = approved.value_or(source.approved.value_or(false));
    if (list.level == 1 && source.firstBlockLine != 0) {
        error(source.firstBlockLine, "a level 1 list has no site-block section");
        return Error(error.message());
    }
    if (list.level == 1 && source.firstAliasLine != 0) {
        error(source.firstAliasLine, "a level 1 list has no alias section");
        return Error(error.message());
    }
    if (!MakeRecords(source.addresses, list.level, list.addresses, error) ||
        !MakeRecords(source.blocks, list.level, list.siteBlocks, error))
        return Error(error.message());
    list.aliases = std::move(source.aliases);
    list.names = std::move(source.names);

    Bytes content;
    if (!dbread::EncodeListFile(list, content, why)) return Error(name + ": " + why);
    // The list must read back as made, with the checks the console makes.
    dbread::ListContent check;
    dbread::ListLayout layout;
    if (!dbread::DecodeListFile(BaseName(outPath), content, dbread::kAnyListKind, check, layout,
                                why))
        return Error(outPath + ": the list made does not read back: " + why);
    sitelists::ScrambleSiteList(content);
    if (!platform::WriteFileAtomically(outPath, content))
        return Error(outPath + ": cannot be written");
    std::printf(
        "%s: level %d %s list, %zu bytes: %zu addresses, %zu site blocks, %zu alias "
        "pairs, %zu names\n",
        outPath.c_str(), list.level, list.approved ? "approved" : "restricted", content.size(),
        layout.addressRecords, layout.siteBlockRecords, layout.aliasPairs, list.names.size());
    return 0;
}

// ---- Show ----

// A word that reads back as itself in a source line.
bool PrintableWord(std::string_view word) {
    if (word.empty() || word.front() == '#') return false;
    for (char c : word)
        if (static_cast<std::uint8_t>(c) <= 32 || static_cast<std::uint8_t>(c) >= 127) return false;
    return true;
}

// A text key that reads back as the same key when written as "path KEY".
bool PrintableAsPath(const Bytes& key) {
    if (key.empty() || key.front() == '/' || key.front() == '#') return false;
    for (std::uint8_t b : key)
        if (b <= 32 || b == ',' || b == 0x7F || b >= 0x80 || (b | 0x20) != b) return false;
    return true;
}

std::string ItemText(int level, const dbread::ListItemData& item) {
    if (level != 3 && PrintableAsPath(item.key))
        return "path " + std::string(item.key.begin(), item.key.end()) + " " +
               Categories(item.categories);
    return "key " + Hex(item.key) + " " + Categories(item.categories);
}

void RecordText(std::string& out, const char* what, int level, const dbread::ListRecordData& r) {
    out += std::string(what) + " " + dbread::DottedAddress(r.address);
    if (r.items.empty()) {
        out += " " + Categories(r.categories) + "\n";
        return;
    }
    for (const auto& item : r.items) out += " " + ItemText(level, item);
    out += "\n";
}

class Json {
  public:
    explicit Json(std::string& out) : out_(out) {}
    void Key(std::string_view k) {
        Comma();
        Quote(k);
        out_ += ':';
        fresh_ = true;
    }
    void String(std::string_view s) {
        Comma();
        Quote(s);
    }
    void Number(std::uint64_t v) {
        Comma();
        out_ += std::to_string(v);
    }
    void Bool(bool v) {
        Comma();
        out_ += v ? "true" : "false";
    }
    void Open(char c) {
        Comma();
        out_ += c;
        fresh_ = true;
    }
    void Close(char c) {
        out_ += c;
        fresh_ = false;
    }

  private:
    void Quote(std::string_view s) {
        out_ += '"';
        for (unsigned char c : s) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20 || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out_ += buf;
            } else {
                out_ += static_cast<char>(c);
            }
        }
        out_ += '"';
    }
    void Comma() {
        if (!fresh_) out_ += ',';
        fresh_ = false;
    }
    std::string& out_;
    bool fresh_ = true;
};

void RecordsJson(Json& j, std::string_view key, int level,
                 const std::vector<dbread::ListRecordData>& records) {
    j.Key(key);
    j.Open('[');
    for (const auto& r : records) {
        j.Open('{');
        j.Key("address");
        j.String(dbread::DottedAddress(r.address));
        std::uint16_t bits = r.categories;
        for (const auto& item : r.items) bits |= item.categories;
        j.Key("categories");
        j.Number(bits);
        j.Key("items");
        j.Open('[');
        for (const auto& item : r.items) {
            j.Open('{');
            j.Key("categories");
            j.Number(item.categories);
            j.Key("key");
            j.String(Hex(item.key));
            if (level != 3) {
                j.Key("text");
                j.String(std::string(item.key.begin(), item.key.end()));
            }
            j.Close('}');
        }
        j.Close(']');
        j.Close('}');
    }
    j.Close(']');
}

std::string ShowJson(const std::string& file, std::size_t size, const dbread::ListLayout& layout,
                     const dbread::ListContent& list, bool accepted) {
    std::string out;
    Json j(out);
    j.Open('{');
    j.Key("file");
    j.String(file);
    j.Key("size");
    j.Number(size);
    j.Key("layout");
    j.String(layout.extended ? "extended" : "short");
    j.Key("firstByte");
    j.Number(layout.firstByte);
    j.Key("level");
    j.Number(static_cast<std::uint64_t>(layout.level));
    j.Key("list");
    j.String(list.approved ? "approved" : "restricted");
    j.Key("report");
    j.Number(static_cast<std::uint64_t>(layout.report));
    if (layout.extended) {
        j.Key("family");
        j.String(std::string(1, layout.family));
        j.Key("kind");
        j.String(std::string(1, layout.kind));
        j.Key("flags");
        j.Number(layout.flags);
        j.Key("sections");
        j.Open('[');
        for (const auto& e : layout.directory) {
            j.Open('{');
            j.Key("letter");
            j.String(std::string(1, e.letter));
            j.Key("offset");
            j.Number(e.offset);
            j.Key("length");
            j.Number(e.length);
            j.Key("marked");
            j.Bool(e.marked);
            j.Close('}');
        }
        j.Close(']');
    }
    j.Key("acceptedByBuild");
    j.Bool(accepted);
    RecordsJson(j, "addresses", layout.level, list.addresses);
    RecordsJson(j, "siteBlocks", layout.level, list.siteBlocks);
    j.Key("aliases");
    j.Open('[');
    for (const auto& a : list.aliases) {
        j.Open('{');
        j.Key("canonical");
        j.String(dbread::DottedAddress(a.canonical));
        j.Key("aliases");
        j.Open('[');
        for (std::uint32_t alias : a.aliases) j.String(dbread::DottedAddress(alias));
        j.Close(']');
        j.Close('}');
    }
    j.Close(']');
    j.Key("names");
    j.Open('[');
    for (const auto& n : list.names) j.String(n);
    j.Close(']');
    j.Key("namesReadable");
    j.Bool(list.namesReadable);
    j.Close('}');
    out += '\n';
    return out;
}

std::string ShowText(const std::string& file, std::size_t size, const dbread::ListLayout& layout,
                     const dbread::ListContent& list, bool accepted) {
    std::string out;
    char line[256];
    if (layout.extended)
        std::snprintf(line, sizeof line,
                      "# %s: %s list, level %d (extended layout, family %c, kind %c, flags "
                      "0x%02x), %zu bytes\n",
                      file.c_str(), list.approved ? "approved" : "restricted", layout.level,
                      layout.family, layout.kind, layout.flags, size);
    else
        std::snprintf(line, sizeof line, "# %s: %s list, level 1 (first byte 0x%02x), %zu bytes\n",
                      file.c_str(), list.approved ? "approved" : "restricted", layout.firstByte,
                      size);
    out += line;
    out += std::string("# accepted by the database build: ") + (accepted ? "yes" : "no") + "\n";
    for (const auto& e : layout.directory) {
        std::snprintf(line, sizeof line, "# section '%c' at 0x%x, %u bytes%s\n",
                      e.letter >= 33 && e.letter < 127 ? e.letter : '?', e.offset, e.length,
                      e.marked ? "" : " (no SD/ED markers: ignored)");
        out += line;
    }
    std::snprintf(
        line, sizeof line, "# %zu addresses, %zu site blocks, %zu alias pairs, %zu names\n",
        layout.addressRecords, layout.siteBlockRecords, layout.aliasPairs, list.names.size());
    out += line;
    if (!list.namesReadable) {
        std::snprintf(line, sizeof line, "# name section: %zu bytes in another form, not shown\n",
                      layout.names.size);
        out += line;
    }
    out += "level " + std::to_string(layout.level) + "\n";
    out += std::string("kind ") + (list.approved ? "approved" : "restricted") + "\n";
    for (const auto& r : list.addresses) RecordText(out, "address", layout.level, r);
    for (const auto& r : list.siteBlocks) RecordText(out, "block", layout.level, r);
    for (const auto& a : list.aliases) {
        if (a.aliases.empty()) {
            out += "# alias entry of " + dbread::DottedAddress(a.canonical) + " without aliases\n";
            continue;
        }
        out += "alias " + dbread::DottedAddress(a.canonical);
        for (std::uint32_t alias : a.aliases) out += " " + dbread::DottedAddress(alias);
        out += "\n";
    }
    for (const auto& n : list.names) {
        if (PrintableWord(n))
            out += "name " + n + "\n";
        else
            out += "# name of " + std::to_string(n.size()) + " bytes, in hex: " +
                   Hex({reinterpret_cast<const std::uint8_t*>(n.data()), n.size()}) + "\n";
    }
    return out;
}

bool LoadList(const std::string& file, Bytes& content, std::string& why) {
    if (!ReadFile(file, content, dbread::kMaxListFileSize, why)) return false;
    if (content.size() > dbread::kMaxListFileSize) {
        why = file + ": longer than " + std::to_string(dbread::kMaxListFileSize) +
              " bytes: not a list file";
        return false;
    }
    if (content.size() < dbread::kMinListFileSize) {
        why = file + ": shorter than 8 bytes: not a list file";
        return false;
    }
    sitelists::UnscrambleSiteList(content);
    return true;
}

int Show(const std::string& file, bool json) {
    Bytes content;
    std::string why;
    if (!LoadList(file, content, why)) return Error(why);
    dbread::ListContent list;
    dbread::ListLayout layout;
    if (!dbread::DecodeListFile(BaseName(file), content, dbread::kAnyListKind, list, layout, why))
        return Error(file + ": invalid or damaged list: " + why);
    const bool accepted = layout.level == 1 || (layout.kindBit & dbread::kBuildListKinds) != 0;
    const std::string out = json ? ShowJson(file, content.size(), layout, list, accepted)
                                 : ShowText(file, content.size(), layout, list, accepted);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Plain(const std::string& file, const std::string& outPath) {
    Bytes content;
    std::string why;
    if (!LoadList(file, content, why)) return Error(why);
    if (!platform::WriteFileAtomically(outPath, content))
        return Error(outPath + ": cannot be written");
    return 0;
}

}  // namespace

// The import's progress on the terminal: a bar of the bytes read.
void ShowProgress(std::uint64_t done, std::uint64_t total) {
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (!terminal || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    std::string bar(static_cast<std::size_t>(percent / 4), '#');
    bar.resize(25, '.');
    std::fprintf(stderr, "\rimporting [%s] %3d%%%s", bar.c_str(), percent, done >= total ? "\n" : "");
}

int Import(int argc, char** argv) {
    std::vector<listimport::ImportSource> sources;
    std::string out, mapPath;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--print-map" && argc == 3) {
            std::fwrite(listimport::DefaultCategoryMap().data(), 1, listimport::DefaultCategoryMap().size(), stdout);
            return 0;
        }
        if (a == "--map" && i + 1 < argc) {
            mapPath = argv[++i];
        } else if (a == "--tree" && i + 1 < argc) {
            sources.push_back({listimport::ImportSource::kTree, argv[++i], ""});
        } else if (a == "--list" && i + 2 < argc) {
            sources.push_back({listimport::ImportSource::kList, argv[i + 1], argv[i + 2]});
            i += 2;
        } else if (out.empty() && a.rfind("--", 0) != 0) {
            out = a;
        } else {
            return Usage();
        }
    }
    if (out.empty() || sources.empty()) return Usage();
    std::string mapText(listimport::DefaultCategoryMap());
    if (!mapPath.empty()) {
        std::ifstream in(mapPath, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "veldana-list: %s: cannot read\n", mapPath.c_str());
            return 1;
        }
        mapText.assign(std::istreambuf_iterator<char>(in), {});
    }
    listimport::CategoryMap map;
    std::vector<std::string> problems;
    if (!listimport::ParseCategoryMap(mapText, map, problems)) {
        for (const auto& p : problems)
            std::fprintf(stderr, "veldana-list: %s: %s\n", mapPath.empty() ? "the map" : mapPath.c_str(), p.c_str());
        return 1;
    }
    listimport::ImportSummary summary;
    std::string error;
    const bool ok = listimport::Import(sources, map, out, summary, error, ShowProgress);
    for (const auto& r : summary.reports) std::fprintf(stderr, "veldana-list: %s\n", r.c_str());
    if (summary.reportsDropped)
        std::fprintf(stderr, "veldana-list: ... and %zu more such reports\n", summary.reportsDropped);
    if (!ok) {
        std::fprintf(stderr, "veldana-list: import failed: %s\n", error.c_str());
        return 1;
    }
    std::printf("%-24s %10s %10s %10s\n", "category", "read", "in", "left out");
    for (const auto& [category, c] : summary.categories)
        std::printf("%-24s %10zu %10zu %10zu\n", category.c_str(), c.read, c.kept, c.leftOut);
    for (const auto& [reason, n] : summary.leftOut) std::printf("left out: %zu (%s)\n", n, reason.c_str());
    std::printf("written to %s: %zu names, %zu addresses, %zu hosts with paths, %zu category values; "
                "VELDA.NOT %zu records, VELDA.YES %zu records, DNSRAW.NOT %zu names, DNSRAW.YES %zu names\n",
                out.c_str(), summary.names, summary.addresses, summary.pathHosts, summary.values,
                summary.restrictedRecords, summary.approvedRecords, summary.restrictedRawNames,
                summary.approvedRawNames);
    return summary.partial() ? 3 : 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "import") return Import(argc, argv);
    std::vector<std::string> args;
    std::optional<int> level;
    std::optional<bool> approved;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") return Usage();
        if (a == "--json") {
            json = true;
        } else if (a == "--level" || a == "--kind") {
            if (i + 1 >= argc) return Usage();
            const std::string v = argv[++i];
            if (a == "--level") {
                if (v != "1" && v != "2" && v != "3") return Usage();
                level = v[0] - '0';
            } else {
                if (v != "restricted" && v != "approved") return Usage();
                approved = v == "approved";
            }
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    if (command == "make" && args.size() == 3 && !json)
        return Make(args[1], args[2], level, approved);
    if (command == "show" && args.size() == 2 && !level && !approved) return Show(args[1], json);
    if (command == "plain" && args.size() == 3 && !json && !level && !approved)
        return Plain(args[1], args[2]);
    return Usage();
}
