// A frame's statistics and histogram, as a viewer shows them beside the
// preview.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnscsi::imaging {

struct FrameSummary {
    std::uint16_t minimum = 0;
    std::uint16_t median = 0;  // the lower middle value of an even count
    std::uint16_t maximum = 0;
    std::uint64_t saturated = 0;  // pixels at the largest value the camera gives
    // kHistogramBins counts over [minimum, maximum], each bin
    // histogramBinWidth levels wide.
    std::vector<std::uint64_t> histogram;
    double histogramBinWidth = 1;
};

inline constexpr std::size_t kHistogramBins = 128;

// The pixels in any order (the statistics do not depend on it).
FrameSummary Summarise(std::span<const std::uint16_t> pixels);

}  // namespace tarnscsi::imaging
