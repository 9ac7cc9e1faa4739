#include "filter/decision.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "dbread/record_format.h"
#include "dbread/text.h"

namespace filter {
namespace {

constexpr std::uint32_t kSentinelAddress = 0xFFFFFFFF;
constexpr std::string_view kSentinelName = "z.z.z.z.z";
constexpr std::uint16_t kSiteBlockBit = 0x1000;
constexpr std::uint16_t kAllCategories = 0xFFFF;

// ASCII only, whatever the locale.
bool HostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_';
}
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The path key of the URL in one of the two forms, made when first asked for.
class UrlKeys {
  public:
    explicit UrlKeys(const std::string& path) : path_(path) {}
    const std::vector<std::uint8_t>& For(KeyForm form) {
        auto& slot = form == KeyForm::kText ? text_ : segments_;
        if (!slot.made) {
            slot.key = form == KeyForm::kText ? dbread::PathKeyText(path_)
                                              : dbread::PathKeySegments(path_);
            slot.made = true;
        }
        return slot.key;
    }

  private:
    struct Slot {
        bool made = false;
        std::vector<std::uint8_t> key;
    };
    const std::string& path_;
    Slot text_, segments_;
};

const std::vector<std::uint8_t>& SiteBlockKey(KeyForm form) {
    static const std::vector<std::uint8_t> text = dbread::PathKeyText("!SLBLOCK!");
    static const std::vector<std::uint8_t> segments = dbread::PathKeySegments("!SLBLOCK!");
    return form == KeyForm::kText ? text : segments;
}

bool KeyMatches(std::span<const std::uint8_t> item, const std::vector<std::uint8_t>& url,
                KeyForm form) {
    if (item.empty() || item.size() > url.size()) return false;
    if (form == KeyForm::kSegments && item.size() % 4 != 0) return false;
    return std::equal(item.begin(), item.end(), url.begin());
}

bool SameKey(std::span<const std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

std::string ItemText(std::span<const std::uint8_t> key, KeyForm form) {
    if (form == KeyForm::kSegments) return dbread::Printf("%zu segment(s)", key.size() / 4);
    return "\"" + std::string(key.begin(), key.end()) + "\"";
}

std::string FileName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How one database's entry applies to the URL.
struct EntryMatch {
    bool found = false;
    std::uint16_t categories = 0;  // in force for this URL
    int pathLength = -1;           // key length of the longest matching path item
    bool wholeSite = false;
    std::string what;
};

EntryMatch MatchEntry(const OpenDatabase& db, const HostValues& host, UrlKeys& keys) {
    const bool approving = db.sense == Sense::kApproving;
    const auto& siteBlockKey = SiteBlockKey(db.keyForm);
    for (std::uint32_t value : host.values) {
        if (value == 0 || value == kSentinelAddress) continue;
        dbread::AddressEntryView entry;
        std::string error;
        if (dbread::FindAddressView(db.image, value, entry, error) != dbread::Lookup::kFound)
            continue;

        std::uint16_t carried = 0;
        bool siteBlock = false, approvesPaths = false;
        dbread::PathItemView item;
        for (auto rest = entry.items; dbread::NextIndexPathItem(rest, item);) {
            if (SameKey(item.key, siteBlockKey)) siteBlock = true;
            if (item.categories == 0 && approving) approvesPaths = true;
            carried |= item.categories;
        }
        EntryMatch m;
        std::uint16_t whole = approvesPaths ? 0 : static_cast<std::uint16_t>(entry.categories & ~carried);
        if (siteBlock) whole |= kSiteBlockBit;
        std::uint16_t path = 0;
        std::span<const std::uint8_t> longest;
        if (!entry.items.empty()) {
            const auto& urlKey = keys.For(db.keyForm);
            for (auto rest = entry.items; dbread::NextIndexPathItem(rest, item);) {
                if (SameKey(item.key, siteBlockKey)) continue;
                if (item.categories == 0 && !approving) continue;  // an exception the approvals hold
                if (!KeyMatches(item.key, urlKey, db.keyForm)) continue;
                path |= item.categories == 0 ? kAllCategories : item.categories;
                if (static_cast<int>(item.key.size()) > m.pathLength) {
                    m.pathLength = static_cast<int>(item.key.size());
                    longest = item.key;
                }
            }
        }
        m.categories = whole | path;
        m.wholeSite = whole != 0;
        m.found = m.categories != 0;
        if (!m.found) continue;
        m.what = FileName(db.path) + " entry " + dbread::DottedAddress(value);
        if (m.pathLength >= 0) m.what += ", path item " + ItemText(longest, db.keyForm);
        if (siteBlock) m.what += ", site block";
        return m;
    }
    return {};
}

// How specific a match of the administrator's is; higher wins, -1 is none.
int SiteScore(const EntryMatch& m) {
    if (!m.found) return -1;
    return m.pathLength >= 0 ? 1000 + m.pathLength : 500;
}

struct DomainMatch {
    int score = -1;
    std::string part;
};

// The longest domain part of the host in the administrator's approved (NoneYES.BIN) and
// restricted (NoneNOT.BIN) domains.
void MatchDomains(const DatabaseSet& set, const RequestTarget& target, DomainMatch& approved,
                  DomainMatch& restricted) {
    // Every database holds the sentinel name; with nothing else there is nothing to find.
    auto names = [](const OpenDatabase& db) {
        return db.image.nameIndexBuilt ? db.image.nameIndex.count : 0u;
    };
    if (names(set.noneYes) <= 1 && names(set.noneNot) <= 1) return;
    std::array<std::uint8_t, dbread::kMaxNameKeyLength> opposite{};
    opposite[0] = 0xFF;  // a restricted domain's key: the lead byte, then at most 62 bytes
    for (const std::string& key : dbread::DomainKeys(target.host)) {
        if (approved.score >= 0 || restricted.score >= 0) break;
        if (key == kSentinelName) continue;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(key.data());
        dbread::NameEntry entry;
        std::string error;
        if (dbread::FindName(set.noneYes.image, std::span(bytes, key.size()), entry, error) ==
                dbread::Lookup::kFound &&
            (entry.flags & dbread::kFlagApprovedDomain) != 0)
            approved = {100 + static_cast<int>(key.size()), key};
        const std::size_t n = std::min(key.size(), opposite.size() - 1);
        std::copy(bytes, bytes + n, opposite.begin() + 1);
        if (dbread::FindName(set.noneNot.image, std::span(opposite.data(), n + 1), entry, error) ==
            dbread::Lookup::kFound)
            restricted = {100 + static_cast<int>(key.size()), key};
    }
}

// A domain key back in the order it was entered (com.example -> example.com).
std::string DomainText(const std::string& key) {
    bool numeric = std::all_of(key.begin(), key.end(),
                               [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; });
    if (numeric) return key;
    std::vector<std::string> labels;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = key.find('.', start);
        labels.push_back(key.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    std::string out;
    for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
        if (!out.empty()) out += '.';
        out += *it;
    }
    return out;
}

const char* PeriodName(bool leisure) { return leisure ? "leisure time" : "work time"; }

}  // namespace

bool ParseRequestTarget(std::string_view url, RequestTarget& target, std::string& error) {
    target = RequestTarget{};
    while (!url.empty() && (url.front() == ' ' || url.front() == '\t')) url.remove_prefix(1);
    while (!url.empty() && (url.back() == ' ' || url.back() == '\t')) url.remove_suffix(1);
    if (url.empty()) {
        error = "no URL";
        return false;
    }
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= 32 || c == 0x7F) {
            error = "the URL holds a blank or a control character";
            return false;
        }
    }
    target.url = std::string(url);
    std::string_view rest = url;
    if (std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
        rest.remove_prefix(scheme + 3);
    }
    std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    if (end != std::string_view::npos && rest[end] == '/') target.path = std::string(rest.substr(end + 1));
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            error = "an IPv6 address without its ']'";
            return false;
        }
        host = authority.substr(1, close - 1);
        for (char c : host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
                error = "not an IPv6 address";
                return false;
            }
    } else {
        host = authority.substr(0, authority.find(':'));
        for (char c : host)
            if (!HostChar(c)) {
                error = "not a host name";
                return false;
            }
    }
    while (!host.empty() && host.back() == '.') host.remove_suffix(1);
    if (host.empty()) {
        error = "no host in the URL";
        return false;
    }
    target.host.resize(host.size());
    std::transform(host.begin(), host.end(), target.host.begin(), Lower);
    target.ipv4 = dbread::ParseDottedAddress(target.host, target.address);
    return true;
}

HostValues FindHostValues(const DatabaseSet& set, const RequestTarget& target) {
    HostValues out;
    if (target.ipv4) {
        out.values.push_back(target.address);
        out.source = "address";
        return out;
    }
    std::string_view name = target.host;
    auto found = [&](std::string_view candidate) {
        std::uint32_t value = 0;
        std::string error;
        if (dbread::FindDnsName(set.dns, candidate, value, error) != dbread::Lookup::kFound)
            return false;
        out.values.push_back(value);
        out.source = "DNSHASH.DAT: " + std::string(candidate);
        return true;
    };
    // A list may hold a name with its "www." (the console's own names never do): that name
    // first, then the host without it and its parents.
    if (name.size() > 4 && name.substr(0, 4) == "www.") {
        if (found(name)) return out;
        name.remove_prefix(4);
    }
    for (;;) {
        if (found(name)) return out;
        std::size_t dot = name.find('.');
        if (dot == std::string_view::npos) break;
        name.remove_prefix(dot + 1);
        if (name.empty()) break;
    }
    return out;
}

bool NeedsResolver(const HostValues& values, const RequestTarget& target) {
    return values.values.empty() && !target.ipv4 && target.host.find(':') == std::string::npos;
}

Decision PeriodDecision(const PublishedPolicy& policy, HostValues values,
                        const std::tm& localTime) {
    Decision d;
    d.values = std::move(values);
    d.leisure = IsLeisureTime(policy.hours, localTime);
    const PeriodPolicy& period = d.leisure ? policy.leisure : policy.work;
    d.access = period.access;
    d.list = period.list;
    d.mask = period.categories;
    return d;
}

Decision Decide(const PublishedPolicy& policy, const DatabaseSet& set,
                const RequestTarget& target, HostValues hostValues, const std::tm& localTime) {
    Decision d = PeriodDecision(policy, std::move(hostValues), localTime);
    const HostValues& values = d.values;
    const std::string when = PeriodName(d.leisure);
    auto decide = [&](Verdict v, std::string rule, std::string reason,
                      std::string matched = {}) -> Decision&& {
        d.verdict = v;
        d.rule = std::move(rule);
        d.reason = std::move(reason);
        d.matched = std::move(matched);
        return std::move(d);
    };
    if (d.access == WebAccess::kFull) return decide(Verdict::kAllow, "full-access", "full access in " + when);
    if (d.access == WebAccess::kNone) return decide(Verdict::kBlock, "no-access", "no access in " + when);

    // The administrator's entries.
    UrlKeys keys(target.path);
    const EntryMatch approvedSite = MatchEntry(set.noneYes, values, keys);
    const EntryMatch restrictedSite = MatchEntry(set.noneNot, values, keys);
    DomainMatch approvedDomain, restrictedDomain;
    MatchDomains(set, target, approvedDomain, restrictedDomain);
    const int approval = std::max(SiteScore(approvedSite), approvedDomain.score);
    const int restriction = std::max(SiteScore(restrictedSite), restrictedDomain.score);
    if (approval >= 0 && approval >= restriction) {
        if (SiteScore(approvedSite) == approval)
            return decide(Verdict::kAllow, "approved-site", "approved by the administrator",
                          approvedSite.what);
        return decide(Verdict::kAllow, "approved-domain", "an approved domain of the administrator",
                      "domain part " + DomainText(approvedDomain.part));
    }
    if (restriction >= 0) {
        if (SiteScore(restrictedSite) == restriction)
            return decide(Verdict::kBlock, "restricted-site", "restricted by the administrator",
                          restrictedSite.what);
        return decide(Verdict::kBlock, "restricted-domain",
                      "a restricted domain of the administrator",
                      "domain part " + DomainText(restrictedDomain.part));
    }

    switch (d.list) {
        case ListChoice::kRestricted: {
            const EntryMatch m = MatchEntry(set.restricted, values, keys);
            const auto hit = static_cast<std::uint16_t>(m.categories & d.mask);
            if (m.found && hit != 0) {
                d.categories = hit;
                return decide(Verdict::kBlock, "restricted-list",
                              dbread::Printf("on the restricted list in categories 0x%04X chosen for ",
                                             hit) + when,
                              m.what);
            }
            if (m.found) {
                d.categories = m.categories;
                return decide(Verdict::kAllow, "not-restricted",
                              dbread::Printf("on the restricted list only in categories 0x%04X, "
                                             "not chosen for ",
                                             m.categories) + when,
                              m.what);
            }
            return decide(Verdict::kAllow, "not-restricted", "not on the restricted list");
        }
        case ListChoice::kApproved: {
            const EntryMatch m = MatchEntry(set.approved, values, keys);
            const auto hit = static_cast<std::uint16_t>(m.categories & d.mask);
            if (m.found && hit != 0) {
                d.categories = hit;
                return decide(Verdict::kAllow, "approved-list",
                              dbread::Printf("on the approved list in categories 0x%04X", hit),
                              m.what);
            }
            return decide(Verdict::kBlock, "not-approved",
                          "not on the approved list in the categories chosen for " + when,
                          m.found ? m.what : "");
        }
        case ListChoice::kRestrictionsOnly:
            return decide(Verdict::kAllow, "restrictions-only",
                          "only the administrator's restrictions apply in " + when);
        case ListChoice::kApprovalsOnly:
            break;
    }
    return decide(Verdict::kBlock, "approvals-only",
                  "only the administrator's approvals are allowed in " + when);
}

std::string PercentEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string BlockPageUrl(const std::string& redirect, const RequestTarget& target,
                         const Decision& decision) {
    if (redirect.empty()) return {};
    std::string url = redirect;
    url += redirect.find('?') == std::string::npos ? '?' : '&';
    url += "url=" + PercentEncode(target.url) + "&reason=" + PercentEncode(decision.rule);
    return url;
}

}  // namespace filter
