// The one simulator of this library: its bus, the ASPI manager in front of
// it, and the hooks that log every request and inject faults. Made as the
// library loads, with the start-up settings and then TARNSCSI_SIM applied
// (config_apply.h); kept as core/pinned_singleton.h says.
#pragma once

#include "core/aspi_manager.h"
#include "sim/sim_bus.h"
#include "sim/shared_directory.h"
#include "sim/sim_hooks.h"
#include "sim/target_claims.h"

namespace tarnscsi::sim {

struct SimState {
    SimState();
    SimState(const SimState&) = delete;
    SimState& operator=(const SimState&) = delete;

    // The completion worker runs, or a connection holds a target it will
    // release (core/pinned_singleton.h).
    bool InUse() { return manager.WorkerStarted() || claims.AnyHeld(); }

    // Decided once, as the library loads (shared_directory.h).
    const SharedDirectory shared = ChooseSharedDirectory();
    SimBus bus;
    TargetClaims claims{shared.path};
    SimHooks hooks;  // before the manager, which uses them until it is gone
    tarnscsi::manager::AspiManager manager{bus, "TARN SIM BUS"};
};

SimState& TheSim();

// What SimIdentity returns.
inline constexpr char kIdentity[] = "tarnscsi-aspi-sim";

}  // namespace tarnscsi::sim