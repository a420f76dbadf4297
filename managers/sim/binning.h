// 2 x 2 sums of values already in counts, held at the converter's top
// value: the binned test pattern. (Binned sky and dark frames are summed as
// charge before the one read: sensor_readout.h.)
#pragma once

#include <cstdint>
#include <vector>

namespace tarnscsi::sim {

// `pixels` holds `width` x `height` values row by row; the result holds
// (width / 2) x (height / 2). An odd last row or column is dropped.
std::vector<std::uint16_t> BinTwoByTwo(const std::vector<std::uint16_t>& pixels, std::uint32_t width,
                                       std::uint32_t height);

}  // namespace tarnscsi::sim