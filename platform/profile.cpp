#include "platform/profile.h"

#include <fstream>
#include <iterator>

#include "platform/locations.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseProfileSection(std::string_view text,
                                                                     std::string_view section) {
    std::vector<std::pair<std::string, std::string>> out;
    enum { kBefore, kInside, kAfter } state = kBefore;
    std::size_t pos = 0;
    while (pos < text.size() && state != kAfter) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            std::string_view name = Trim(line.substr(1, close == std::string_view::npos
                                                            ? std::string_view::npos
                                                            : close - 1));
            if (state == kInside)
                state = kAfter;
            else if (SameNoCase(name, section))
                state = kInside;
            continue;
        }
        if (state != kInside) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        out.emplace_back(std::string(key), std::string(value));
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> GetProfileSection(std::string_view section,
                                                                   const std::string& path) {
    return ParseProfileSection(ReadWhole(path), section);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultText, const std::string& path) {
    for (const auto& [k, v] : GetProfileSection(section, path))
        if (SameNoCase(k, key)) return v;
    return std::string(defaultText);
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultText) {
    return GetPrivateProfileString(section, key, defaultText, WindowsDirectory() + "/WIN.INI");
}

}  // namespace platform
