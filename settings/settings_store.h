// Settings: registry text values addressed by key identifiers.
//
// A key identifier is the number of the string whose text is the value name. The key
// table decides the registry key:
//   policy section   SYSTEM\CurrentControlSet\Services\W3Velda\Services  (read by the filter)
//   console section  SYSTEM\CurrentControlSet\Services\W3Velda\Veldana
//   web service      SYSTEM\CurrentControlSet\Services\W3SVC\Parameters  ("Filter DLLs")
// Identifiers outside the table (5138 "DNS Servers" among them) are caller-named values
// in the console section. Values are REG_SZ without a terminator, at most 1536
// characters; writing an empty text deletes the value.
#pragma once

#include <string>
#include <string_view>

#include "dbread/text.h"

namespace settings {

// Key identifiers.
enum : int {
    kKeyYesDownloadDay = 5002,     // QTXPYDLD
    kKeyNotDownloadDay = 5003,     // QTXPNDLD
    kKeyCompiledListDate = 5004,   // QTXPCND
    kKeyUpgradeSeen = 5018,        // QTXPHWI
    kKeyWebSitesOption = 5023,     // QTXPWFTR
    kKeySource = 5032,             // Source
    kKeyWindowPosition = 5083,     // WindowPosition
    kKeyApprovedEntries = 5094,    // QTXPAIE
    kKeyRestrictedEntries = 5095,  // QTXPANE
    kKeyNotListReplacement = 5115, // QTXPCBRF
    kKeyNormalDataFile = 5116,     // IPNormalDataFile
    kKeyLeisureDataFile = 5117,    // IPLeisureDataFile
    kKeyDnsDataFile = 5118,        // DNSDataFile
    kKeyAmStart = 5119,
    kKeyAmEnd = 5120,
    kKeyPmStart = 5121,
    kKeyPmEnd = 5122,
    kKeyDaysOfOperation = 5125,
    kKeyBinChanged = 5126,         // VELDABIN_Changed
    kKeyLeisureWeb = 5127,
    kKeyNormalWeb = 5128,
    kKeyLeisureNews = 5129,
    kKeyNormalNews = 5130,
    kKeyNormalContent = 5131,
    kKeyLeisureContent = 5132,
    kKeyLogSites = 5133,
    kKeyRedirectedSite = 5134,
    kKeyNormalVeldaYes = 5135,
    kKeyLeisureVeldaYes = 5136,
    kKeyFilterDlls = 5137,         // "Filter DLLs"
    kKeyDnsServers = 5138,         // caller-named QTXDNS1..QTXDNS4
    kKeyAutoDownload = 5139,
    kKeyYesListReplacement = 5140, // QTXLCBRF
    kKeyDataChanged = 5141,        // VELDADATA_Changed
    kKeyProxyServer = 5142,        // QTXPXYSVR
    kKeyProxyPort = 5143,          // QTXPXYPRT
    kKeyNoneNotFile = 5144,
    kKeyNoneYesFile = 5145,
};

constexpr std::size_t kMaxSettingLength = 1536;

// Stored text of the value, or defaultText when it is absent, empty or longer than
// kMaxSettingLength. `name` is used only for caller-named identifiers; without it
// nothing is read and the result is empty, whatever the default. Never fails.
std::string ReadSetting(int keyId, std::string_view name = {}, std::string_view defaultText = {});

// Stores valueText, or deletes the value when valueText is empty. 1 on success, 0 on
// failure (a delete of a value that does not exist is a failure). The W3Velda key and
// its section are created on first write; the web service's key never is.
int WriteSetting(int keyId, std::string_view name, std::string_view valueText);

// What the key table says of an identifier.
struct SettingKeyInfo {
    int id;
    enum Location { kPolicy, kConsole, kWebService, kCallerNamed } location;
    const char* defaultText;  // null: readers pass no default
    std::size_t chars;        // characters readers keep; 0 = the whole value
};
SettingKeyInfo SettingKey(int keyId);

// ReadSetting with the key table's default, kept to the key table's length.
std::string ReadTableSetting(int keyId, std::string_view name = {});

// The registry key path of a value (without the HKEY_LOCAL_MACHINE prefix); empty
// for a caller-named identifier without a name.
std::string SettingKeyPath(int keyId, std::string_view name = {});

// Leading decimal digits of a text as a number (dbread/text.h).
using dbread::DecimalValue;

}  // namespace settings
