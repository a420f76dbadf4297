// Applies configuration text (sim_config.h) to the simulator: the
// TARNSCSI_SIM environment variable once, as the library loads, and the text
// given to SimConfigure.
#pragma once

#include <string_view>

#include "sim/sim_state.h"

namespace tarnscsi::sim {

inline constexpr char kConfigVariable[] = "TARNSCSI_SIM";

// Parses `text`, reports each ignored item on stderr (naming `source`) and
// applies the rest. Returns the number of items ignored.
int ApplyConfigText(SimState& state, std::string_view text, std::string_view source);

// Applies TARNSCSI_SIM when it is set.
void ApplyEnvironmentConfig(SimState& state);

}  // namespace tarnscsi::sim