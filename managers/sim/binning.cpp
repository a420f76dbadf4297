#include "sim/binning.h"

#include <algorithm>
#include <limits>

namespace tarnscsi::sim {
namespace {

constexpr std::uint32_t kFactor = 2;
constexpr std::uint32_t kLargest = std::numeric_limits<std::uint16_t>::max();

}  // namespace

std::vector<std::uint16_t> BinTwoByTwo(const std::vector<std::uint16_t>& pixels, std::uint32_t width,
                                       std::uint32_t height) {
    const std::uint32_t binnedWidth = width / kFactor;
    const std::uint32_t binnedHeight = height / kFactor;
    std::vector<std::uint16_t> binned(std::size_t{binnedWidth} * binnedHeight);
    for (std::uint32_t y = 0; y < binnedHeight; ++y) {
        const std::uint16_t* top = pixels.data() + std::size_t{y} * kFactor * width;
        const std::uint16_t* bottom = top + width;
        for (std::uint32_t x = 0; x < binnedWidth; ++x) {
            const std::uint32_t left = x * kFactor;
            const std::uint32_t sum = std::uint32_t{top[left]} + top[left + 1] + bottom[left] + bottom[left + 1];
            binned[std::size_t{y} * binnedWidth + x] = static_cast<std::uint16_t>(std::min(sum, kLargest));
        }
    }
    return binned;
}

}  // namespace tarnscsi::sim