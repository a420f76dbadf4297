// INDI's view of a frame and the camera's: the primary chip's frame and
// binning as INDI keeps them, mapped onto the library's frame rules
// (<tarnscsi/frame.h>), which alone decide what the camera takes and which
// window it is sent.
#pragma once

#include <cstdint>
#include <string>

#include <tarnscsi/exposure_settings.h>
#include <tarnscsi/frame.h>

namespace tarnscsi::indi {

// What the client asked for: origin and size in unbinned pixels, as INDI
// keeps them, and the binning factors, which INDI keeps per axis.
struct ChipFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int binX = kUnbinned;
    int binY = kUnbinned;

    friend bool operator==(const ChipFrame&, const ChipFrame&) = default;
};

// The library's frame for a chip frame whose binning is the same on both
// axes (ChipFrameProblem says so): what the exposure session is given.
Frame FrameOfChip(const ChipFrame& chip);

// "" when the camera can take the frame, else why not: first its binning
// (per axis, as INDI has it), then the library's frame rules (an origin on
// the binned grid among them).
std::string ChipFrameProblem(const ChipFrame& chip);

// "768 x 512 at (0, 0), 1x1 binning", for messages.
std::string DescribeChipFrame(const ChipFrame& chip);

// Bytes of the image the client expects: (width / bin) x (height / bin)
// pixels of two bytes, the size INDI writes into the FITS file. The camera
// gives the same, since it rounds a binned window's sides down to even.
std::uint32_t ExpectedImageBytes(const ChipFrame& chip);

// The subframe origin as image headers record it (XORGSUBF, YORGSUBF): in
// binned pixels, from the window the camera was sent.
struct BinnedPoint {
    int x = 0;
    int y = 0;

    friend bool operator==(const BinnedPoint&, const BinnedPoint&) = default;
};
BinnedPoint HeaderOrigin(const ExposureSettings& sent);

}  // namespace tarnscsi::indi
