// Knobs every simulated camera on the bus shares.
#pragma once

#include "sim/image_source.h"
#include "sim/sim_clock.h"

namespace sim {

struct SimSettings {
    SimClock clock;
    ImageKind imageKind = ImageKind::kPattern;
};

}  // namespace sim
