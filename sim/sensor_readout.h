// An exposure of the sky scene through the sensor, unbinned: for each pixel
// of the window the expected electrons (light with the shutter open, dark
// current, hot pixels; at most a full well), plus shot and read noise, made
// counts through the gain on top of the bias, 0..65535.
//
// Noise is drawn per pixel from (seed, exposure number, the pixel's place on
// the sensor), so a window's pixels equal the same pixels of a full frame
// of the same recipe, and a binned image can be rebuilt from an unbinned one.
// Shot noise is taken as normal with variance equal to the mean.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/image_source.h"
#include "sim/sky_scene.h"

namespace tarnscsi::sim {

// width x height values of recipe.window, row by row.
std::vector<std::uint16_t> ReadSensor(const SkyScene& scene, const ExposureRecipe& recipe, bool shutterOpen);

}  // namespace tarnscsi::sim