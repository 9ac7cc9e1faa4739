// The running filter: the published policy and the database set it decides with, kept
// current. Refresh looks at the registry store and the databases (a few stat calls, at
// most about once a second) and reloads what changed:
//  - a changed store is read again (VELDADATA_Changed and the values it announces);
//  - while VELDABIN_Changed is "0" a rebuild runs and the set already open stays in use;
//  - otherwise a database file that was replaced (or a path that changed) makes the whole
//    set open again; when that fails the last complete set stays in use.
// With no complete set at all, every request is decided by the fail mode: blocked
// (closed, the default) or allowed (open), with the reason. So is a request decided while a
// file of the set was cut short in place (see MappedFile); the next look opens the files
// again.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "filter/database_set.h"
#include "filter/decision.h"
#include "filter/published_policy.h"

namespace filter {

enum class FailMode { kClosed, kOpen };

struct FilterOptions {
    std::string storePath;                 // the registry store
    FailMode failMode = FailMode::kClosed;
    std::function<void(std::string_view)> note;  // messages for the administrator's log
    int refreshIntervalMs = 1000;
};

class Filter {
  public:
    explicit Filter(FilterOptions options);

    // Reloads what changed since the last look; with `force` regardless of the interval.
    void Refresh(bool force = false);
    bool HasDatabases() const { return set_ != nullptr; }
    const PublishedPolicy& policy() const { return policy_; }
    const DatabaseSet* databases() const { return set_.get(); }
    // Why there is no set (empty when there is one).
    const std::string& problem() const { return problem_; }

    // The host's values from the databases (empty with no set).
    HostValues FindValues(const RequestTarget& target) const;
    // The decision at `localTime`, or the fail mode's when no set is open.
    Decision DecideAt(const RequestTarget& target, HostValues values,
                      const std::tm& localTime) const;

  private:
    void Note(const std::string& text);  // trouble: told once while it lasts
    void Tell(const std::string& text);  // news: always told

    FilterOptions options_;
    PublishedPolicy policy_;
    bool havePolicy_ = false;
    FileIdentity storeIdentity_{};
    std::unique_ptr<DatabaseSet> set_;
    std::string problem_ = "the databases have not been opened yet";
    std::string lastNote_;
    std::int64_t lastLookMs_ = -1;
    std::uint64_t faultsSeen_ = 0;  // MappingFaults() when the set was last found sound
};

}  // namespace filter
