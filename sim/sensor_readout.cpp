#include "sim/sensor_readout.h"

#include <algorithm>
#include <cmath>

#include "sim/random.h"
#include "sim/sensor_model.h"

namespace tarnscsi::sim {
namespace {

namespace s = sensor;

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr float kRounding = 0.5f;

// Noise deviates come in fours, one for each four horizontally adjacent
// pixels starting at a column divisible by four.
static_assert(kSensorWidth % kNormalsPerCount == 0);

class RowReader {
public:
    RowReader(const SkyScene& sky, const ExposureRecipe& recipe, bool shutterOpen)
        : scene(sky),
          window(recipe.window),
          seconds(recipe.window.exposureMs / kMillisecondsPerSecond),
          light(shutterOpen),
          darkElectrons(s::DarkElectronsPerSecond(recipe.sensorTenths) * seconds),
          key(CombineKeys(recipe.seed, recipe.number)),
          mean(static_cast<std::size_t>(recipe.window.width)) {}

    void Read(std::int32_t y, std::uint16_t* out) {
        const std::uint32_t rowStart = static_cast<std::uint32_t>(y) * kSensorWidth;
        const std::uint32_t first = rowStart + static_cast<std::uint32_t>(window.originX);
        const std::uint32_t end = first + static_cast<std::uint32_t>(window.width);
        ExpectedElectrons(first, end);
        for (std::uint32_t index = first; index < end;) {
            const NormalQuad noise = CountedNormals(key, index / kNormalsPerCount);
            for (auto k = index % kNormalsPerCount; k < kNormalsPerCount && index < end; ++k, ++index) {
                out[index - first] = Convert(mean[index - first], noise[k]);
            }
        }
    }

private:
    void ExpectedElectrons(std::uint32_t first, std::uint32_t end) {
        const float dark = static_cast<float>(darkElectrons);
        const float exposed = static_cast<float>(seconds);
        for (std::uint32_t index = first; index < end; ++index) {
            mean[index - first] = dark + (light ? scene.light[index] * exposed : 0.0f);
        }
        const auto hot = std::lower_bound(scene.hotPixels.begin(), scene.hotPixels.end(), first,
                                          [](const HotPixel& p, std::uint32_t i) { return p.index < i; });
        for (auto p = hot; p != scene.hotPixels.end() && p->index < end; ++p) {
            mean[p->index - first] += dark * p->darkFactor;
        }
    }

    static std::uint16_t Convert(float meanElectrons, float deviate) {
        constexpr auto kFullWell = static_cast<float>(s::kFullWellElectrons);
        constexpr auto kReadVariance = static_cast<float>(s::kReadNoiseElectrons * s::kReadNoiseElectrons);
        constexpr auto kGain = static_cast<float>(s::kGainElectronsPerAdu);
        const float electrons = std::min(meanElectrons, kFullWell);
        const float noisy = electrons + std::sqrt(electrons + kReadVariance) * deviate;
        const float counts = static_cast<float>(s::kBiasAdu) + noisy / kGain;
        return static_cast<std::uint16_t>(std::clamp(counts, 0.0f, static_cast<float>(s::kLargestAdu)) + kRounding);
    }

    const SkyScene& scene;
    const Window& window;
    const double seconds;
    const bool light;
    const double darkElectrons;
    const std::uint64_t key;
    std::vector<float> mean;
};

}  // namespace

std::vector<std::uint16_t> ReadSensor(const SkyScene& scene, const ExposureRecipe& recipe, bool shutterOpen) {
    const auto width = static_cast<std::size_t>(recipe.window.width);
    std::vector<std::uint16_t> pixels(width * static_cast<std::size_t>(recipe.window.height));
    RowReader reader(scene, recipe, shutterOpen);
    for (std::int32_t row = 0; row < recipe.window.height; ++row) {
        reader.Read(recipe.window.originY + row, pixels.data() + static_cast<std::size_t>(row) * width);
    }
    return pixels;
}

}  // namespace tarnscsi::sim