#include "sim/sky_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/random.h"
#include "sim/window_params.h"

namespace tarnscsi::sim {
namespace {

// Sky background: electrons per pixel per second, and its tilt: the
// background changes by this fraction across the frame, along a direction
// the seed picks (light pollution low on one side).
constexpr double kSkyElectronsPerSecond = 8.0;
constexpr double kSkyGradient = 0.15;

// Star field. log10 of the number of stars grows by kCountSlope per
// magnitude; a star of magnitude kReferenceMagnitude gives
// kReferenceElectronsPerSecond in all.
constexpr int kStarCount = 300;
constexpr double kBrightestMagnitude = 8.0;
constexpr double kFaintestMagnitude = 16.5;
constexpr double kCountSlope = 0.3;
constexpr double kReferenceMagnitude = 10.0;
constexpr double kReferenceElectronsPerSecond = 40000.0;
constexpr double kMagnitudeStep = 0.4;  // log10 of a flux ratio per magnitude
// Stars slightly off the sensor still spill light onto its edge.
constexpr double kEdgeMargin = 8.0;

// Star image: a Moffat profile with beta 3 and this full width at half
// maximum, in pixels, sampled 2 x 2 per pixel. Drawn out to where it gives
// less than kRenderFloor electrons per second, at most kLargestRadius.
constexpr double kFwhmPixels = 2.6;
constexpr double kMoffatBeta = 3.0;
constexpr double kRenderFloor = 0.01;
constexpr double kLargestRadius = 48.0;
constexpr int kSubsamples = 2;

// Hot pixels: how many, and the range of their extra dark current.
constexpr int kHotPixelCount = 20;
constexpr double kLeastHotFactor = 20.0;
constexpr double kMostHotFactor = 2000.0;

constexpr std::size_t kPixels = std::size_t{kSensorWidth} * kSensorHeight;

// Streams of the scene's generator, so that changing one part (say, the
// number of stars) leaves the others as they were.
enum Stream : std::uint64_t { kSkyStream = 1, kStarStream, kHotPixelStream };

double Magnitude(SeededRandom& random) {
    const double bright = std::pow(10.0, kCountSlope * kBrightestMagnitude);
    const double faint = std::pow(10.0, kCountSlope * kFaintestMagnitude);
    return std::log10(bright + random.Uniform() * (faint - bright)) / kCountSlope;
}

double Flux(double magnitude) {
    return kReferenceElectronsPerSecond * std::pow(10.0, -kMagnitudeStep * (magnitude - kReferenceMagnitude));
}

class MoffatStar {
public:
    MoffatStar() {
        alpha2 = std::pow(kFwhmPixels / (2.0 * std::sqrt(std::exp2(1.0 / kMoffatBeta) - 1.0)), 2);
        peak = (kMoffatBeta - 1.0) / (std::numbers::pi * alpha2);
    }

    // Adds a star of `flux` electrons per second centred at (cx, cy).
    void Draw(std::vector<float>& light, double cx, double cy, double flux) const {
        const double reach = std::pow(flux * peak / kRenderFloor, 1.0 / kMoffatBeta);
        const double radius = std::min(kLargestRadius, std::sqrt(alpha2 * std::max(reach - 1.0, 1.0)));
        const int x0 = std::max(0, static_cast<int>(std::floor(cx - radius)));
        const int x1 = std::min(kSensorWidth - 1, static_cast<int>(std::ceil(cx + radius)));
        const int y0 = std::max(0, static_cast<int>(std::floor(cy - radius)));
        const int y1 = std::min(kSensorHeight - 1, static_cast<int>(std::ceil(cy + radius)));
        const double share = flux * peak / (kSubsamples * kSubsamples);
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                double sum = 0.0;
                for (int sy = 0; sy < kSubsamples; ++sy) {
                    for (int sx = 0; sx < kSubsamples; ++sx) {
                        const double dx = x + (sx + 0.5) / kSubsamples - cx;
                        const double dy = y + (sy + 0.5) / kSubsamples - cy;
                        const double q = 1.0 + (dx * dx + dy * dy) / alpha2;
                        sum += 1.0 / (q * q * q);  // q to the power -beta, beta = 3
                    }
                }
                light[static_cast<std::size_t>(y) * kSensorWidth + static_cast<std::size_t>(x)] +=
                    static_cast<float>(share * sum);
            }
        }
    }

private:
    double alpha2;
    double peak;
};
static_assert(kMoffatBeta == 3.0, "Draw computes the profile for beta 3");

void AddSky(std::vector<float>& light, std::uint64_t seed) {
    SeededRandom random(CombineKeys(seed, kSkyStream));
    const double angle = random.Uniform(0.0, 2.0 * std::numbers::pi);
    const double slopeX = kSkyGradient * std::cos(angle) / kSensorWidth;
    const double slopeY = kSkyGradient * std::sin(angle) / kSensorHeight;
    for (int y = 0; y < kSensorHeight; ++y) {
        for (int x = 0; x < kSensorWidth; ++x) {
            const double tilt = slopeX * (x - kSensorWidth / 2.0) + slopeY * (y - kSensorHeight / 2.0);
            light[static_cast<std::size_t>(y) * kSensorWidth + static_cast<std::size_t>(x)] =
                static_cast<float>(kSkyElectronsPerSecond * (1.0 + tilt));
        }
    }
}

void AddStars(std::vector<float>& light, std::uint64_t seed) {
    SeededRandom random(CombineKeys(seed, kStarStream));
    const MoffatStar star;
    for (int i = 0; i < kStarCount; ++i) {
        const double cx = random.Uniform(-kEdgeMargin, kSensorWidth + kEdgeMargin);
        const double cy = random.Uniform(-kEdgeMargin, kSensorHeight + kEdgeMargin);
        star.Draw(light, cx, cy, Flux(Magnitude(random)));
    }
}

std::vector<HotPixel> HotPixels(std::uint64_t seed) {
    SeededRandom random(CombineKeys(seed, kHotPixelStream));
    std::vector<HotPixel> hot;
    const double span = std::log(kMostHotFactor / kLeastHotFactor);
    for (int i = 0; i < kHotPixelCount; ++i) {
        const auto index = static_cast<std::uint32_t>(random.Next() % kPixels);
        const double factor = kLeastHotFactor * std::exp(span * random.Uniform());
        hot.push_back({index, static_cast<float>(factor)});
    }
    std::sort(hot.begin(), hot.end(), [](const HotPixel& a, const HotPixel& b) { return a.index < b.index; });
    hot.erase(
        std::unique(hot.begin(), hot.end(), [](const HotPixel& a, const HotPixel& b) { return a.index == b.index; }),
        hot.end());
    return hot;
}

}  // namespace

SkyScene MakeSkyScene(std::uint64_t seed) {
    SkyScene scene;
    scene.light.resize(kPixels);
    AddSky(scene.light, seed);
    AddStars(scene.light, seed);
    scene.hotPixels = HotPixels(seed);
    return scene;
}

const SkyScene& SceneCache::For(std::uint64_t wanted) {
    if (!scene || seed != wanted) {
        scene = std::make_unique<SkyScene>(MakeSkyScene(wanted));
        seed = wanted;
    }
    return *scene;
}

}  // namespace tarnscsi::sim