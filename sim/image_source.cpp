#include "sim/image_source.h"

#include "camera/window_layout.h"
#include "common/big_endian.h"

namespace sim {
namespace {

constexpr std::uint32_t kPatternMultiplier = 40503;
constexpr std::uint32_t kPatternOffset = 12345;

}  // namespace

std::uint16_t PatternPixel(std::uint32_t n) {
    // Unsigned wrap-around modulo 2^32 keeps the value right modulo 2^16.
    return static_cast<std::uint16_t>(n * kPatternMultiplier + kPatternOffset);
}

std::vector<std::uint8_t> MakeImage(ImageKind kind, std::uint32_t pixelCount) {
    std::vector<std::uint8_t> image(std::size_t{pixelCount} * camera::window::kBytesPerPixel);
    switch (kind) {
        case ImageKind::kPattern:
            for (std::uint32_t n = 0; n < pixelCount; ++n) {
                PutBE16(image.data() + std::size_t{n} * camera::window::kBytesPerPixel,
                        PatternPixel(n));
            }
            break;
    }
    return image;
}

}  // namespace sim
