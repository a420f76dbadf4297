// SendASPI32Command of the simulator.
#include "core/aspi_entry.h"
#include "sim/sim_state.h"

uint32_t ASPI_CALL SendASPI32Command(void* srb) { return tarnscsi::sim::TheSim().manager.Send(srb); }
