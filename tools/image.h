// A frame's pixels in the machine's byte order, row after row as the camera
// sent them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarnscsi::tool {

struct Image16 {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;  // width * height values
};

// The camera sends each pixel most significant byte first. `bytes` holds at
// least width * height * 2 bytes.
Image16 ImageFromCameraBytes(std::span<const std::uint8_t> bytes, int width, int height);

}  // namespace tarnscsi::tool
