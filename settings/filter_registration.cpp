#include "settings/filter_registration.h"

#include <cctype>

#include "platform/locations.h"
#include "platform/process.h"
#include "platform/process_state.h"
#include "platform/registry.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

namespace settings {
namespace {

RegistrationState g_registration;

constexpr int kLibraryString = 2438;  // "VD-PROXY.DLL"
constexpr int kRemoveQuestionString = 2439;
constexpr std::size_t kSourceChars = 25;
constexpr std::size_t kCommandLineChars = 79;

std::string Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

}  // namespace

RegistrationState& Registration() { return g_registration; }
void ResetRegistration() { g_registration = RegistrationState{}; }
namespace {
const platform::StateReset kResetRegistration{platform::StateLayer::kSettings, &ResetRegistration};
}  // namespace

std::optional<std::size_t> FindTextNoCase(std::string_view text, std::string_view pattern) {
    if (text.empty()) return std::nullopt;
    for (std::size_t start = 0; start + pattern.size() <= text.size(); ++start) {
        bool match = true;
        for (std::size_t i = 0; i < pattern.size() && match; ++i)
            match = ((static_cast<unsigned char>(text[start + i]) ^
                      static_cast<unsigned char>(pattern[i])) & 0x5F) == 0;
        if (match) return start;
    }
    return std::nullopt;
}

int RemoveFilterAndSettings() {
    std::string list = ReadSetting(kKeyFilterDlls, {}, "");
    if (auto p = FindTextNoCase(list, resources::LoadStr(kLibraryString))) {
        std::size_t q = list.find(',', *p);
        std::size_t from = list.rfind(',', *p);
        from = from == std::string::npos ? 0 : from;
        list = q == std::string::npos ? list.substr(0, from) : list.erase(from, q - from);
        WriteSetting(kKeyFilterDlls, {}, list);
    }
    platform::RegKey services;
    if (platform::RegOpenKey(platform::HkeyLocalMachine(), "SYSTEM\\CurrentControlSet\\Services",
                             services) != platform::kErrSuccess)
        return 0;
    platform::RegDeleteTree(services, "W3Velda");
    return 1;
}

void StartUninstaller() {
    std::string windows = platform::WindowsDirectory();
    platform::StartProgram(windows + "/UNWISE.DLL " + windows + "/IVD.LOG");
}

int RegisterFilterAtStartup(std::string_view commandLine, std::string& redirectPage) {
    redirectPage = ReadTableSetting(kKeyRedirectedSite);
    std::string scheme = redirectPage.substr(0, 7);
    for (auto& ch : scheme) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (scheme != "http://") {
        redirectPage.clear();
        WriteSetting(kKeyRedirectedSite, {}, "");
    }
    g_registration.source = ReadTableSetting(kKeySource);

    std::size_t skip = commandLine.find_first_not_of(' ');
    std::string line = skip == std::string_view::npos ? "" : std::string(commandLine.substr(skip));
    if (line.size() > kCommandLineChars) line.resize(kCommandLineChars);
    for (std::size_t i = 0; i < line.size();) {
        char c = line[i];
        char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (c == '-') {
            i += 2;
        } else if (c == '/' && next == 'R') {
            int answer = ui::MessageBox(0, resources::LoadStr(kRemoveQuestionString),
                                        resources::LoadStr(resources::kMessageCaptionString), ui::MB_OKCANCEL);
            if (answer == ui::IDOK) {
                RemoveFilterAndSettings();
                return 0;
            }
            i += 2;
        } else if (c == '/' && (next == 'S' || next == 's')) {
            std::size_t end = line.find('/', i + 2);
            std::string raw = line.substr(i + 2, end == std::string::npos ? end : end - i - 2);
            std::string value = Trim(raw);
            if (g_registration.source.empty() && !value.empty()) {
                g_registration.source = value.substr(0, kSourceChars);
                WriteSetting(kKeySource, {}, g_registration.source);
            }
            i += value.size() + 1;
        } else if (c == '/') {
            i += 2;
        } else {
            i += 1;
        }
    }

    std::string list = ReadSetting(kKeyFilterDlls, {}, "");
    std::string library = resources::LoadStr(kLibraryString);
    if (FindTextNoCase(list, library)) return 1;
    while (!list.empty() && list.back() == ',') list.pop_back();
    std::string directory;
    GetProgramDirectory(directory);
    WriteSetting(kKeyFilterDlls, {}, list + "," + directory + library);
    return 1;
}

}  // namespace settings
