// Encoding and decoding of the window parameter list (window_layout.h), and
// the image size a window implies.
#pragma once

#include <cstdint>

#include <tarnscsi/exposure_settings.h>

namespace tarnscsi::camera {

// Fills the first window::kLength bytes of `list` for SET WINDOW.
void EncodeWindow(const ExposureSettings& settings, std::uint8_t* list);

// Reads a GET WINDOW reply. `binned` is set exactly when the X resolution is
// the binned one; `spare` comes back as 0.
ExposureSettings DecodeWindow(const std::uint8_t* list);

// Image bytes for a window, in unsigned 32-bit arithmetic as the camera
// counts them: binned windows deliver (height/2) x (width/2) pixels, others
// height x width, two bytes each; products wrap modulo 2^32.
std::uint32_t ImageByteCount(const ExposureSettings& settings);

// The same size without wrapping, with width and height taken as the
// unsigned values the camera sent: what a buffer must really hold.
std::uint64_t ExactImageByteCount(const ExposureSettings& settings);

// The true size does not fit the 32 bits the camera counts in: the window
// cannot be read as one image (ImageByteCount has wrapped).
bool ImageSizeWraps(const ExposureSettings& settings);

// The guard before a download: the window a camera reports can be read as
// one image into `capacity` bytes. Its true size must fit the 32 bits the
// reads are counted in (else they would end "successfully" early) and the
// buffer (else they would write past it).
bool WindowFits(const ExposureSettings& window, std::uint64_t capacity);

// Clears the lowest bit of width and height for a binned exposure: the
// camera bins whole 2 x 2 cells. Unbinned settings are returned unchanged.
ExposureSettings EvenForBinning(ExposureSettings settings);

}  // namespace tarnscsi::camera