#include "filter/squid_helper.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <deque>
#include <map>

#include "dbread/text.h"

namespace filter {
namespace {

bool AllDigits(std::string_view w) {
    return !w.empty() && w.size() <= 9 &&
           std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A value as Squid reads a quoted helper field: in double quotes, '"' and '\' escaped, and
// control characters left out.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 32 || c == 0x7F) continue;
        out += c;
    }
    return out + "\"";
}

std::string Prefix(const std::optional<std::string>& channel) {
    return channel ? *channel + " " : "";
}

std::string FormatTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// Where the rewriter sends a blocked browser when no block page is published.
constexpr std::string_view kNoBlockPage = "http://veldana-blocked.invalid/";

// One request on its way: waiting for its name, or decided.
struct Pending {
    std::optional<std::string> channel;
    HelperLine line;
    RequestTarget target;
    std::time_t received = 0;
};

class Helper {
  public:
    Helper(Filter& filter, HostResolver& resolver, const HelperOptions& options)
        : filter_(filter), resolver_(resolver), options_(options) {}

    void Take(std::string_view text, bool tooLong);
    void Resolved(const std::string& host);
    std::string& output() { return output_; }

  private:
    void Answer(Pending& p, const HostValues& values);
    void Refuse(const std::optional<std::string>& channel, std::string_view why,
                std::string_view shown);

    Filter& filter_;
    HostResolver& resolver_;
    const HelperOptions& options_;
    std::multimap<std::string, Pending> waiting_;  // by host
    std::string output_;
};

void Helper::Refuse(const std::optional<std::string>& channel, std::string_view why,
                    std::string_view shown) {
    if (options_.note)
        options_.note("veldana-filter: " + std::string(why) + ": " +
                      std::string(shown.substr(0, 200)));
    output_ += FormatRefusal(options_.kind, channel, options_.failMode, why);
}

void Helper::Take(std::string_view text, bool tooLong) {
    const auto words = dbread::SplitWords(text.substr(0, 64));
    if (words.empty() && !tooLong) return;  // no request, no answer
    std::optional<std::string> channel;
    if (words.size() >= 1 && AllDigits(words[0]) && (words.size() >= 2 || tooLong))
        channel = std::string(words[0]);
    if (tooLong) return Refuse(channel, "a line over the length limit", text);

    Pending p;
    if (!ParseHelperLine(text, options_.kind, p.line)) return Refuse(channel, "a line without a URL", text);
    p.channel = p.line.channel;
    std::string error;
    if (!ParseRequestTarget(p.line.url, p.target, error))
        return Refuse(p.channel, "an unusable URL (" + error + ")", p.line.url);
    p.received = options_.at ? *options_.at : std::time(nullptr);

    filter_.Refresh();
    HostValues values = filter_.FindValues(p.target);
    if (filter_.HasDatabases() && NeedsResolver(values, p.target)) {
        std::vector<std::uint32_t> addresses;
        if (!resolver_.Cached(p.target.host, addresses)) {
            if (p.channel) {
                resolver_.Start(p.target.host);
                waiting_.emplace(p.target.host, std::move(p));
                return;
            }
            addresses = resolver_.ResolveNow(p.target.host);  // answers keep their order
        }
        values.values = std::move(addresses);
        values.source = "resolver";
    }
    Answer(p, values);
}

void Helper::Resolved(const std::string& host) {
    auto [first, last] = waiting_.equal_range(host);
    std::vector<Pending> ready;
    for (auto it = first; it != last; ++it) ready.push_back(std::move(it->second));
    waiting_.erase(first, last);
    std::vector<std::uint32_t> addresses;
    resolver_.Cached(host, addresses);
    for (Pending& p : ready) {
        HostValues values = filter_.FindValues(p.target);
        if (values.values.empty()) {
            values.values = addresses;
            values.source = "resolver";
        }
        Answer(p, values);
    }
}

void Helper::Answer(Pending& p, const HostValues& values) {
    std::tm local{};
    localtime_r(&p.received, &local);
    const Decision d = filter_.DecideAt(p.target, values, local);
    std::string blockUrl;
    if (d.verdict == Verdict::kBlock) {
        blockUrl = BlockPageUrl(filter_.policy().redirect, p.target, d);
        if (blockUrl.empty()) blockUrl = BlockPageUrl(std::string(kNoBlockPage), p.target, d);
        if (filter_.policy().logSites && options_.logBlocked)
            options_.logBlocked(FormatTime(p.received) + " " + p.line.client + " " + p.target.url +
                                " " + d.rule + " " + d.reason +
                                (d.matched.empty() ? "" : " (" + d.matched + ")"));
    }
    output_ += FormatAnswer(options_.kind, p.channel, d, blockUrl);
}

bool WriteAll(int fd, std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    text.clear();
    return true;
}

}  // namespace

bool ParseHelperLine(std::string_view line, HelperKind, HelperLine& out) {
    out = HelperLine{};
    auto words = dbread::SplitWords(line);
    std::size_t i = 0;
    if (words.size() >= 2 && AllDigits(words[0])) out.channel = std::string(words[i++]);
    if (i >= words.size()) return false;
    out.url = std::string(words[i++]);
    out.client = i < words.size() ? std::string(words[i++]) : "-";
    // The rewriter's second field is CLIENT/FQDN.
    if (std::size_t slash = out.client.find('/'); slash != std::string::npos) out.client.resize(slash);
    if (out.client.empty()) out.client = "-";
    out.method = i < words.size() ? std::string(words[i]) : "-";
    return true;
}

std::string FormatAnswer(HelperKind kind, const std::optional<std::string>& channel,
                         const Decision& decision, const std::string& blockUrl) {
    const bool allowed = decision.verdict == Verdict::kAllow;
    if (kind == HelperKind::kUrlRewrite) {
        if (allowed) return Prefix(channel) + "ERR\n";
        return Prefix(channel) + "OK status=302 url=" + Quoted(blockUrl) + "\n";
    }
    if (allowed) return Prefix(channel) + "OK log=" + decision.rule + "\n";
    return Prefix(channel) + "ERR message=" + decision.rule + " log=" + Quoted(decision.reason) + "\n";
}

std::string FormatRefusal(HelperKind kind, const std::optional<std::string>& channel,
                          FailMode mode, std::string_view why) {
    const bool open = mode == FailMode::kOpen;
    if (kind == HelperKind::kUrlRewrite) {
        if (open) return Prefix(channel) + "ERR\n";
        return Prefix(channel) + "OK status=302 url=" +
               Quoted(std::string(kNoBlockPage) + "?reason=bad-request") + "\n";
    }
    if (open) return Prefix(channel) + "OK log=" + Quoted(why) + "\n";
    return Prefix(channel) + "ERR message=bad-request log=" + Quoted(why) + "\n";
}

int RunSquidHelper(Filter& filter, HostResolver& resolver, const HelperOptions& options, int in,
                   int out) {
    Helper helper(filter, resolver, options);
    std::string buffer;
    bool discarding = false;  // the rest of a line over the limit
    std::string discardedHead;
    char chunk[65536];
    bool ended = false;
    while (!ended || resolver.Pending()) {
        pollfd fd{in, POLLIN, 0};
        const int wait = resolver.Pending() ? 10 : 1000;
        const int rc = ended ? (::poll(nullptr, 0, wait), 0) : ::poll(&fd, 1, wait);
        if (rc < 0 && errno != EINTR) break;
        if (rc > 0) {
            const ssize_t n = ::read(in, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                ended = true;
                if (!buffer.empty() && !discarding) helper.Take(buffer, false);
                buffer.clear();
            } else {
                std::string_view data(chunk, static_cast<std::size_t>(n));
                while (!data.empty()) {
                    const std::size_t nl = data.find('\n');
                    const std::string_view part = data.substr(0, nl);
                    if (discarding) {
                        if (nl != std::string_view::npos) {
                            helper.Take(discardedHead, true);
                            discarding = false;
                            discardedHead.clear();
                        }
                    } else if (buffer.size() + part.size() > options.maxLine) {
                        buffer.append(part.substr(0, std::min(part.size(), std::size_t{64})));
                        if (nl == std::string_view::npos) {
                            discarding = true;
                            discardedHead = buffer.substr(0, 64);
                        } else {
                            helper.Take(buffer.substr(0, 64), true);
                        }
                        buffer.clear();
                    } else {
                        buffer.append(part);
                        if (nl != std::string_view::npos) {
                            if (!buffer.empty() && buffer.back() == '\r') buffer.pop_back();
                            helper.Take(buffer, false);
                            buffer.clear();
                        }
                    }
                    if (nl == std::string_view::npos) break;
                    data.remove_prefix(nl + 1);
                }
            }
        }
        for (const std::string& host : resolver.Collect()) helper.Resolved(host);
        if (!helper.output().empty() && !WriteAll(out, helper.output())) return 1;
        if (!ended) filter.Refresh();
    }
    return 0;
}

}  // namespace filter
