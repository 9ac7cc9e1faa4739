// The policy as the console publishes it for the filter: the text values under the filter
// service's policy key, read with the defaults and the lengths the console writes them
// with, and the rule that tells work time from leisure time. Pure code: the values come in
// as a map (platform::ReadRegistryKeyValues reads them from the store).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace filter {

// The key the console publishes under, below HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kPolicyKey =
    "SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services";

// NormalWEB / LeisureWEB.
enum class WebAccess { kFiltered = 1, kFull = 2, kNone = 3 };
// NormalVeldaYES / LeisureVeldaYES.
enum class ListChoice { kRestricted = 0, kApproved = 1, kRestrictionsOnly = 2, kApprovalsOnly = 3 };

struct PeriodPolicy {
    std::uint16_t categories = 16383;  // NormalContent / LeisureContent
    WebAccess access = WebAccess::kFiltered;
    ListChoice list = ListChoice::kRestricted;
};

// Work time is [amStart, amEnd) and [pmStart, pmEnd) in quarter hours since midnight, on
// the days marked '1' (Sunday first).
struct WorkHours {
    std::string days = "0111110";
    long amStart = 33, amEnd = 48, pmStart = 52, pmEnd = 69;
};

struct PublishedPolicy {
    PeriodPolicy work, leisure;
    WorkHours hours;
    bool logSites = false;
    std::string redirect;  // RedirectedSite; empty when none is published
    // The databases: IPNormalDataFile (restricted list), IPLeisureDataFile (approved list),
    // NoneNOTFile, NoneYESFile, DNSDataFile.
    std::string restrictedFile, approvedFile, noneNotFile, noneYesFile, dnsFile;
    std::string dataChanged;  // VELDADATA_Changed
    std::string binChanged;   // VELDABIN_Changed: "0" while a rebuild runs
};

// Each value read as the console reads it back: at most its published number of
// characters, missing ones taking the console's default. An access value other than 1..3
// counts as filtered, a list choice other than 0..3 as the restricted list.
PublishedPolicy ReadPublishedPolicy(const platform::RegistryValues& values);

// True when `local` falls into leisure time, by the console's rule: a day marked '0' is
// leisure all day; otherwise the quarter hour decides.
bool IsLeisureTime(const WorkHours& hours, const std::tm& local);

}  // namespace filter
