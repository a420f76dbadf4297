#include "imaging/image.h"

#include <cstddef>

#include <tarnscsi/frame.h>

namespace tarnscsi::imaging {

Image16 ImageFromCameraBytes(std::span<const std::uint8_t> bytes, int width, int height) {
    Image16 image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    PixelsFromCamera(bytes, image.pixels);
    return image;
}

}  // namespace tarnscsi::imaging
