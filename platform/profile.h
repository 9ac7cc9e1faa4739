// Profile (INI) files with the Windows reading rules: "[section]" headers and
// "key=value" lines, section and key names compared without regard to case, names and
// values trimmed of blanks, one pair of enclosing double quotes removed from a value,
// lines starting with ';' ignored, the first occurrence winning. A missing file,
// section or key reads as the default.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultText, const std::string& path);
// WIN.INI in the Windows directory.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultText);
// Every key=value pair of the first section of that name, in file order.
std::vector<std::pair<std::string, std::string>> GetProfileSection(std::string_view section,
                                                                   const std::string& path);
// The same rules over text already in memory.
std::vector<std::pair<std::string, std::string>> ParseProfileSection(std::string_view text,
                                                                     std::string_view section);

}  // namespace platform
