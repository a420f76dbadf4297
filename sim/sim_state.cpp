#include "sim/sim_state.h"

#include "manager/pinned_singleton.h"
#include "sim/config_apply.h"

namespace sim {
namespace {

// Made as the library loads, so that TARNSCSI_SIM is read then.
[[maybe_unused]] const bool kMadeAtLoad = (TheSim(), true);

}  // namespace

SimState::SimState() {
    manager.SetHooks(&hooks);
    ApplyEnvironmentConfig(*this);
}

SimState& TheSim() { return aspi_mgr::PinnedSingleton<SimState>::Instance(); }

}  // namespace sim
