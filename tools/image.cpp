#include "image.h"

#include <cstddef>

#include "common/big_endian.h"

namespace tarnscsi::tool {

namespace {
constexpr std::size_t kBytesPerPixel = 2;
}

Image16 ImageFromCameraBytes(std::span<const std::uint8_t> bytes, int width, int height) {
    Image16 image;
    image.width = width;
    image.height = height;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    image.pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i) image.pixels[i] = GetBE16(bytes.data() + i * kBytesPerPixel);
    return image;
}

}  // namespace tarnscsi::tool
