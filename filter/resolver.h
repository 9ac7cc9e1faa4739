// Names the databases do not know, resolved with the system resolver without holding up
// the caller: lookups run in the C library's own threads (getaddrinfo_a), and one that has
// not ended within the time limit is given up (the decision then rests on names alone).
// Answers, and failures, are kept for a while. Only IPv4 addresses count.
#pragma once

#include <netdb.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace filter {

struct ResolverOptions {
    int timeoutMs = 2000;
    int keepSeconds = 300;        // an answer
    int keepFailureSeconds = 60;  // a name that did not resolve
    std::size_t maxNames = 10000;
};

class HostResolver {
  public:
    explicit HostResolver(ResolverOptions options = {});
    ~HostResolver();
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // A kept answer (possibly "no addresses"); false when the name is not known.
    bool Cached(const std::string& host, std::vector<std::uint32_t>& addresses);
    // Starts a lookup unless one for the name runs already.
    void Start(const std::string& host);
    bool Pending() const { return !running_.empty(); }
    // The lookups that ended or ran out of time since the last call; their answers are kept.
    std::vector<std::string> Collect();
    // Resolves one name and waits for it (at most the time limit).
    std::vector<std::uint32_t> ResolveNow(const std::string& host);

  private:
    using Clock = std::chrono::steady_clock;
    struct Lookup;
    struct Kept {
        std::vector<std::uint32_t> addresses;
        Clock::time_point until;
    };
    void Keep(const std::string& host, std::vector<std::uint32_t> addresses);

    ResolverOptions options_;
    std::map<std::string, Kept> kept_;
    std::map<std::string, std::unique_ptr<Lookup>> running_;
    std::vector<std::unique_ptr<Lookup>> abandoned_;  // out of time, still running
};

}  // namespace filter
