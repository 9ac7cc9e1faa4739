#include "dbread/text.h"

#include <climits>
#include <cstdarg>
#include <cstdio>

namespace dbread {

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

long DecimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        value = value > (LONG_MAX - digit) / 10 ? LONG_MAX : value * 10 + digit;
    }
    return negative ? -value : value;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i])) ++i;
        std::size_t j = i;
        while (j < line.size() && !blank(line[j])) ++j;
        if (j > i) words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

}  // namespace dbread
