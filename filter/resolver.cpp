#include "filter/resolver.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <thread>

namespace filter {

struct HostResolver::Lookup {
    std::string host;
    addrinfo hints{};
    gaicb request{};
    Clock::time_point deadline;
};

namespace {

std::vector<std::uint32_t> Addresses(const addrinfo* list) {
    std::vector<std::uint32_t> out;
    for (const addrinfo* a = list; a && out.size() < 16; a = a->ai_next) {
        if (a->ai_family != AF_INET) continue;
        std::uint32_t word;  // the address word: first octet in the lowest byte
        std::memcpy(&word, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, 4);
        bool seen = false;
        for (std::uint32_t w : out) seen = seen || w == word;
        if (!seen) out.push_back(word);
    }
    return out;
}

}  // namespace

HostResolver::HostResolver(ResolverOptions options) : options_(options) {}

HostResolver::~HostResolver() {
    auto finish = [](Lookup& l) {
        gaicb* list[] = {&l.request};
        if (gai_cancel(&l.request) != EAI_CANCELED)
            while (gai_error(&l.request) == EAI_INPROGRESS) gai_suspend(list, 1, nullptr);
        if (l.request.ar_result) freeaddrinfo(l.request.ar_result);
    };
    for (auto& [host, lookup] : running_) finish(*lookup);
    for (auto& lookup : abandoned_) finish(*lookup);
}

bool HostResolver::Cached(const std::string& host, std::vector<std::uint32_t>& addresses) {
    auto it = kept_.find(host);
    if (it == kept_.end()) return false;
    if (Clock::now() >= it->second.until) {
        kept_.erase(it);
        return false;
    }
    addresses = it->second.addresses;
    return true;
}

void HostResolver::Keep(const std::string& host, std::vector<std::uint32_t> addresses) {
    const Clock::time_point now = Clock::now();
    if (kept_.size() >= options_.maxNames) {
        for (auto it = kept_.begin(); it != kept_.end();)
            it = it->second.until <= now ? kept_.erase(it) : std::next(it);
        if (kept_.size() >= options_.maxNames) kept_.clear();
    }
    const int seconds = addresses.empty() ? options_.keepFailureSeconds : options_.keepSeconds;
    kept_[host] = Kept{std::move(addresses), now + std::chrono::seconds(seconds)};
}

void HostResolver::Start(const std::string& host) {
    if (running_.count(host)) return;
    auto lookup = std::make_unique<Lookup>();
    lookup->host = host;
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_request = &lookup->hints;
    lookup->deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
    gaicb* list[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        Keep(host, {});
        return;
    }
    running_[host] = std::move(lookup);
}

std::vector<std::string> HostResolver::Collect() {
    std::vector<std::string> ended;
    const Clock::time_point now = Clock::now();
    for (auto it = running_.begin(); it != running_.end();) {
        Lookup& l = *it->second;
        const int state = gai_error(&l.request);
        if (state == EAI_INPROGRESS && now < l.deadline) {
            ++it;
            continue;
        }
        ended.push_back(l.host);
        if (state == EAI_INPROGRESS) {
            // Out of time: the name counts as not resolved. The lookup goes on in the C
            // library, so its memory is kept until it has ended.
            gai_cancel(&l.request);
            Keep(l.host, {});
            abandoned_.push_back(std::move(it->second));
        } else {
            Keep(l.host, state == 0 ? Addresses(l.request.ar_result) : std::vector<std::uint32_t>{});
            if (l.request.ar_result) freeaddrinfo(l.request.ar_result);
        }
        it = running_.erase(it);
    }
    for (auto it = abandoned_.begin(); it != abandoned_.end();) {
        if (gai_error(&(*it)->request) == EAI_INPROGRESS) {
            ++it;
            continue;
        }
        if ((*it)->request.ar_result) freeaddrinfo((*it)->request.ar_result);
        it = abandoned_.erase(it);
    }
    return ended;
}

std::vector<std::uint32_t> HostResolver::ResolveNow(const std::string& host) {
    std::vector<std::uint32_t> addresses;
    if (Cached(host, addresses)) return addresses;
    Start(host);
    while (running_.count(host)) {
        Collect();
        if (running_.count(host)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Cached(host, addresses);
    return addresses;
}

}  // namespace filter
