// The filter's decision for one request: which period is in force, its access mode, and
// for filtered access the administrator's entries and then the chosen list, looked up in the
// mapped databases. Pure code over a policy and a database set; nothing here blocks (names
// that need the system resolver are resolved by the caller, see NeedsResolver).
//
// The rules, in order:
//  1. The period in force by the console's rule (IsLeisureTime) gives the access mode, the
//     list choice and the category mask. Full access allows, no access blocks.
//  2. The host's values: a dotted IPv4 host stands for itself; otherwise the host (without
//     a leading "www.", after the name with it) and then each parent domain, longest first,
//     in DNSHASH.DAT, the first found giving the value; failing that, the addresses the
//     resolver found.
//  3. The administrator's entries come first: sites in NoneYES.BIN (approvals) and
//     NoneNOT.BIN (restrictions), and the approved and restricted domain parts. The most
//     specific match wins: a path item over a whole site, a longer path over a shorter one,
//     a site over a domain part, a longer domain part over a shorter one; an approval wins
//     a tie.
//  4. Otherwise the list choice: 0 blocks when the categories in force for the URL meet the
//     mask; 1 allows only what the approved list holds with categories in the mask; 2 allows
//     (only the administrator's restrictions apply); 3 blocks (only the approvals allow).
// Categories in force for a URL at an entry: the categories of its path items that match
// the URL's path, and the entry's own categories that none of its items carries (those are
// the whole site's). A site-block item ("!SLBLOCK!") applies to every path. In an approving
// database an item of categories 0 approves its path (the administrator's approval of a
// path) and leaves the rest of the site out.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "filter/database_set.h"
#include "filter/published_policy.h"

namespace filter {

// A request's URL as the proxy gives it: "scheme://[user@]host[:port][/path]" or, for a
// CONNECT, "host:port". The host is lower-cased without a trailing dot; the path is what
// follows the first '/' after the host (the console's form of a site's path).
struct RequestTarget {
    std::string url;
    std::string host;
    std::string path;
    bool ipv4 = false;
    std::uint32_t address = 0;  // when ipv4
};
bool ParseRequestTarget(std::string_view url, RequestTarget& target, std::string& error);

// The values a host stands for, and where they came from.
struct HostValues {
    std::vector<std::uint32_t> values;
    std::string source;  // "address", "DNSHASH.DAT: NAME", "resolver"
};
// From the host itself or DNSHASH.DAT; empty when the name is in neither.
HostValues FindHostValues(const DatabaseSet& set, const RequestTarget& target);
// True when a name was found nowhere and the resolver should be asked.
bool NeedsResolver(const HostValues& values, const RequestTarget& target);

enum class Verdict { kAllow, kBlock };

struct Decision {
    Verdict verdict = Verdict::kBlock;
    bool leisure = false;
    WebAccess access = WebAccess::kFiltered;
    ListChoice list = ListChoice::kRestricted;
    std::uint16_t mask = 0;
    std::string rule;     // a short name of the rule that decided ("restricted-list", ...)
    std::string reason;   // the same in words, for the log and the block page
    std::string matched;  // the entry that decided, when one did
    std::uint16_t categories = 0;  // the categories that decided (lists)
    HostValues values;
};

// A decision with only its period filled in (the period, access mode, list, mask): what
// Decide and the fail modes start from.
Decision PeriodDecision(const PublishedPolicy& policy, HostValues values,
                        const std::tm& localTime);
Decision Decide(const PublishedPolicy& policy, const DatabaseSet& set,
                const RequestTarget& target, HostValues values, const std::tm& localTime);

// The block page address for a blocked request: RedirectedSite with url= and reason= added
// as query parameters (percent-encoded).
std::string BlockPageUrl(const std::string& redirect, const RequestTarget& target,
                         const Decision& decision);
std::string PercentEncode(std::string_view text);

}  // namespace filter
