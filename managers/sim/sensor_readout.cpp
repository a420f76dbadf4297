#include "sim/sensor_readout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/random.h"
#include "sim/sensor_model.h"

namespace tarnscsi::sim {
namespace {

namespace s = sensor;

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr float kRounding = 0.5f;
constexpr auto kPixelWell = static_cast<float>(s::kFullWellElectrons);
// Binned reads draw their noise under a key of their own, apart from the
// unbinned pixels' noise.
constexpr std::uint64_t kBinnedNoiseStream = 2;

// Noise deviates come in fours, one for each four horizontally adjacent
// pixels starting at a column divisible by four.
static_assert(kSensorWidth % kNormalsPerCount == 0);

// The charge each pixel of a sensor row collected: light (when the sensor
// sees any), dark current and hot pixels, each pixel holding at most its
// full well.
class ChargeModel {
public:
    ChargeModel(const SkyScene& sky, const ExposureRecipe& recipe, bool lit)
        : scene(sky),
          seconds(recipe.window.exposureMs / kMillisecondsPerSecond),
          light(lit),
          dark(static_cast<float>(s::DarkElectronsPerSecond(recipe.sensorTenths) * seconds)) {}

    // Electrons of the sensor indices first .. end - 1 into out[0 ..].
    void Row(std::uint32_t first, std::uint32_t end, float* out) const {
        for (std::uint32_t index = first; index < end; ++index) {
            out[index - first] = dark + (light ? scene.light[index] * static_cast<float>(seconds) : 0.0f);
        }
        const auto hot = std::lower_bound(scene.hotPixels.begin(), scene.hotPixels.end(), first,
                                          [](const HotPixel& p, std::uint32_t i) { return p.index < i; });
        for (auto p = hot; p != scene.hotPixels.end() && p->index < end; ++p) {
            out[p->index - first] += dark * p->darkFactor;
        }
        std::transform(out, out + (end - first), out, [](float e) { return std::min(e, kPixelWell); });
    }

private:
    const SkyScene& scene;
    const double seconds;
    const bool light;
    const float dark;
};

// The standard normal deviate of the pixel, or binned cell, whose top-left
// pixel has this sensor index; the same for every window that reads it.
class NoiseSource {
public:
    explicit NoiseSource(std::uint64_t noiseKey) : key(noiseKey) {}

    float At(std::uint32_t index) {
        const std::uint64_t counter = index / kNormalsPerCount;
        if (counter != cachedCounter) {
            quad = CountedNormals(key, counter);
            cachedCounter = counter;
        }
        return quad[index % kNormalsPerCount];
    }

private:
    const std::uint64_t key;
    std::uint64_t cachedCounter = std::numeric_limits<std::uint64_t>::max();
    NormalQuad quad{};
};

// One read of the output node: the charge with its shot noise, plus one read
// noise, made counts through the gain on top of one bias level, held within
// the converter's range.
std::uint16_t Convert(float electrons, float deviate) {
    constexpr auto kReadVariance = static_cast<float>(s::kReadNoiseElectrons * s::kReadNoiseElectrons);
    constexpr auto kGain = static_cast<float>(s::kGainElectronsPerAdu);
    const float noisy = electrons + std::sqrt(electrons + kReadVariance) * deviate;
    const float counts = static_cast<float>(s::kBiasAdu) + noisy / kGain;
    return static_cast<std::uint16_t>(std::clamp(counts, 0.0f, static_cast<float>(s::kLargestAdu)) + kRounding);
}

std::uint32_t SensorIndex(std::int32_t x, std::int32_t y) { return static_cast<std::uint32_t>(y * kSensorWidth + x); }

std::vector<std::uint16_t> ReadUnbinned(const ChargeModel& charge, const Window& window, std::uint64_t key) {
    const auto width = static_cast<std::size_t>(window.width);
    std::vector<std::uint16_t> pixels(width * static_cast<std::size_t>(window.height));
    std::vector<float> row(width);
    NoiseSource noise(key);
    for (std::int32_t y = 0; y < window.height; ++y) {
        const std::uint32_t first = SensorIndex(window.originX, window.originY + y);
        charge.Row(first, first + static_cast<std::uint32_t>(width), row.data());
        std::uint16_t* out = pixels.data() + static_cast<std::size_t>(y) * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            out[x] = Convert(row[x], noise.At(first + x));
        }
    }
    return pixels;
}

// On-chip binning: the charges of each 2 x 2 cell are shifted together into
// the output node, which holds at most its own full well, and read once.
std::vector<std::uint16_t> ReadBinned(const ChargeModel& charge, const Window& window, std::uint64_t key) {
    constexpr auto kNodeWell = static_cast<float>(s::kOutputNodeFullWellElectrons);
    const auto width = static_cast<std::size_t>(window.width / kBinFactor);
    const auto height = static_cast<std::size_t>(window.height / kBinFactor);
    const auto span = static_cast<std::uint32_t>(width * kBinFactor);
    std::vector<std::uint16_t> pixels(width * height);
    std::vector<float> top(span);
    std::vector<float> bottom(span);
    NoiseSource noise(CombineKeys(key, kBinnedNoiseStream));
    for (std::size_t y = 0; y < height; ++y) {
        const std::int32_t sensorY = window.originY + static_cast<std::int32_t>(y) * kBinFactor;
        const std::uint32_t first = SensorIndex(window.originX, sensorY);
        charge.Row(first, first + span, top.data());
        charge.Row(first + kSensorWidth, first + kSensorWidth + span, bottom.data());
        std::uint16_t* out = pixels.data() + y * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t left = x * kBinFactor;
            const float cell = top[left] + top[left + 1] + bottom[left] + bottom[left + 1];
            out[x] = Convert(std::min(cell, kNodeWell), noise.At(first + left));
        }
    }
    return pixels;
}

}  // namespace

std::vector<std::uint16_t> ReadSensor(const SkyScene& scene, const ExposureRecipe& recipe, bool lit) {
    const ChargeModel charge(scene, recipe, lit);
    const std::uint64_t key = CombineKeys(recipe.seed, recipe.number);
    return recipe.window.binned ? ReadBinned(charge, recipe.window, key) : ReadUnbinned(charge, recipe.window, key);
}

}  // namespace tarnscsi::sim
