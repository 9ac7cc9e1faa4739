// Keeping the filter library on the web service's filter list ("Filter DLLs"), the start-up
// command line (/S<source>, /R to remove everything after confirmation, dash switches
// ignored), and the removal of the registration and every setting at uninstall.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace settings {

struct RegistrationState {
    std::string source;  // the installation source code (setting Source), at most 25 characters
};
RegistrationState& Registration();
void ResetRegistration();

// 0 when the administrator confirmed the removal of everything (the program must end at
// once), else 1 (with the filter library on the list). `redirectPage` (the policy's block
// page) takes RedirectedSite, which is cleared unless it starts with "http://".
int RegisterFilterAtStartup(std::string_view commandLine, std::string& redirectPage);
// Takes the library off the list and deletes the W3Velda key; 0 when the services key
// cannot be opened.
int RemoveFilterAndSettings();
// Starts <windows dir>/UNWISE.DLL with <windows dir>/IVD.LOG, without waiting.
void StartUninstaller();
// Position of the first occurrence of `pattern` in `text`, bytes compared with bits 0x20
// and 0x80 ignored; none for an empty text.
std::optional<std::size_t> FindTextNoCase(std::string_view text, std::string_view pattern);

}  // namespace settings
