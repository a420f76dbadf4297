// The pixels a simulated exposure produces, as they go out on the bus:
// unsigned 16-bit, most significant byte first. Made once per exposure, when
// its readout ends.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/sky_scene.h"
#include "sim/window_params.h"

namespace tarnscsi::sim {

enum class ImageKind {
    // Pixel n has the value (n * 40503 + 12345) mod 65536: every byte of a
    // download can be checked in place.
    kPattern = 0,
    // The sky of the seed through the sensor: bias, dark current, sky,
    // stars, hot pixels, read and shot noise.
    kSky = 1,
    // The same with the shutter closed: bias, dark current, hot pixels, noise.
    kDark = 2,
};

// Everything an exposure's image depends on. The same recipe always gives
// the same image.
struct ExposureRecipe {
    Window window;
    ImageKind kind = ImageKind::kPattern;
    std::uint64_t seed = 0;
    // Counts accepted SCANs from 1 since the camera was placed or the seed
    // set; picks the noise, so that successive frames differ as real ones do.
    std::uint64_t number = 0;
    // Sensor temperature (tenths of a degree) as the exposure started.
    std::int32_t sensorTenths = 0;
};

std::vector<std::uint8_t> MakeImage(const ExposureRecipe& recipe, SceneCache& scenes);

// The value of pixel n of the pattern image.
std::uint16_t PatternPixel(std::uint32_t n);

}  // namespace tarnscsi::sim