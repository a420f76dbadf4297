#include "sim/image_source.h"

#include "window_layout.h"
#include "big_endian.h"
#include "sim/binning.h"
#include "sim/sensor_readout.h"

namespace tarnscsi::sim {
namespace {

constexpr std::uint32_t kPatternMultiplier = 40503;
constexpr std::uint32_t kPatternOffset = 12345;
// 14 bits: the sum of a binned cell's four values still fits in 16.
constexpr std::uint32_t kPatternMask = 0x3FFF;

std::vector<std::uint8_t> Encode(const std::vector<std::uint16_t>& pixels) {
    std::vector<std::uint8_t> image(pixels.size() * tarnscsi::camera::window::kBytesPerPixel);
    for (std::size_t n = 0; n < pixels.size(); ++n) {
        PutBE16(image.data() + n * tarnscsi::camera::window::kBytesPerPixel, pixels[n]);
    }
    return image;
}

// The pattern over the window's unbinned pixels, row by row.
std::vector<std::uint16_t> PatternPixels(const Window& window) {
    std::vector<std::uint16_t> pixels;
    pixels.reserve(static_cast<std::size_t>(window.width) * static_cast<std::size_t>(window.height));
    for (std::int32_t y = window.originY; y < window.originY + window.height; ++y) {
        for (std::int32_t x = window.originX; x < window.originX + window.width; ++x) {
            pixels.push_back(PatternPixel(x, y));
        }
    }
    return pixels;
}

}  // namespace

std::uint16_t PatternPixel(std::int32_t x, std::int32_t y) {
    const auto n = static_cast<std::uint32_t>(y * kSensorWidth + x);
    return static_cast<std::uint16_t>((n * kPatternMultiplier + kPatternOffset) & kPatternMask);
}

std::vector<std::uint8_t> MakeImage(const ExposureRecipe& recipe, SceneCache& scenes) {
    const Window& window = recipe.window;
    if (recipe.kind == ImageKind::kPattern) {
        std::vector<std::uint16_t> pixels = PatternPixels(window);
        if (window.binned) {
            pixels = BinTwoByTwo(pixels, static_cast<std::uint32_t>(window.width),
                                 static_cast<std::uint32_t>(window.height));
        }
        return Encode(pixels);
    }
    const bool lit = recipe.kind == ImageKind::kSky && !recipe.covered;
    return Encode(ReadSensor(scenes.For(recipe.seed), recipe, lit));
}

}  // namespace tarnscsi::sim
