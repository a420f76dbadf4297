// A quick look at a frame: the 16-bit pixels stretched automatically to
// 8-bit grey and written as PNG. The stretch clips the shadows a little
// below the background and lifts the midtones so that the background lands
// at a quarter of full brightness, as astronomical viewers do by default;
// faint detail shows without any tuning.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace tarnscsi::imaging {

// One 8-bit value per pixel, same order as the image. The mapping is
// monotonic: brighter input never gives darker output.
std::vector<std::uint8_t> AutoStretch(const Image16& image);

// The stretched image as the bytes of an 8-bit greyscale PNG file, for a
// program that sends the preview rather than saving it. Throws ImagingError.
std::vector<std::uint8_t> PngPreview(const Image16& image);

// Writes the stretched image as an 8-bit greyscale PNG to `file`, a stream
// opened for binary writing, and flushes it; closing and publishing the file
// is the caller's part (as for WriteFitsFile). Throws ImagingError saying
// what failed, naming the file `shownAs`.
void WritePngPreviewFile(std::FILE* file, const Image16& image, const std::string& shownAs);

}  // namespace tarnscsi::imaging
