#include "resources/string_table.h"

#include <charconv>
#include <cstdio>
#include <span>

#include "platform/locations.h"
#include "platform/process_state.h"
#include "platform/profile.h"

namespace embedded {
extern const std::span<const unsigned char> strings_txt;
}

namespace resources {
namespace {

struct StringTableState {
    bool loaded = false;
    std::string overrideDir;  // program directory the overrides were read from
    std::map<int, std::string> table;
    std::map<int, std::string> overrides;
};
StringTableState g_strings;

bool ParseNumber(std::string_view s, int& out) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && out >= 0;
}

void Load() {
    std::string dir = platform::ProgramDirectory();
    if (!g_strings.loaded) {
        std::string error;
        std::string_view text(reinterpret_cast<const char*>(embedded::strings_txt.data()),
                              embedded::strings_txt.size());
        if (!ParseStringTable(text, g_strings.table, error))
            std::fprintf(stderr, "veldana: built-in string table: %s\n", error.c_str());
        g_strings.loaded = true;
    }
    if (g_strings.overrideDir != dir || g_strings.overrideDir.empty()) {
        g_strings.overrides.clear();
        for (const auto& [key, value] :
             platform::GetProfileSection("strings", dir + "/STRINGS.INI")) {
            int id = 0;
            if (ParseNumber(key, id)) g_strings.overrides.emplace(id, UnescapeText(value));
        }
        g_strings.overrideDir = dir;
    }
}

}  // namespace

std::string UnescapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            char n = text[i + 1];
            char r = n == 'r' ? '\r' : n == 'n' ? '\n' : n == 't' ? '\t' : n == '\\' ? '\\' : 0;
            if (r != 0) {
                out += r;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

bool ParseStringTable(std::string_view text, std::map<int, std::string>& out, std::string& error) {
    out.clear();
    std::size_t pos = 0;
    int lineNo = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        std::size_t tab = line.find('\t');
        int id = 0;
        if (tab == std::string_view::npos || !ParseNumber(line.substr(0, tab), id)) {
            error = "line " + std::to_string(lineNo) + ": expected NUMBER<TAB>TEXT";
            return false;
        }
        if (!out.emplace(id, UnescapeText(line.substr(tab + 1))).second) {
            error = "line " + std::to_string(lineNo) + ": string " + std::to_string(id) +
                    " appears twice";
            return false;
        }
    }
    return true;
}

std::string FormatText(std::string format, std::string_view value) {
    if (const auto at = format.find("%s"); at != std::string::npos) format.replace(at, 2, value);
    return format;
}

std::string LoadStr(int id) {
    Load();
    std::string text;
    if (auto o = g_strings.overrides.find(id); o != g_strings.overrides.end())
        text = o->second;
    else if (auto t = g_strings.table.find(id); t != g_strings.table.end())
        text = t->second;
    if (text.size() > kMaxStringLength) text.resize(kMaxStringLength);
    return text;
}

void ResetStringTable() { g_strings = StringTableState{}; }
namespace {
const platform::StateReset kResetStringTable{platform::StateLayer::kResources, &ResetStringTable};
}  // namespace

}  // namespace resources
