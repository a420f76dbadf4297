#include "frame_preview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

namespace tarnscsi::alpaca {

FrameSummary Summarise(const Image& image) {
    FrameSummary summary;
    const std::vector<std::uint16_t>& pixels = image.columns;
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

tool::Image16 RowsOf(const Image& image) {
    tool::Image16 rows;
    rows.width = image.width;
    rows.height = image.height;
    const auto w = static_cast<std::size_t>(image.width);
    const auto h = static_cast<std::size_t>(image.height);
    rows.pixels.resize(w * h);
    for (std::size_t x = 0; x < w; ++x) {
        for (std::size_t y = 0; y < h; ++y) rows.pixels[y * w + x] = image.columns[x * h + y];
    }
    return rows;
}

tool::FitsKeywords FitsKeywordsFor(const Image& image, tool::ImageType type, const std::string& software) {
    std::optional<double> ccdTemperature;
    if (image.cooling) ccdTemperature = TenthsToCelsius(image.cooling->temperature);
    return tool::CameraFrameKeywords(image.frame, image.seconds, image.started, ccdTemperature, image.setpoint,
                                     tool::FitsImageType(type), software);
}

std::string FitsNameFor(const Image& image) {
    // 2026-12-09T18:30:12.345, frame 7 -> 20261209T183012.345-7: frames of one
    // second, or of one millisecond, get names of their own.
    std::string stamp;
    for (const char c : image.start) {
        if (c != '-' && c != ':') stamp += c;
    }
    return "tarnscsi-" + (stamp.empty() ? std::string("frame") : stamp) + "-" + std::to_string(image.number) + ".fits";
}

}  // namespace tarnscsi::alpaca
