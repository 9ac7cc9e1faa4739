// The Squid helper protocols, over the filter:
//  - external ACL (external_acl_type with concurrency): each line is "[ID] URL CLIENT METHOD
//    ..." (the format veldana-filter squid-config prints), answered "ID OK log=RULE" or
//    "ID ERR message=RULE log=\"REASON\""; deny_info sends the browser to the block page
//    with the URL and the rule;
//  - URL rewrite (url_rewrite_program): each line is "[ID] URL CLIENT/FQDN ...", answered
//    "ID ERR" (unchanged) or "ID OK status=302 url=\"BLOCK-PAGE?url=...&reason=...\"".
// A line that starts with a number and a blank carries a channel id, and answers may go out
// of order: a name that needs the system resolver waits for it without holding up the other
// channels. Without ids the answers keep the order of the lines. A malformed line, an
// unparsable URL or a line over the length limit is answered (blocked, or left unchanged by
// the rewriter when the fail mode is open) and logged; nothing in the input can stop the
// loop.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/decision.h"
#include "filter/filter.h"
#include "filter/resolver.h"

namespace filter {

enum class HelperKind { kExternalAcl, kUrlRewrite };

struct HelperLine {
    std::optional<std::string> channel;
    std::string url;
    std::string client;  // "-" when not given
    std::string method;
};
// Splits one input line (without its newline); false when it holds no URL.
bool ParseHelperLine(std::string_view line, HelperKind kind, HelperLine& out);

// The answer line (with its newline) for a decided request; `blockUrl` is where a blocked
// browser goes (the rewriter needs one).
std::string FormatAnswer(HelperKind kind, const std::optional<std::string>& channel,
                         const Decision& decision, const std::string& blockUrl);
// The answer for a line that could not be taken, by the fail mode.
std::string FormatRefusal(HelperKind kind, const std::optional<std::string>& channel,
                          FailMode mode, std::string_view why);

struct HelperOptions {
    HelperKind kind = HelperKind::kExternalAcl;
    FailMode failMode = FailMode::kClosed;
    std::size_t maxLine = 16384;
    std::optional<std::time_t> at;  // decide at this moment instead of the clock's
    // One line per blocked request when LogSites is "1": time, client, URL, rule, reason.
    std::function<void(const std::string&)> logBlocked;
    std::function<void(const std::string&)> note;  // trouble, for the proxy's log
};

// Runs the protocol from `in` to `out` until the input ends; 0 then, 1 when writing fails.
int RunSquidHelper(Filter& filter, HostResolver& resolver, const HelperOptions& options, int in,
                   int out);

}  // namespace filter
