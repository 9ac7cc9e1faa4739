#include "platform/clock.h"

#include "platform/process_state.h"

namespace platform {
namespace {

struct ClockState {
    std::function<std::tm()> source;
};
ClockState g_clock;

}  // namespace

std::tm LocalNow() {
    if (g_clock.source) return g_clock.source();
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

void SetLocalClock(std::function<std::tm()> clock) { g_clock.source = std::move(clock); }
namespace {
const platform::StateReset kResetLocalClock{platform::StateLayer::kPlatform, [] { SetLocalClock({}); }};
}  // namespace

}  // namespace platform
