// The sensor and the rules every frame obeys: where a frame may lie, what
// binning the camera does, how a frame becomes the camera's window, and how
// large its image is. Front-ends check frames here and nowhere else.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <tarnscsi/exposure_settings.h>

namespace tarnscsi {

// Sensor geometry.
inline constexpr int kSensorWidth = 768;
inline constexpr int kSensorHeight = 512;
inline constexpr double kPixelSizeMicrons = 9.0;

// The camera bins 2 x 2 on the chip, or not at all.
inline constexpr int kUnbinned = 1;
inline constexpr int kBinned = 2;
inline constexpr int kMaxBinning = kBinned;

inline constexpr std::uint32_t kBytesPerPixel = 2;
inline constexpr std::uint16_t kMaxPixelValue = 65535;

// A frame as people give it: origin and size in unbinned sensor pixels, and
// the binning factor (the same on both axes).
struct Frame {
    int x = 0;
    int y = 0;
    int width = kSensorWidth;
    int height = kSensorHeight;
    int binning = kUnbinned;

    friend bool operator==(const Frame&, const Frame&) = default;
};

// "" when the camera bins this way, else why not ("the camera bins 1x1 or
// 2x2 only, not 3x1").
std::string BinningProblem(int binX, int binY);

// "" when the frame lies wholly on the sensor, its binning is one the
// camera has, it gives an image of at least one pixel and its origin lies on
// the binned grid (a multiple of the binning); else why not.
// Never overflows, whatever the values.
std::string FrameProblem(const Frame& frame);

// The window the camera is sent for a valid frame and an exposure time in
// milliseconds: binned width and height rounded down to even, since the
// camera bins whole 2 x 2 cells. The origin is kept.
ExposureSettings WindowFor(const Frame& frame, std::int32_t milliseconds);

// The frame a window describes (as sent or as reported).
Frame FrameOf(const ExposureSettings& window);

// Pixels of the image along one side: the size divided by the binning.
constexpr int BinnedSize(int unbinnedSize, int binning) { return unbinnedSize / binning; }

// The origin in binned pixels, as image headers record it.
constexpr int BinnedOrigin(int unbinnedOrigin, int binning) { return unbinnedOrigin / binning; }

// Bytes of the image a window gives, without wrapping: what a buffer must
// really hold. Width and height are taken as the unsigned values the camera
// carries.
std::uint64_t ImageBytes(const ExposureSettings& window);

// "" when a window the camera reports could hold an image of this sensor
// (on the sensor, at least one pixel, non-negative time); else why not.
std::string ReportedWindowProblem(const ExposureSettings& window);

// The camera sends each 16-bit pixel most significant byte first. These give
// the machine's own values: into `pixels` (as many as both spans hold), or
// rewritten in place (an odd trailing byte is left alone).
void PixelsFromCamera(std::span<const std::uint8_t> bytes, std::span<std::uint16_t> pixels);
void PixelsFromCameraInPlace(std::span<std::uint8_t> bytes);

// "768 x 512 at (0, 0) binned, 1000 ms", for messages.
std::string DescribeWindow(const ExposureSettings& window);

}  // namespace tarnscsi
