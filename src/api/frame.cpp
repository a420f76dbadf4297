// The frame rules: on the sensor, the camera's binning, the window sent.
#include <tarnscsi/frame.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "camera/window_list.h"
#include "big_endian.h"

namespace tarnscsi {

namespace {

// Origin and size along one axis, in 64 bits so that no value overflows.
bool OnAxis(std::int64_t origin, std::int64_t size, std::int64_t sensorSize) {
    return origin >= 0 && size > 0 && origin + size <= sensorSize;
}

}  // namespace

std::string BinningProblem(int binX, int binY) {
    if (binX != binY || (binX != kUnbinned && binX != kBinned)) {
        return "the camera bins 1x1 or 2x2 only, not " + std::to_string(binX) + "x" + std::to_string(binY);
    }
    return {};
}

std::string FrameProblem(const Frame& frame) {
    if (std::string binning = BinningProblem(frame.binning, frame.binning); !binning.empty()) return binning;
    if (!OnAxis(frame.x, frame.width, kSensorWidth) || !OnAxis(frame.y, frame.height, kSensorHeight)) {
        return "the frame (" + std::to_string(frame.x) + ", " + std::to_string(frame.y) + ") " +
               std::to_string(frame.width) + " x " + std::to_string(frame.height) + " does not lie on the " +
               std::to_string(kSensorWidth) + " x " + std::to_string(kSensorHeight) + " sensor";
    }
    if (frame.width < frame.binning || frame.height < frame.binning) {
        return "the frame " + std::to_string(frame.width) + " x " + std::to_string(frame.height) +
               " is smaller than one " + std::to_string(frame.binning) + "x" + std::to_string(frame.binning) +
               " binned pixel";
    }
    // Image headers record the origin in binned pixels; an origin between
    // two binned pixels could only be recorded rounded.
    if (frame.x % frame.binning != 0 || frame.y % frame.binning != 0) {
        return "with " + std::to_string(frame.binning) + "x" + std::to_string(frame.binning) + " binning the origin (" +
               std::to_string(frame.x) + ", " + std::to_string(frame.y) + ") must be a multiple of " +
               std::to_string(frame.binning) +
               ", so that the image header (XORGSUBF, YORGSUBF in binned pixels) can record it exactly";
    }
    return {};
}

ExposureSettings WindowFor(const Frame& frame, std::int32_t milliseconds) {
    ExposureSettings window;
    window.exposureTime = milliseconds;
    window.originX = frame.x;
    window.originY = frame.y;
    window.width = frame.width;
    window.height = frame.height;
    window.binned = frame.binning == kBinned ? 1 : 0;
    return tarnscsi::camera::EvenForBinning(window);
}

Frame FrameOf(const ExposureSettings& window) {
    return Frame{window.originX, window.originY, window.width, window.height, window.binned ? kBinned : kUnbinned};
}

std::uint64_t ImageBytes(const ExposureSettings& window) { return tarnscsi::camera::ExactImageByteCount(window); }

std::string ReportedWindowProblem(const ExposureSettings& window) {
    const Frame frame = FrameOf(window);
    if (!OnAxis(frame.x, frame.width, kSensorWidth) || !OnAxis(frame.y, frame.height, kSensorHeight) ||
        frame.width < frame.binning || frame.height < frame.binning) {
        return "the window " + DescribeWindow(window) + " does not lie on the sensor";
    }
    if (window.exposureTime < 0) return "the window " + DescribeWindow(window) + " has a negative exposure time";
    return {};
}

void PixelsFromCamera(std::span<const std::uint8_t> bytes, std::span<std::uint16_t> pixels) {
    const std::size_t count = std::min(pixels.size(), bytes.size() / kBytesPerPixel);
    for (std::size_t i = 0; i < count; ++i) pixels[i] = GetBE16(bytes.data() + i * kBytesPerPixel);
}

void PixelsFromCameraInPlace(std::span<std::uint8_t> bytes) {
    for (std::size_t offset = 0; offset + kBytesPerPixel <= bytes.size(); offset += kBytesPerPixel) {
        const std::uint16_t value = GetBE16(bytes.data() + offset);
        std::memcpy(bytes.data() + offset, &value, kBytesPerPixel);
    }
}

std::string DescribeWindow(const ExposureSettings& window) {
    return std::to_string(window.width) + " x " + std::to_string(window.height) + " at (" +
           std::to_string(window.originX) + ", " + std::to_string(window.originY) + ")" +
           (window.binned ? " binned" : "") + ", " + std::to_string(window.exposureTime) + " ms";
}

}  // namespace tarnscsi
