#include "filter/filter.h"

#include <chrono>

namespace filter {
namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Filter::Filter(FilterOptions options) : options_(std::move(options)) {}

void Filter::Note(const std::string& text) {
    // The same trouble is told once, not at every look.
    if (text == lastNote_) return;
    lastNote_ = text;
    if (options_.note) options_.note(text);
}

void Filter::Tell(const std::string& text) {
    lastNote_.clear();
    if (options_.note) options_.note(text);
}

void Filter::Refresh(bool force) {
    const std::int64_t now = NowMs();
    if (!force && lastLookMs_ >= 0 && now - lastLookMs_ < options_.refreshIntervalMs) return;
    lastLookMs_ = now;

    FileIdentity store;
    if (!IdentifyFile(options_.storePath, store)) {
        if (!havePolicy_) problem_ = "the registry store " + options_.storePath + " cannot be read";
        Note("veldana-filter: cannot examine the registry store " + options_.storePath);
        return;
    }
    if (!havePolicy_ || !(store == storeIdentity_)) {
        platform::RegistryValues values;
        std::string error;
        if (!platform::ReadRegistryKeyValues(options_.storePath, kPolicyKey, values, error)) {
            if (!havePolicy_) problem_ = error;
            Note("veldana-filter: " + error + "; keeping the policy read before");
            return;
        }
        policy_ = ReadPublishedPolicy(values);
        havePolicy_ = true;
        storeIdentity_ = store;
    }
    if (set_ && MappingFaults() != faultsSeen_) {
        // A file of the set was cut short in place: its bytes cannot be trusted any more.
        set_.reset();
        problem_ = "a database file was cut short while open";
        Note("veldana-filter: " + problem_ + "; opening the databases again");
    }
    faultsSeen_ = MappingFaults();
    if (policy_.binChanged == "0") {
        if (set_) {
            Note("veldana-filter: a rebuild is running; deciding with the databases opened before");
        } else {
            problem_ = "a rebuild of the databases is running";
            Note("veldana-filter: a rebuild is running and no databases are open yet");
        }
        return;
    }
    if (set_ && SetIsCurrent(*set_, policy_)) return;
    auto fresh = std::make_unique<DatabaseSet>();
    std::string error;
    if (!OpenDatabaseSet(policy_, *fresh, error)) {
        if (!set_) problem_ = error;
        Note("veldana-filter: " + error +
             (set_ ? "; deciding with the databases opened before" : "; no databases to decide with"));
        return;
    }
    const bool first = set_ == nullptr;
    set_ = std::move(fresh);
    problem_.clear();
    Tell(first ? "veldana-filter: databases opened" : "veldana-filter: new databases opened");
}

HostValues Filter::FindValues(const RequestTarget& target) const {
    if (!set_) {
        HostValues v;
        if (target.ipv4) {
            v.values.push_back(target.address);
            v.source = "address";
        }
        return v;
    }
    return FindHostValues(*set_, target);
}

Decision Filter::DecideAt(const RequestTarget& target, HostValues values,
                          const std::tm& localTime) const {
    if (set_ && MappingFaults() == faultsSeen_) {
        Decision d = Decide(policy_, *set_, target, std::move(values), localTime);
        if (MappingFaults() == faultsSeen_) return d;
        values = std::move(d.values);
    }
    Decision d = PeriodDecision(policy_, std::move(values), localTime);
    const bool open = options_.failMode == FailMode::kOpen;
    d.verdict = open ? Verdict::kAllow : Verdict::kBlock;
    d.rule = open ? "fail-open" : "fail-closed";
    d.reason = "no databases to decide with (" +
               (set_ ? std::string("a database file was cut short while open") : problem_) + ")";
    return d;
}

}  // namespace filter
