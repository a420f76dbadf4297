// Knobs every simulated camera on the bus shares, and their two sets of
// defaults: the realistic ones the library starts with, and the test
// baseline SimReset goes back to.
#pragma once

#include <cstdint>

#include "sim/cooling_model.h"
#include "sim/image_source.h"
#include "sim/sim_clock.h"

namespace tarnscsi::sim {

// The star field and the sensor's defects of a camera nobody configured.
inline constexpr std::uint64_t kDefaultSeed = 1;

struct SimSettings {
    SimClock clock;
    ImageKind imageKind = ImageKind::kPattern;
    // The telescope is covered: sky frames get no light (the camera has no
    // shutter).
    bool covered = false;
    std::uint64_t seed = kDefaultSeed;
    // Each camera numbers its exposures from a random start instead of 1, so
    // that the noise of a shared camera differs from process to process.
    // Giving a seed ends it: the noise then repeats as the seed says.
    bool freshNoise = false;
    CoolerSpec cooler;
};

// As the library starts: real time, the sky image.
SimSettings StartupSettings();

// What SimReset restores: exposures and readouts finish at once (time scale
// 0), the test-pattern image. Seed and cooler as at start-up.
SimSettings TestBaselineSettings();

}  // namespace tarnscsi::sim