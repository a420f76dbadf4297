#include "sim/sim_state.h"

#include <cstdio>

#include "core/pinned_singleton.h"
#include "sim/config_apply.h"

namespace tarnscsi::sim {
namespace {

// Made as the library loads, so that TARNSCSI_SIM is read then.
[[maybe_unused]] const bool kMadeAtLoad = (TheSim(), true);

}  // namespace

SimState::SimState() {
    manager.SetHooks(&hooks);
    if (shared.path) {
        bus.ShareThrough(*shared.path);
    } else if (!shared.problem.empty()) {
        std::fprintf(stderr, "tarnscsi simulator: %s: the simulated camera is this program's alone\n",
                     shared.problem.c_str());
    }
    // After sharing, so that a seed given here makes the noise repeat again.
    ApplyEnvironmentConfig(*this);
}

SimState& TheSim() { return tarnscsi::manager::PinnedSingleton<SimState>::Instance(); }

}  // namespace tarnscsi::sim