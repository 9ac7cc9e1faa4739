// The state a process keeps in its modules, reset as a whole for tests. Every module that
// keeps state registers its reset beside that state, with a StateReset at namespace scope in
// the same source file, so a module that is linked in cannot be forgotten:
//
//     const platform::StateReset kReset{platform::StateLayer::kSettings, &ResetFileCatalogue};
//
// ResetProcessState runs every registered reset, the highest layer first, so that a module
// lets go of what it holds from the layers below (windows, files) before those are reset.
#pragma once

namespace platform {

// The layers in the order of the layering rule (README, "Architecture").
enum class StateLayer {
    kPlatform,
    kUi,
    kDbread,
    kResources,
    kSettings,
    kSitelists,
    kResolve,
    kDbbuild,
    kProgress,
    kUpdate,
    kPolicy,
    kDialogs,
    kShell,
    kTools
};

struct StateReset {
    StateReset(StateLayer layer, void (*reset)());
};

void ResetProcessState();

}  // namespace platform
