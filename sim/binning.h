// On-chip 2 x 2 binning as the camera reports it: each binned pixel is the
// sum of four unbinned ones, held at the converter's top value when the sum
// exceeds it.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnscsi::sim {

// `pixels` holds `width` x `height` values row by row; the result holds
// (width / 2) x (height / 2). An odd last row or column is dropped.
std::vector<std::uint16_t> BinTwoByTwo(const std::vector<std::uint16_t>& pixels, std::uint32_t width,
                                       std::uint32_t height);

}  // namespace tarnscsi::sim