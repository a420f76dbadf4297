// SimIdentity: tells a test that this simulator, not some other manager on
// the search path, was loaded. Every build of the simulator exports it.
#include "sim/sim_control.h"
#include "sim/sim_state.h"

const char* SimIdentity(void) { return tarnscsi::sim::kIdentity; }
