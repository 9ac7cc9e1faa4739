// The program's numbered texts (messages, registry value names, labels).
//
// The table is resources/strings.txt, compiled into the program. STRINGS.INI in the
// program directory may override any entry ([strings] section, number=text, with the
// same escapes \r \n \t \\ as the table). Texts are at most 254 characters: a longer
// text is cut there.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace resources {

constexpr std::size_t kMaxStringLength = 254;

// Texts that several modules show.
constexpr int kMessageCaptionString = 3000;  // "Veldana Message"
constexpr int kNotRespondingString = 3015;   // "Velda Central is not responding. ..."
constexpr int kWinsockErrorString = 2004;    // "WINSOCK Error"

// The text of string `id`; empty text when there is no such string.
std::string LoadStr(int id);
// A text of the table with its first "%s" replaced by `value` (as it stands without one).
std::string FormatText(std::string format, std::string_view value);

// Parses table text ("number<TAB>text" lines, '#' comments). Returns false and says
// which line is wrong in `error` when the text is not a valid table.
bool ParseStringTable(std::string_view text, std::map<int, std::string>& out, std::string& error);
// Undoes the escapes \r \n \t \\; any other backslash stays as it is.
std::string UnescapeText(std::string_view text);

// Forgets the cached overrides, so that the next LoadStr reads STRINGS.INI again.
void ResetStringTable();

}  // namespace resources
