#include "sim/image_source.h"

#include "camera/window_layout.h"
#include "common/big_endian.h"
#include "sim/binning.h"
#include "sim/sensor_readout.h"

namespace tarnscsi::sim {
namespace {

constexpr std::uint32_t kPatternMultiplier = 40503;
constexpr std::uint32_t kPatternOffset = 12345;

std::vector<std::uint8_t> Encode(const std::vector<std::uint16_t>& pixels) {
    std::vector<std::uint8_t> image(pixels.size() * tarnscsi::camera::window::kBytesPerPixel);
    for (std::size_t n = 0; n < pixels.size(); ++n) {
        PutBE16(image.data() + n * tarnscsi::camera::window::kBytesPerPixel, pixels[n]);
    }
    return image;
}

std::vector<std::uint16_t> PatternPixels(std::uint32_t pixelCount) {
    std::vector<std::uint16_t> pixels(pixelCount);
    for (std::uint32_t n = 0; n < pixelCount; ++n) {
        pixels[n] = PatternPixel(n);
    }
    return pixels;
}

}  // namespace

std::uint16_t PatternPixel(std::uint32_t n) {
    // Unsigned wrap-around modulo 2^32 keeps the value right modulo 2^16.
    return static_cast<std::uint16_t>(n * kPatternMultiplier + kPatternOffset);
}

std::vector<std::uint8_t> MakeImage(const ExposureRecipe& recipe, SceneCache& scenes) {
    if (recipe.kind == ImageKind::kPattern) {
        return Encode(PatternPixels(ImagePixelCount(recipe.window)));
    }
    const Window& window = recipe.window;
    std::vector<std::uint16_t> pixels = ReadSensor(scenes.For(recipe.seed), recipe, recipe.kind == ImageKind::kSky);
    if (window.binned) {
        pixels =
            BinTwoByTwo(pixels, static_cast<std::uint32_t>(window.width), static_cast<std::uint32_t>(window.height));
    }
    return Encode(pixels);
}

}  // namespace tarnscsi::sim