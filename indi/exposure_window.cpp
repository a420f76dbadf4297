#include "exposure_window.h"

#include <cmath>

#include "api/camera.h"

namespace tarnscsi::indi {
namespace {

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr std::uint32_t kBytesPerPixel = 2;

}  // namespace

std::string BinningProblem(int binX, int binY) {
    if (binX != binY || (binX != kUnbinned && binX != kBinned)) {
        return "the camera bins 1x1 or 2x2 only, not " + std::to_string(binX) + "x" +
               std::to_string(binY);
    }
    return {};
}

std::string FrameProblem(const ChipFrame& frame) {
    const bool onSensor = frame.x >= 0 && frame.y >= 0 && frame.width > 0 && frame.height > 0 &&
                          frame.width <= kSensorWidth - frame.x &&
                          frame.height <= kSensorHeight - frame.y;
    if (!onSensor) {
        return "the frame (" + std::to_string(frame.x) + ", " + std::to_string(frame.y) + ") " +
               std::to_string(frame.width) + " x " + std::to_string(frame.height) +
               " does not lie on the " + std::to_string(kSensorWidth) + " x " +
               std::to_string(kSensorHeight) + " sensor";
    }
    if (auto binning = BinningProblem(frame.binX, frame.binY); !binning.empty()) {
        return binning;
    }
    if (frame.width < frame.binX || frame.height < frame.binY) {
        return "the frame is smaller than one binned pixel";
    }
    return {};
}

ExposureSettings WindowFor(const ChipFrame& frame, double seconds) {
    ExposureSettings settings;
    settings.exposureTime = static_cast<std::int32_t>(std::lround(seconds * kMillisecondsPerSecond));
    settings.originX = frame.x;
    settings.originY = frame.y;
    settings.width = frame.width;
    settings.height = frame.height;
    settings.binned = frame.binX == kBinned ? 1 : 0;
    return settings;
}

std::uint32_t ExpectedImageBytes(const ChipFrame& frame) {
    const auto columns = static_cast<std::uint32_t>(frame.width / frame.binX);
    const auto rows = static_cast<std::uint32_t>(frame.height / frame.binY);
    return columns * rows * kBytesPerPixel;
}

}  // namespace tarnscsi::indi
