// The pixels a simulated exposure produces, as they go out on the bus:
// unsigned 16-bit, most significant byte first.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

enum class ImageKind {
    // Pixel n has the value (n * 40503 + 12345) mod 65536: every byte of a
    // download can be checked in place.
    kPattern = 0,
};

std::vector<std::uint8_t> MakeImage(ImageKind kind, std::uint32_t pixelCount);

// The value of pixel n of the pattern image.
std::uint16_t PatternPixel(std::uint32_t n);

}  // namespace sim
