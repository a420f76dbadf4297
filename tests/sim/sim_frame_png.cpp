// Takes one frame from the simulated camera through the module's exports and
// writes it as an 8-bit greyscale PNG, stretched for the eye: black a little
// below the sky background, an asinh curve that shows faint stars and keeps
// bright ones apart. Used to make the picture in docs/.
//
//   sim_frame_png OUT.png [SECONDS [TEMPERATURE_C [SEED]]]
//
// Defaults: a 60-second full frame at -10 C, seed 1. The exposure runs at
// once (time scale 0); the sensor is at the setpoint.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "sim_control.h"

namespace {

constexpr int kWidth = 768;
constexpr int kHeight = 512;
constexpr double kDefaultSeconds = 60.0;
constexpr double kDefaultCelsius = -10.0;
constexpr std::uint64_t kDefaultSeed = 1;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kTenthsPerDegree = 10.0;

// Stretch: black at the background minus this many noise sigmas; the asinh
// curve turns from linear to logarithmic this many sigmas above black.
constexpr double kBlackSigmas = 2.0;
constexpr double kSoftnessSigmas = 3.0;
constexpr double kMadToSigma = 1.4826;
constexpr double kLargestValue = 65535.0;
constexpr double kFullGrey = 255.0;

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

std::vector<std::uint8_t> Stretch(const std::vector<double>& pixels) {
    const double median = Median(pixels);
    std::vector<double> deviations(pixels.size());
    std::transform(pixels.begin(), pixels.end(), deviations.begin(),
                   [median](double v) { return std::abs(v - median); });
    const double sigma = std::max(1.0, kMadToSigma * Median(deviations));
    const double black = median - kBlackSigmas * sigma;
    const double softness = kSoftnessSigmas * sigma;
    const double top = std::asinh((kLargestValue - black) / softness);
    std::vector<std::uint8_t> grey(pixels.size());
    std::transform(pixels.begin(), pixels.end(), grey.begin(), [&](double v) {
        const double level = std::asinh(std::max(0.0, v - black) / softness) / top;
        return static_cast<std::uint8_t>(std::lround(std::clamp(level, 0.0, 1.0) * kFullGrey));
    });
    return grey;
}

bool WritePng(const char* path, const std::vector<std::uint8_t>& grey, int width, int height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_GRAY;
    if (png_image_write_to_file(&image, path, 0, grey.data(), width, nullptr) == 0) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, image.message);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: %s OUT.png [SECONDS [TEMPERATURE_C [SEED]]]\n", argv[0]);
        return EXIT_FAILURE;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : kDefaultSeconds;
    const double celsius = argc > 3 ? std::atof(argv[3]) : kDefaultCelsius;
    const std::uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : kDefaultSeed;

    SimSetTimeScale(0.0);
    SimSetImageKind(SIM_IMAGE_SKY);
    SimSetSeed(seed);
    const char* error = nullptr;
    if (Connect(&error) != 1) {
        std::fprintf(stderr, "no camera: %s\n", error != nullptr ? error : "?");
        return EXIT_FAILURE;
    }
    const auto exposureMs = static_cast<std::int32_t>(std::lround(seconds * kMillisecondsPerSecond));
    if (SetTemperature(static_cast<std::int32_t>(std::lround(celsius * kTenthsPerDegree))) != 1 ||
        Expose(exposureMs, 0, 0, kWidth, kHeight, 0, 0) != 1) {
        std::fprintf(stderr, "the camera refused the exposure\n");
        return EXIT_FAILURE;
    }
    while (Ready() != 1) {}
    std::vector<std::uint8_t> bytes(std::size_t{kWidth} * kHeight * 2);
    if (Download(bytes.data()) != 1) {
        std::fprintf(stderr, "download failed\n");
        return EXIT_FAILURE;
    }
    Disconnect();

    std::vector<double> pixels(std::size_t{kWidth} * kHeight);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = (bytes[2 * i] << 8) | bytes[2 * i + 1];
    }
    return WritePng(argv[1], Stretch(pixels), kWidth, kHeight) ? EXIT_SUCCESS : EXIT_FAILURE;
}
