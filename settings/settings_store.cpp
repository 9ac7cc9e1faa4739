#include "settings/settings_store.h"

#include <array>
#include <climits>

#include "platform/registry.h"
#include "resources/string_table.h"

namespace settings {
namespace {

constexpr std::string_view kServicesPath = "SYSTEM\\CurrentControlSet\\Services";
constexpr std::string_view kFilterService = "W3Velda";
constexpr std::string_view kWebService = "W3SVC";
constexpr int kPolicySectionString = 2335;   // "Services"
constexpr int kConsoleSectionString = 1616;  // "Veldana"
constexpr int kWebServiceSectionString = 2437;  // "Parameters"
constexpr int kFilterDllsString = 5137;         // "Filter DLLs"

using L = SettingKeyInfo;
constexpr std::array kKeyTable = {
    // policy section
    L{5116, L::kPolicy, nullptr, 0},   L{5117, L::kPolicy, nullptr, 0},
    L{5144, L::kPolicy, nullptr, 0},   L{5145, L::kPolicy, nullptr, 0},
    L{5118, L::kPolicy, nullptr, 0},   L{5119, L::kPolicy, "33", 4},
    L{5120, L::kPolicy, "48", 4},      L{5121, L::kPolicy, "52", 4},
    L{5122, L::kPolicy, "69", 4},      L{5125, L::kPolicy, "0111110", 8},
    L{5126, L::kPolicy, nullptr, 0},   L{5141, L::kPolicy, nullptr, 0},
    L{5128, L::kPolicy, "1", 2},       L{5127, L::kPolicy, "1", 2},
    L{5130, L::kPolicy, nullptr, 0},   L{5129, L::kPolicy, nullptr, 0},
    L{5131, L::kPolicy, "16383", 6},   L{5132, L::kPolicy, "16383", 6},
    L{5135, L::kPolicy, "0", 2},       L{5136, L::kPolicy, "0", 2},
    L{5133, L::kPolicy, "0", 2},       L{5134, L::kPolicy, "", 64},
    L{5142, L::kPolicy, "", 128},      L{5143, L::kPolicy, "", 10},
    // console section
    L{5002, L::kConsole, "", 14},      L{5003, L::kConsole, "", 14},
    L{5004, L::kConsole, nullptr, 0},  L{5018, L::kConsole, nullptr, 0},
    L{5023, L::kConsole, "", 2},       L{5032, L::kConsole, "", 25},
    L{5083, L::kConsole, "", 64},      L{5094, L::kConsole, nullptr, 0},
    L{5095, L::kConsole, nullptr, 0},  L{5115, L::kConsole, "", 128},
    L{5140, L::kConsole, "", 128},     L{5139, L::kConsole, "1", 1},
    // web service
    L{5137, L::kWebService, "", 511},
};

// Where a value lives: its key path and its name. False when a caller-named
// identifier has no name.
bool Locate(int keyId, std::string_view name, std::string& path, std::string& valueName,
            bool& webService) {
    SettingKeyInfo info = SettingKey(keyId);
    int section = kConsoleSectionString;
    if (info.location == L::kCallerNamed) {
        if (name.empty()) return false;
        valueName = std::string(name);
    } else {
        valueName = resources::LoadStr(keyId);
        if (info.location == L::kPolicy) section = kPolicySectionString;
        if (info.location == L::kWebService) section = kWebServiceSectionString;
    }
    webService = valueName == resources::LoadStr(kFilterDllsString);
    path = std::string(kServicesPath) + "\\" +
           std::string(webService ? kWebService : kFilterService) + "\\" +
           resources::LoadStr(section);
    return true;
}

// Makes sure Services\W3Velda\<section> exists, level by level.
bool EnsureFilterKeys(const std::string& path) {
    using namespace platform;
    RegKey services;
    if (RegOpenKey(HkeyLocalMachine(), kServicesPath, services) != kErrSuccess) return false;
    std::string rest = path.substr(kServicesPath.size() + 1);  // W3Velda\<section>
    std::size_t bs = rest.find('\\');
    RegKey service, section;
    std::string serviceName = rest.substr(0, bs);
    if (RegOpenKey(services, serviceName, service) != kErrSuccess &&
        RegCreateKey(services, serviceName, service) != kErrSuccess)
        return false;
    std::string sectionName = rest.substr(bs + 1);
    if (RegOpenKey(service, sectionName, section) != kErrSuccess &&
        RegCreateKey(service, sectionName, section) != kErrSuccess)
        return false;
    return true;
}

}  // namespace

SettingKeyInfo SettingKey(int keyId) {
    for (const auto& k : kKeyTable)
        if (k.id == keyId) return k;
    return SettingKeyInfo{keyId, L::kCallerNamed, "", 64};
}

std::string SettingKeyPath(int keyId, std::string_view name) {
    std::string path, valueName;
    bool web = false;
    return Locate(keyId, name, path, valueName, web) ? path : std::string();
}

std::string ReadSetting(int keyId, std::string_view name, std::string_view defaultText) {
    std::string path, valueName;
    bool web = false;
    if (!Locate(keyId, name, path, valueName, web)) return {};

    std::string text;
    platform::RegKey key;
    if (platform::RegOpenKey(platform::HkeyLocalMachine(), path, key) == platform::kErrSuccess) {
        unsigned type = 0;
        std::string data;
        if (platform::RegQueryValue(key, valueName, type, data, kMaxSettingLength) ==
            platform::kErrSuccess) {
            // A stored terminator (or anything after one) is not part of the text.
            text = data.substr(0, data.find('\0'));
        }
    }
    if (text.empty()) text = std::string(defaultText);
    return text;
}

int WriteSetting(int keyId, std::string_view name, std::string_view valueText) {
    std::string path, valueName;
    bool web = false;
    if (!Locate(keyId, name, path, valueName, web)) return 0;
    // A value the readers could not read back is not stored.
    if (valueText.size() > kMaxSettingLength) return 0;
    if (!web && !EnsureFilterKeys(path)) return 0;

    using namespace platform;
    RegKey key;
    if (RegOpenKey(HkeyLocalMachine(), path, key) != kErrSuccess) return 0;
    if (!valueText.empty()) return RegSetValue(key, valueName, kRegSz, valueText) == kErrSuccess;
    return RegDeleteValue(key, valueName) == kErrSuccess;
}

std::string ReadTableSetting(int keyId, std::string_view name) {
    SettingKeyInfo info = SettingKey(keyId);
    std::string text = ReadSetting(keyId, name, info.defaultText ? info.defaultText : "");
    if (info.chars != 0 && text.size() > info.chars) text.resize(info.chars);
    return text;
}


}  // namespace settings
