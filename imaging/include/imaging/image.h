// A frame's pixels in the machine's byte order, row after row as the camera
// sent them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarnscsi::imaging {

struct Image16 {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;  // width * height values
};

// The camera's bytes (each pixel most significant byte first) as pixels.
// `bytes` should hold width * height * 2 bytes; pixels beyond them stay 0.
Image16 ImageFromCameraBytes(std::span<const std::uint8_t> bytes, int width, int height);

}  // namespace tarnscsi::imaging
