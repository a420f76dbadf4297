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
    // A test pattern numbered by sensor position (PatternPixel), binned as
    // the chip bins: every byte of a download can be checked in place, and
    // a window's image is a crop of the full frame's.
    kPattern = 0,
    // The sky of the seed through the sensor: bias, dark current, sky,
    // stars, hot pixels, read and shot noise.
    kSky = 1,
    // The same with no light on the sensor: bias, dark current, hot pixels,
    // noise.
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
    // The telescope is covered: no light reaches the sensor, whatever the kind.
    bool covered = false;
};

std::vector<std::uint8_t> MakeImage(const ExposureRecipe& recipe, SceneCache& scenes);

// The pattern's value at unbinned sensor position (x, y): with n = y * 768
// + x, (n * 40503 + 12345) mod 16384. Fourteen bits, so that a binned
// pixel, the sum of its cell's four values, never reaches the converter's
// top.
std::uint16_t PatternPixel(std::int32_t x, std::int32_t y);

}  // namespace tarnscsi::sim