// The one simulator of this library: its bus and the ASPI manager in front
// of it. Made as the library loads, with the start-up settings and then
// TARNSCSI_SIM applied (config_apply.h). While requests only ever complete immediately it
// is destroyed when the library is unloaded; once the completion worker runs
// (which pins the library) it is never destroyed, so the worker can never
// touch freed memory, not even during process exit.
#pragma once

#include "manager/aspi_manager.h"
#include "sim/sim_bus.h"

namespace sim {

struct SimState {
    SimBus bus;
    aspi_mgr::AspiManager manager{bus, "TARN SIM BUS"};
};

SimState& TheSim();

// What SimIdentity returns.
inline constexpr char kIdentity[] = "tarnscsi-aspi-sim";

}  // namespace sim
