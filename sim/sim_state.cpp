#include "sim/sim_state.h"

#include "manager/pinned_singleton.h"
#include "sim/config_apply.h"

namespace tarnscsi::sim {
namespace {

// Made as the library loads, so that TARNSCSI_SIM is read then.
[[maybe_unused]] const bool kMadeAtLoad = (TheSim(), true);

}  // namespace

SimState::SimState() {
    manager.SetHooks(&hooks);
    ApplyEnvironmentConfig(*this);
}

SimState& TheSim() { return tarnscsi::manager::PinnedSingleton<SimState>::Instance(); }

}  // namespace tarnscsi::sim