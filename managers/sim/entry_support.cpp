// GetASPI32SupportInfo of the simulator.
#include "core/aspi_entry.h"
#include "sim/sim_state.h"

uint32_t ASPI_CALL GetASPI32SupportInfo(void) { return tarnscsi::sim::TheSim().manager.SupportInfo(); }
