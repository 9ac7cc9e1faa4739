// The filter policy: the console's copy of the values the filter reads, the rule that
// tells work time from leisure time, the storing of the Headquarters dialog's choices,
// and the publication of the values, which ends with VELDADATA_Changed = "1" so that
// the filter never sees the flag before the values it announces.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ui/types.h"

namespace policy {

constexpr std::uint16_t kDefaultCategoryMask = 16383;

// Web access coding of NormalWEB / LeisureWEB.
enum : std::uint16_t { kWebFiltered = 1, kWebFull = 2, kWebNone = 3 };

// List selection coding of NormalVeldaYES / LeisureVeldaYES.
enum : std::uint32_t {
    kListRestricted = 0,
    kListApproved = 1,
    kListAdditionalRestrictionsOnly = 2,
    kListAdditionalApprovalsOnly = 3,
};

struct FilterPolicy {
    std::uint16_t workMask = 0;       // NormalContent: bit i = category i chosen
    std::uint16_t leisureMask = 0;    // LeisureContent
    std::uint16_t workWeb = 0;        // NormalWEB
    std::uint16_t leisureWeb = 0;     // LeisureWEB
    std::uint32_t workList = 0;       // NormalVeldaYES
    std::uint32_t leisureList = 0;    // LeisureVeldaYES
    std::uint16_t amStart = 0, amEnd = 0, pmStart = 0, pmEnd = 0;  // quarter hours 0..96
    std::string days;                 // DaysOfOperation: '1' = work day, Sunday first
    std::uint32_t logSites = 0;       // LogSites
    std::string redirectPage;         // RedirectedSite, at most 64 characters
    int leisureNow = 0;               // 1 while it is leisure time
};

// The one policy record.
struct PolicyState {
    FilterPolicy policy;
};
PolicyState& Policy();
void ResetPolicy();

// The choices of one period as the Headquarters dialog's buttons show them.
struct PeriodChoices {
    bool noneButton = false;  // "None" web access
    bool fullButton = false;  // "Full" web access
    std::array<bool, 16> categories{};
};

// What a publication announces.
struct Publication {
    // Every policy value written back with its default where it is missing, the model
    // filled, then VELDADATA_Changed = "1".
    bool values = false;
    // Then the database publication (policy/database_rebuild.h): the databases were rebuilt,
    // and DNSHASH.DAT is to be rebuilt.
    bool databasesRebuilt = false;
    bool rebuildDnsHash = false;
};
// 1 when every step asked for was published (VELDADATA_Changed and VELDABIN_Changed are
// "1"); 0 when the store could not be written or a database is missing.
int PublishPolicy(const Publication& publication);
int PublishValues();

void StoreWorkChoices(const PeriodChoices& choices);
void StoreLeisureChoices(const PeriodChoices& choices);

// 1 for leisure time, 0 for work time, by the local clock (platform/clock.h).
int IsLeisureTimeNow();

// Stores the Headquarters dialog's list selection (kList*) for the current period; a
// selection of the restricted or approved list whose file is missing or invalid is
// announced first.
void SelectListForPeriod(ui::HWND window, int selection);

// The block page used when RedirectedSite holds less than 8 characters.
std::string DefaultBlockPage();

}  // namespace policy
