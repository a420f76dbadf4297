#include "imaging/png_preview.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

#include "imaging/imaging_error.h"

namespace tarnscsi::imaging {

namespace {

constexpr std::size_t kLevels = 65536;
constexpr double kMaxLevel = kLevels - 1;
constexpr double kMaxOutput = 255.0;
// Shadows are clipped this many (normalised) deviations below the median.
constexpr double kShadowClipDeviations = -2.8;
// Median absolute deviation to standard deviation for normal noise.
constexpr double kMadToSigma = 1.4826;
// Where the background (median) ends up after the stretch.
constexpr double kTargetBackground = 0.25;

using Histogram = std::array<std::uint32_t, kLevels>;

// The value below which at least half of the counts lie.
std::size_t MedianOf(const Histogram& histogram, std::size_t total) {
    const std::size_t half = (total + 1) / 2;
    std::size_t seen = 0;
    for (std::size_t level = 0; level < kLevels; ++level) {
        seen += histogram[level];
        if (seen >= half) return level;
    }
    return kLevels - 1;
}

// Midtones transfer function: maps 0 to 0, 1 to 1 and `balance` to 0.5.
double Midtones(double balance, double x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    return (balance - 1) * x / ((2 * balance - 1) * x - balance);
}

// The midtones balance that maps `median` (0..1) to `target`.
double BalanceFor(double median, double target) {
    if (median <= 0 || median >= 1) return 0.5;
    return median * (target - 1) / (2 * target * median - target - median);
}

}  // namespace

std::vector<std::uint8_t> AutoStretch(const Image16& image) {
    const std::size_t total = image.pixels.size();
    if (total == 0) return {};
    auto histogram = std::make_unique<Histogram>();
    for (std::uint16_t value : image.pixels) ++(*histogram)[value];
    const std::size_t median = MedianOf(*histogram, total);

    auto deviations = std::make_unique<Histogram>();
    for (std::size_t level = 0; level < kLevels; ++level) {
        const std::size_t distance = level > median ? level - median : median - level;
        (*deviations)[distance] += (*histogram)[level];
    }
    const double mad = static_cast<double>(MedianOf(*deviations, total)) / kMaxLevel;
    const double normalisedMedian = static_cast<double>(median) / kMaxLevel;

    const double shadows = std::clamp(normalisedMedian + kShadowClipDeviations * kMadToSigma * mad, 0.0, 1.0);
    const double range = 1.0 - shadows;
    const double balance = range > 0 ? BalanceFor((normalisedMedian - shadows) / range, kTargetBackground) : 0.5;

    // One table entry per input level: the stretch costs one lookup a pixel.
    std::vector<std::uint8_t> table(kLevels);
    for (std::size_t level = 0; level < kLevels; ++level) {
        const double x = static_cast<double>(level) / kMaxLevel;
        const double clipped = range > 0 ? (x - shadows) / range : (x > shadows ? 1.0 : 0.0);
        table[level] = static_cast<std::uint8_t>(std::lround(Midtones(balance, clipped) * kMaxOutput));
    }
    std::vector<std::uint8_t> out(total);
    std::transform(image.pixels.begin(), image.pixels.end(), out.begin(),
                   [&table](std::uint16_t value) { return table[value]; });
    return out;
}

std::vector<std::uint8_t> PngPreview(const Image16& image) {
    const std::vector<std::uint8_t> grey = AutoStretch(image);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_GRAY;
    // The first call measures, the second writes.
    png_alloc_size_t size = 0;
    std::vector<std::uint8_t> bytes;
    if (png_image_write_to_memory(&png, nullptr, &size, 0, grey.data(), 0, nullptr)) {
        bytes.resize(size);
        if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, grey.data(), 0, nullptr)) bytes.clear();
        bytes.resize(size);
    }
    const bool failed = bytes.empty() || PNG_IMAGE_FAILED(png);
    const std::string reason = png.message[0] != '\0' ? png.message : "libpng failed";
    png_image_free(&png);
    if (failed) throw ImagingError("cannot make the PNG preview: " + reason);
    return bytes;
}

void WritePngPreviewFile(std::FILE* file, const Image16& image, const std::string& shownAs) {
    const std::vector<std::uint8_t> grey = AutoStretch(image);
    const auto fail = [&shownAs](const std::string& why) {
        return ImagingError("cannot write PNG preview " + shownAs + ": " + why);
    };

    // libpng's simplified interface reports errors in the image structure
    // instead of through longjmp.
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_GRAY;
    errno = 0;
    const int written = png_image_write_to_stdio(&png, file, 0, grey.data(), 0, nullptr);
    const int writeErrno = errno;
    if (!written || PNG_IMAGE_FAILED(png)) {
        const std::string reason = png.message[0] != '\0' ? png.message : "libpng failed";
        png_image_free(&png);
        throw fail(reason + (writeErrno != 0 ? " (" + ErrnoText(writeErrno) + ")" : ""));
    }
    png_image_free(&png);
    if (std::fflush(file) != 0) throw fail(ErrnoText(errno));
}

}  // namespace tarnscsi::imaging
