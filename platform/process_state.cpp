#include "platform/process_state.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Filled during static initialisation, so it is made on first use.
std::vector<std::pair<StateLayer, void (*)()>>& Resets() {
    static std::vector<std::pair<StateLayer, void (*)()>> resets;
    return resets;
}

}  // namespace

StateReset::StateReset(StateLayer layer, void (*reset)()) {
    Resets().emplace_back(layer, reset);
}

void ResetProcessState() {
    auto resets = Resets();
    std::stable_sort(resets.begin(), resets.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [layer, reset] : resets) reset();
}

}  // namespace platform
