// veldana-filter: the filter that enforces the console's policy inside Squid.
//   veldana-filter acl [OPTIONS]        Squid external ACL helper (standard input/output)
//   veldana-filter rewrite [OPTIONS]    Squid URL-rewrite helper
//   veldana-filter check URL [OPTIONS] [--json]
//                                       what the filter decides for URL, and why
//   veldana-filter squid-config [--rewrite] [OPTIONS]
//                                       the lines to add to squid.conf
// OPTIONS: --registry FILE (the console's store; default: the installation's),
//   --fail closed|open (with no complete databases: block, the default, or allow),
//   --log FILE (blocked requests, when the console's LogSites is "1"; default: standard
//   error, which Squid writes to its cache.log), --at "YYYY-MM-DD HH:MM[:SS]" (decide at
//   that local time instead of the clock's), --client ADDRESS (check).
// check exits 0 when the URL is allowed, 1 when it is blocked, 2 for a usage error or a URL
// that cannot be taken.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "dbread/text.h"
#include "filter/filter.h"
#include "filter/resolver.h"
#include "filter/squid_helper.h"
#include "platform/locations.h"

namespace {

int Usage() {
    std::fputs(
        "usage: veldana-filter acl [OPTIONS]\n"
        "       veldana-filter rewrite [OPTIONS]\n"
        "       veldana-filter check URL [OPTIONS] [--json] [--client ADDRESS]\n"
        "       veldana-filter squid-config [--rewrite] [OPTIONS]\n"
        "OPTIONS: --registry FILE, --fail closed|open, --log FILE,\n"
        "         --at \"YYYY-MM-DD HH:MM[:SS]\"\n",
        stderr);
    return 2;
}

struct Arguments {
    std::string command;
    std::string url;
    std::string registry;
    filter::FailMode fail = filter::FailMode::kClosed;
    std::string log;
    std::optional<std::time_t> at;
    std::string atText;
    std::string client = "-";
    bool json = false;
    bool rewrite = false;
};

bool ParseTime(const std::string& text, std::time_t& out) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    if (!end || *end) {
        tm = std::tm{};
        end = strptime(text.c_str(), "%Y-%m-%d %H:%M", &tm);
    }
    if (!end || *end) return false;
    tm.tm_isdst = -1;
    out = std::mktime(&tm);
    return out != static_cast<std::time_t>(-1);
}

bool Parse(int argc, char** argv, Arguments& a) {
    if (argc < 2) return false;
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--registry") {
            if (!value(a.registry)) return false;
        } else if (arg == "--fail") {
            if (!value(v) || (v != "closed" && v != "open")) return false;
            a.fail = v == "open" ? filter::FailMode::kOpen : filter::FailMode::kClosed;
        } else if (arg == "--log") {
            if (!value(a.log)) return false;
        } else if (arg == "--at") {
            std::time_t t;
            if (!value(a.atText) || !ParseTime(a.atText, t)) return false;
            a.at = t;
        } else if (arg == "--client") {
            if (!value(a.client)) return false;
        } else if (arg == "--json" && a.command == "check") {
            a.json = true;
        } else if (arg == "--rewrite" && a.command == "squid-config") {
            a.rewrite = true;
        } else if (a.command == "check" && a.url.empty() && arg.rfind("--", 0) != 0) {
            a.url = arg;
        } else {
            return false;
        }
    }
    if (a.registry.empty()) a.registry = platform::RegistryStorePath();
    if (a.command == "check" && a.url.empty()) return false;
    return a.command == "acl" || a.command == "rewrite" || a.command == "check" ||
           a.command == "squid-config";
}

// The category names of the Headquarters dialog, for the reports.
constexpr const char* kRestrictedNames[16] = {
    "Violence / Profanity", "Partial Nudity", "Full Nudity", "Sexual Acts", "Gross Depictions",
    "Intolerance", "Satanic or Cult", "Drugs / Drug Culture", "Militant / Extremist",
    "Sex Education", "Questionable / Illegal & Gambling", "Alcohol & Tobacco",
    "Sports & Entertainment", "Reserved 3", "Reserved 2", "Search Engines"};
constexpr const char* kApprovedNames[16] = {
    "Games & Toys", "Art, Books & Music", "Movies & TV", "Outdoors & Sports", "Oceans & Space",
    "Pets, Animals & Dinos", "Other Interesting Stuff", "Vacations & Travel",
    "Puzzles & Hobbies", "School Work", "Volunteer & Help", "Open-2", "Open-1",
    "Reference Material", "Schools on the Net", "Parents & Teachers"};

std::vector<std::string> CategoryNames(std::uint16_t bits, filter::ListChoice list) {
    const bool approved = list == filter::ListChoice::kApproved || list == filter::ListChoice::kApprovalsOnly;
    std::vector<std::string> names;
    for (int i = 0; i < 16; ++i)
        if (bits & (1u << i)) names.push_back(approved ? kApprovedNames[i] : kRestrictedNames[i]);
    return names;
}

const char* ListName(filter::ListChoice list) {
    switch (list) {
        case filter::ListChoice::kRestricted: return "restricted list";
        case filter::ListChoice::kApproved: return "approved list";
        case filter::ListChoice::kRestrictionsOnly: return "additional restrictions only";
        case filter::ListChoice::kApprovalsOnly: return "additional approvals only";
    }
    return "?";
}

const char* AccessName(filter::WebAccess access) {
    switch (access) {
        case filter::WebAccess::kFiltered: return "filtered";
        case filter::WebAccess::kFull: return "full";
        case filter::WebAccess::kNone: return "none";
    }
    return "?";
}

std::string Join(const std::vector<std::string>& parts, const char* between) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : between) + p;
    return out;
}

int Check(const Arguments& a) {
    filter::Filter f({a.registry, a.fail, nullptr});
    f.Refresh(true);
    filter::RequestTarget target;
    std::string error;
    if (!filter::ParseRequestTarget(a.url, target, error)) {
        std::fprintf(stderr, "veldana-filter: %s: %s\n", a.url.c_str(), error.c_str());
        return 2;
    }
    filter::HostValues values = f.FindValues(target);
    if (f.HasDatabases() && filter::NeedsResolver(values, target)) {
        filter::HostResolver resolver;
        values.values = resolver.ResolveNow(target.host);
        values.source = "resolver";
    }
    const std::time_t when = a.at ? *a.at : std::time(nullptr);
    std::tm local{};
    localtime_r(&when, &local);
    const filter::Decision d = f.DecideAt(target, values, local);
    const bool blocked = d.verdict == filter::Verdict::kBlock;
    const std::string blockUrl = blocked ? filter::BlockPageUrl(f.policy().redirect, target, d) : "";
    char moment[64];
    std::strftime(moment, sizeof moment, "%A %Y-%m-%d %H:%M", &local);
    std::vector<std::string> addresses;
    for (std::uint32_t v : d.values.values) addresses.push_back(dbread::DottedAddress(v));

    if (a.json) {
        nlohmann::json j = {
            {"url", a.url},
            {"host", target.host},
            {"path", target.path},
            {"values", addresses},
            {"valuesFrom", d.values.source},
            {"time", moment},
            {"period", d.leisure ? "leisure" : "work"},
            {"access", AccessName(d.access)},
            {"list", static_cast<int>(d.list)},
            {"listName", ListName(d.list)},
            {"mask", d.mask},
            {"verdict", blocked ? "blocked" : "allowed"},
            {"rule", d.rule},
            {"reason", d.reason},
            {"matched", d.matched},
            {"categories", d.categories},
            {"categoryNames", CategoryNames(d.categories, d.list)},
            {"blockPage", blockUrl},
            {"databases", f.HasDatabases()},
        };
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        std::printf("URL:        %s\n", a.url.c_str());
        std::printf("host:       %s%s%s\n", target.host.c_str(),
                    target.path.empty() ? "" : ", path ", target.path.c_str());
        std::printf("values:     %s%s%s\n", addresses.empty() ? "none" : Join(addresses, ", ").c_str(),
                    d.values.source.empty() ? "" : " from ", d.values.source.c_str());
        std::printf("period:     %s (%s)\n", d.leisure ? "leisure time" : "work time", moment);
        std::printf("access:     %s; list: %s; categories 0x%04X\n", AccessName(d.access),
                    ListName(d.list), d.mask);
        std::printf("decision:   %s (%s): %s\n", blocked ? "blocked" : "allowed", d.rule.c_str(),
                    d.reason.c_str());
        if (!d.matched.empty()) std::printf("entry:      %s\n", d.matched.c_str());
        if (d.categories)
            std::printf("categories: %s\n", Join(CategoryNames(d.categories, d.list), ", ").c_str());
        if (!blockUrl.empty()) std::printf("block page: %s\n", blockUrl.c_str());
    }
    return blocked ? 1 : 0;
}

std::string SelfPath() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "veldana-filter";
}

int SquidConfig(const Arguments& a) {
    filter::Filter f({a.registry, a.fail, nullptr});
    f.Refresh(true);
    std::string helper = SelfPath() + (a.rewrite ? " rewrite" : " acl") + " --registry " + a.registry;
    if (a.fail == filter::FailMode::kOpen) helper += " --fail open";
    if (!a.log.empty()) helper += " --log " + a.log;
    std::string page = f.policy().redirect;
    std::printf("# The Veldana filter: add these lines to squid.conf, before the http_access lines\n"
                "# that allow your clients.\n");
    if (a.rewrite) {
        std::printf("url_rewrite_program %s\n", helper.c_str());
        std::printf("url_rewrite_children 16 startup=2 idle=1 concurrency=32\n");
        std::printf("# (CONNECT requests are not rewritten: the external ACL form covers HTTPS.)\n");
        return 0;
    }
    std::printf("external_acl_type veldana concurrency=32 children-max=8 ttl=0 negative_ttl=0 "
                "%%>ru %%>a %%>rm %s\n",
                helper.c_str());
    std::printf("acl veldana_allows external veldana\n");
    if (page.empty()) {
        std::printf("# No block page is published yet (RedirectedSite): Squid shows its own page.\n");
    } else {
        std::printf("deny_info 302:%s%curl=%%u&reason=%%o veldana_allows\n", page.c_str(),
                    page.find('?') == std::string::npos ? '?' : '&');
    }
    std::printf("http_access deny !veldana_allows\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments a;
    if (!Parse(argc, argv, a)) return Usage();
    if (a.command == "check") return Check(a);
    if (a.command == "squid-config") return SquidConfig(a);

    int logFd = STDERR_FILENO;
    if (!a.log.empty()) {
        logFd = ::open(a.log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
        if (logFd < 0) {
            std::fprintf(stderr, "veldana-filter: cannot open %s: %s\n", a.log.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    auto note = [](std::string_view text) { std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data()); };
    filter::Filter f({a.registry, a.fail, note});
    f.Refresh(true);
    filter::HostResolver resolver;
    filter::HelperOptions options;
    options.kind = a.command == "rewrite" ? filter::HelperKind::kUrlRewrite : filter::HelperKind::kExternalAcl;
    options.failMode = a.fail;
    options.at = a.at;
    options.logBlocked = [logFd](const std::string& line) {
        std::string text = line + "\n";
        [[maybe_unused]] ssize_t n = ::write(logFd, text.data(), text.size());
    };
    options.note = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    return filter::RunSquidHelper(f, resolver, options, STDIN_FILENO, STDOUT_FILENO);
}
