// A frame's FITS file and PNG preview on disk, as the tool writes them:
// made by the imaging library (imaging/), published complete or not at all
// by the tool's PendingFile. A failed write leaves nothing at the path (or
// the old file, with `overwrite`).
#pragma once

#include <filesystem>

#include "imaging/fits_writer.h"
#include "imaging/image.h"
#include "imaging/png_preview.h"

namespace tarnscsi::tool {

// The imaging library's frames and headers, by the names the tool's
// commands use.
using imaging::CameraFrameKeywords;
using imaging::FitsKeywords;
using imaging::Image16;
using imaging::ImageFromCameraBytes;
using imaging::WriteFitsToStandardOutput;

// Writes `image` to `path` through a temporary file that is renamed into
// place only once cfitsio closed it successfully. Throws ToolError saying
// what failed.
void WriteFits(const std::filesystem::path& path, const Image16& image, const FitsKeywords& keywords, bool overwrite);

// Writes the stretched image as an 8-bit greyscale PNG, the same way.
// Throws ToolError saying what failed.
void WritePngPreview(const std::filesystem::path& path, const Image16& image, bool overwrite);

}  // namespace tarnscsi::tool
