// An exposure of the sky scene through the sensor: for each pixel of the
// window the expected electrons (light when the sensor sees any, dark
// current, hot pixels; at most a full well). Unbinned, each pixel is read
// on its own; binned, the charges of each 2 x 2 cell are summed on the chip
// (at most the output node's full well) and read once. A read adds shot and
// read noise and makes counts through the gain on top of the bias, 0..65535
// (sensor_model.h).
//
// Noise is drawn per read from (seed, exposure number, the place on the
// sensor of the pixel or of the cell's top-left pixel), so a window's pixels
// equal the same pixels of a full frame of the same recipe, binned or not.
// Shot noise is taken as normal with variance equal to the mean.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/image_source.h"
#include "sim/sky_scene.h"

namespace tarnscsi::sim {

// The window's image row by row: width x height values, or (width / 2) x
// (height / 2) when binned (an odd last column or row is not read). `lit`:
// whether light reaches the sensor.
std::vector<std::uint16_t> ReadSensor(const SkyScene& scene, const ExposureRecipe& recipe, bool lit);

}  // namespace tarnscsi::sim