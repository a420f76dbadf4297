#include "imaging/frame_statistics.h"

#include <algorithm>
#include <array>
#include <memory>

#include <tarnscsi/frame.h>

namespace tarnscsi::imaging {

FrameSummary Summarise(std::span<const std::uint16_t> pixels) {
    FrameSummary summary;
    if (pixels.empty()) return summary;
    // One count per level: the median without sorting a copy.
    constexpr std::size_t kLevels = std::size_t{kMaxPixelValue} + 1;
    auto levels = std::make_unique<std::array<std::uint32_t, kLevels>>();
    for (const std::uint16_t value : pixels) ++(*levels)[value];
    const auto [low, high] = std::minmax_element(pixels.begin(), pixels.end());
    summary.minimum = *low;
    summary.maximum = *high;
    summary.saturated = (*levels)[kMaxPixelValue];
    const std::size_t half = (pixels.size() + 1) / 2;
    std::size_t seen = 0;
    for (std::size_t level = summary.minimum; level <= summary.maximum; ++level) {
        seen += (*levels)[level];
        if (seen >= half) {
            summary.median = static_cast<std::uint16_t>(level);
            break;
        }
    }
    const double span = static_cast<double>(summary.maximum - summary.minimum) + 1;
    summary.histogramBinWidth = std::max(1.0, span / kHistogramBins);
    const std::size_t bins = std::min<std::size_t>(kHistogramBins, static_cast<std::size_t>(span));
    summary.histogram.assign(bins, 0);
    for (std::size_t level = summary.minimum; level <= summary.maximum; ++level) {
        const auto bin =
            static_cast<std::size_t>(static_cast<double>(level - summary.minimum) / summary.histogramBinWidth);
        summary.histogram[std::min(bin, bins - 1)] += (*levels)[level];
    }
    return summary;
}

}  // namespace tarnscsi::imaging
