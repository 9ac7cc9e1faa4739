#include "tools/regfile.h"

#include <cstdint>
#include <cstdio>

namespace tools {
namespace {

using namespace platform;

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at s[0] == '"'; `used` gets the characters consumed.
bool ReadQuoted(std::string_view s, std::string& out, std::size_t& used) {
    out.clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            used = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) c = s[++i];
        out += c;
    }
    return false;
}

bool ParseHexBytes(std::string_view s, std::string& out) {
    out.clear();
    s = TrimBlanks(s);
    if (s.empty()) return true;
    std::size_t i = 0;
    while (true) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i + 2 > s.size()) return false;
        int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i == s.size()) return true;
        if (s[i] != ',') return false;
        ++i;
    }
}

bool ParseData(std::string_view s, unsigned& type, std::string& data) {
    if (!s.empty() && s.front() == '"') {
        std::size_t used = 0;
        if (!ReadQuoted(s, data, used)) return false;
        type = kRegSz;
        return TrimBlanks(s.substr(used)).empty();
    }
    if (StartsWithNoCase(s, "dword:")) {
        std::string_view hex = s.substr(6);
        if (hex.empty() || hex.size() > 8) return false;
        std::uint32_t v = 0;
        for (char c : hex) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        type = kRegDword;
        data.clear();
        for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xff);
        return true;
    }
    if (StartsWithNoCase(s, "hex:")) {
        type = kRegBinary;
        return ParseHexBytes(s.substr(4), data);
    }
    if (StartsWithNoCase(s, "hex(")) {
        std::size_t close = s.find(')');
        if (close == std::string_view::npos || close == 4 || close > 12 ||
            close + 1 >= s.size() || s[close + 1] != ':')
            return false;
        unsigned t = 0;
        for (char c : s.substr(4, close - 4)) {
            int d = HexDigit(c);
            if (d < 0) return false;
            t = t * 16 + static_cast<unsigned>(d);
        }
        type = t;
        return ParseHexBytes(s.substr(close + 2), data);
    }
    return false;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool Printable(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

std::string HexList(const std::string& data) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(data[i]));
        if (i) out += ',';
        // Long lists continue on the next line, as the format allows.
        if (i && i % 25 == 0) out += "\\\n  ";
        out += buf;
    }
    return out;
}

std::string ValueLine(const std::string& name, unsigned type, const std::string& data) {
    std::string line = name.empty() ? "@" : Quote(name);
    line += '=';
    if (type == kRegSz && Printable(data)) return line + Quote(data);
    if (type == kRegDword && data.size() == 4) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        return line + buf;
    }
    if (type == kRegBinary) return line + "hex:" + HexList(data);
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", type);
    return line + buf + HexList(data);
}

bool ExportTree(const RegKey& key, const std::string& path, std::string& out, std::string& error) {
    out += "\n[HKEY_LOCAL_MACHINE" + (path.empty() ? std::string() : "\\" + path) + "]\n";
    std::string name, data;
    unsigned type = 0;
    for (std::size_t i = 0;; ++i) {
        long rc = RegEnumValue(key, i, name, type, data);
        if (rc == kErrNoMoreItems) break;
        if (rc != kErrSuccess) {
            error = RegistryError();
            return false;
        }
        out += ValueLine(name, type, data) + "\n";
    }
    std::vector<std::string> children;
    for (std::size_t i = 0;; ++i) {
        long rc = RegEnumKey(key, i, name);
        if (rc == kErrNoMoreItems) break;
        if (rc != kErrSuccess) {
            error = RegistryError();
            return false;
        }
        children.push_back(name);
    }
    for (const auto& child : children) {
        RegKey sub;
        if (RegOpenKey(key, child, sub) != kErrSuccess) {
            error = RegistryError();
            return false;
        }
        if (!ExportTree(sub, path.empty() ? child : path + "\\" + child, out, error)) return false;
    }
    return true;
}

}  // namespace

bool SplitRootedKey(std::string_view full, std::string& path) {
    for (std::string_view root : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
        if (!StartsWithNoCase(full, root)) continue;
        std::string_view rest = full.substr(root.size());
        if (rest.empty()) {
            path.clear();
            return true;
        }
        if (rest.front() != '\\') continue;
        path = std::string(rest.substr(1));
        while (!path.empty() && path.back() == '\\') path.pop_back();
        return true;
    }
    return false;
}

bool ParseRegFile(std::string_view text, std::vector<RegOp>& ops, std::string& error) {
    ops.clear();
    // Logical lines: a line ending in '\' continues on the next one.
    std::vector<std::pair<int, std::string>> lines;
    std::size_t pos = 0;
    int lineNo = 0;
    std::string pending;
    int pendingLine = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view raw = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (pending.empty()) pendingLine = lineNo;
        std::string_view trimmed = TrimBlanks(raw);
        if (!pending.empty()) {
            pending += std::string(trimmed);
        } else {
            pending = std::string(trimmed);
        }
        if (!pending.empty() && pending.back() == '\\' && pending.front() != '[' &&
            pending.find("=hex") != std::string::npos) {
            pending.pop_back();
            continue;
        }
        lines.emplace_back(pendingLine, std::move(pending));
        pending.clear();
    }
    if (!pending.empty()) lines.emplace_back(pendingLine, std::move(pending));

    bool header = false;
    bool haveKey = false;
    std::string key;
    for (auto& [no, line] : lines) {
        auto fail = [&, no = no](const std::string& why) {
            error = "line " + std::to_string(no) + ": " + why;
            return false;
        };
        if (line.empty() || line.front() == ';') continue;
        if (!header) {
            if (line != kHeader5 && line != kHeader4)
                return fail("expected \"Windows Registry Editor Version 5.00\"");
            header = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') return fail("a key line must end with ']'");
            std::string_view inner = std::string_view(line).substr(1, line.size() - 2);
            bool remove = !inner.empty() && inner.front() == '-';
            if (remove) inner.remove_prefix(1);
            if (!SplitRootedKey(inner, key))
                return fail("only keys under HKEY_LOCAL_MACHINE are supported");
            ops.push_back(RegOp{remove ? RegOp::kDeleteKey : RegOp::kCreateKey, key, {}, 0, {}});
            haveKey = !remove;
            continue;
        }
        if (!haveKey) return fail("a value line needs a key line before it");
        RegOp op{RegOp::kSetValue, key, {}, kRegSz, {}};
        std::string_view rest;
        if (line.front() == '@') {
            rest = std::string_view(line).substr(1);
        } else if (line.front() == '"') {
            std::size_t used = 0;
            if (!ReadQuoted(line, op.name, used)) return fail("unterminated value name");
            rest = std::string_view(line).substr(used);
        } else {
            return fail("expected a key line, a value line or a comment");
        }
        rest = TrimBlanks(rest);
        if (rest.empty() || rest.front() != '=') return fail("expected '=' after the value name");
        rest = TrimBlanks(rest.substr(1));
        if (rest == "-") {
            op.kind = RegOp::kDeleteValue;
        } else if (!ParseData(rest, op.type, op.data)) {
            return fail("the value's data is not valid");
        }
        ops.push_back(std::move(op));
    }
    if (!header) {
        error = "the file is empty or has no \"Windows Registry Editor Version 5.00\" header";
        return false;
    }
    return true;
}

bool ApplyRegOps(const std::vector<RegOp>& ops, std::string& error) {
    for (const auto& op : ops) {
        std::string where = "HKEY_LOCAL_MACHINE" + (op.key.empty() ? "" : "\\" + op.key);
        RegKey key;
        long rc = kErrSuccess;
        switch (op.kind) {
            case RegOp::kCreateKey:
                rc = RegCreateKey(HkeyLocalMachine(), op.key, key);
                break;
            case RegOp::kDeleteKey:
                rc = RegDeleteTree(HkeyLocalMachine(), op.key);
                if (rc == kErrFileNotFound) rc = kErrSuccess;
                break;
            case RegOp::kSetValue:
                rc = RegCreateKey(HkeyLocalMachine(), op.key, key);
                if (rc == kErrSuccess) rc = RegSetValue(key, op.name, op.type, op.data);
                break;
            case RegOp::kDeleteValue:
                rc = RegOpenKey(HkeyLocalMachine(), op.key, key);
                if (rc == kErrSuccess) rc = RegDeleteValue(key, op.name);
                if (rc == kErrFileNotFound) rc = kErrSuccess;
                break;
        }
        if (rc != kErrSuccess) {
            error = where + ": " + RegistryError();
            return false;
        }
    }
    return true;
}

bool ExportRegKey(const RegKey& key, const std::string& path, std::string& out,
                  std::string& error) {
    out = std::string(kHeader5) + "\n";
    if (!ExportTree(key, path, out, error)) return false;
    out += "\n";
    return true;
}

std::string TypeName(unsigned type) {
    switch (type) {
        case kRegNone: return "REG_NONE";
        case kRegSz: return "REG_SZ";
        case kRegExpandSz: return "REG_EXPAND_SZ";
        case kRegBinary: return "REG_BINARY";
        case kRegDword: return "REG_DWORD";
        case kRegMultiSz: return "REG_MULTI_SZ";
        case kRegQword: return "REG_QWORD";
        default: return "REG_TYPE_" + std::to_string(type);
    }
}

bool TypeFromName(std::string_view name, unsigned& type) {
    for (unsigned t : {kRegNone, kRegSz, kRegExpandSz, kRegBinary, kRegDword, kRegMultiSz,
                       kRegQword}) {
        std::string n = TypeName(t);
        if (n.size() == name.size() && StartsWithNoCase(name, n)) {
            type = t;
            return true;
        }
    }
    return false;
}

std::string FormatValueData(unsigned type, const std::string& data) {
    char buf[32];
    if (type == kRegDword && data.size() == 4) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
        std::snprintf(buf, sizeof buf, "0x%x", v);
        return buf;
    }
    if (type == kRegQword && data.size() == 8) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
        std::snprintf(buf, sizeof buf, "0x%llx", v);
        return buf;
    }
    if (type == kRegSz || type == kRegExpandSz) return data.substr(0, data.find('\0'));
    if (type == kRegMultiSz) {
        std::string out;
        for (char c : data) out += c == '\0' ? std::string("\\0") : std::string(1, c);
        return out;
    }
    std::string out;
    for (unsigned char c : data) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

}  // namespace tools
