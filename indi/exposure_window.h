// How the driver turns the primary chip's frame, binning and exposure time
// into the camera's exposure window, and which of those the camera can take.
#pragma once

#include <cstdint>
#include <string>

#include "camera/exposure_settings.h"

namespace tarnscsi::indi {

// The camera bins 2 x 2 or not at all.
inline constexpr int kUnbinned = 1;
inline constexpr int kBinned = 2;

// What the client asked for: origin and size in unbinned pixels, as INDI
// keeps them, and the binning factors.
struct ChipFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int binX = kUnbinned;
    int binY = kUnbinned;
};

// Empty when the camera can take this binning, else why not.
std::string BinningProblem(int binX, int binY);

// Empty when the frame lies wholly on the sensor and, at its binning, gives
// an image of at least one pixel; else why not.
std::string FrameProblem(const ChipFrame& frame);

// The camera's window for the frame and an exposure of `seconds`, rounded
// to the camera's millisecond.
ExposureSettings WindowFor(const ChipFrame& frame, double seconds);

// Bytes of the image the client expects: (width / bin) x (height / bin)
// pixels of two bytes, the size INDI writes into the FITS file. The camera
// gives the same, since it rounds a binned window's sides down to even.
std::uint32_t ExpectedImageBytes(const ChipFrame& frame);

}  // namespace tarnscsi::indi
