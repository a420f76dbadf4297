#include "frame_preview.h"

#include <cstddef>
#include <optional>

#include <tarnscsi/units.h>

namespace tarnscsi::alpaca {

imaging::Image16 RowsOf(const Image& image) {
    imaging::Image16 rows;
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

imaging::FitsKeywords FitsKeywordsFor(const Image& image, imaging::ImageType type, const std::string& software) {
    std::optional<double> ccdTemperature;
    if (image.cooling) ccdTemperature = TenthsToCelsius(image.cooling->temperature);
    return imaging::CameraFrameKeywords(image.frame, image.seconds, image.started, ccdTemperature, image.setpoint,
                                        imaging::FitsImageType(type), software);
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
