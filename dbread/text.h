// Text forms shared by the readers, their reports and the console: printf into a string,
// the dotted form of an IPv4 address word (first octet in the lowest byte), and the
// decimal numbers of published settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbread {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// a.b.c.d (each part 1 to 3 digits, at most 255, nothing around it) to the address word,
// and back.
bool ParseDottedAddress(std::string_view text, std::uint32_t& address);
std::string DottedAddress(std::uint32_t address);

// The words of a line, split at blanks, tabs and carriage returns.
std::vector<std::string_view> SplitWords(std::string_view line);

// Leading decimal digits of a text as a number (0 when there are none), after blanks and
// tabs and an optional sign, as C's atoi reads them but without overflow.
long DecimalValue(std::string_view text);

}  // namespace dbread
