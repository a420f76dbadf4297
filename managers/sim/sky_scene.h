// What the camera looks at, made once per seed: the light falling on each
// pixel of the sensor (sky background with a gentle gradient, plus a star
// field), and the sensor's hot pixels. Exposures of any window and length
// are made from it (sensor_readout.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tarnscsi::sim {

struct HotPixel {
    std::uint32_t index;  // y * sensor width + x
    float darkFactor;     // extra dark current, in multiples of a normal pixel's
};

struct SkyScene {
    // Electrons per second reaching each pixel from the open telescope, row by
    // row over the whole sensor.
    std::vector<float> light;
    // Sorted by index.
    std::vector<HotPixel> hotPixels;
};

// The scene of a seed: star positions uniform over the sensor, brightness
// from a magnitude distribution with more faint stars than bright ones,
// star images a few pixels wide (Moffat profile).
SkyScene MakeSkyScene(std::uint64_t seed);

// Keeps the scene of the last seed asked for. Not thread-safe: used under
// the bus lock.
class SceneCache {
public:
    const SkyScene& For(std::uint64_t seed);

private:
    std::optional<std::uint64_t> seed;
    std::unique_ptr<SkyScene> scene;
};

}  // namespace tarnscsi::sim