// A quick look at a frame: the 16-bit pixels stretched automatically to
// 8-bit grey and written as PNG. The stretch clips the shadows a little
// below the background and lifts the midtones so that the background lands
// at a quarter of full brightness, as astronomical viewers do by default;
// faint detail shows without any tuning.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "image.h"

namespace tarnscsi::tool {

// One 8-bit value per pixel, same order as the image. The mapping is
// monotonic: brighter input never gives darker output.
std::vector<std::uint8_t> AutoStretch(const Image16& image);

// The stretched image as the bytes of an 8-bit greyscale PNG file, for a
// program that sends the preview rather than saving it. Throws ToolError.
std::vector<std::uint8_t> PngPreview(const Image16& image);

// Writes the stretched image as an 8-bit greyscale PNG, complete or not at
// all (as WriteFits). Throws ToolError saying what failed.
void WritePngPreview(const std::filesystem::path& path, const Image16& image, bool overwrite);

}  // namespace tarnscsi::tool
