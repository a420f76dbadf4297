// The last frame as the camera page shows it: its statistics and histogram,
// the tool's stretched PNG preview, and the tool's FITS file with the tool's
// header. The writers are the tool's own (tools/), not copies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <fits_writer.h>
#include <image.h>
#include <options.h>

#include "camera_device.h"

namespace tarnscsi::alpaca {

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

FrameSummary Summarise(const Image& image);

// The pixels row after row, as the tool's writers take them.
tool::Image16 RowsOf(const Image& image);

// The header the tool writes for a frame of this type; `software` signs it.
tool::FitsKeywords FitsKeywordsFor(const Image& image, tool::ImageType type, const std::string& software);

// A file name for the frame, its own among the server's: tarnscsi-20261209T183012.345-7.fits
std::string FitsNameFor(const Image& image);

}  // namespace tarnscsi::alpaca
