// One frame as a FITS file: a primary image of unsigned 16-bit pixels
// (BITPIX 16 with BZERO 32768) and the keywords imaging software expects.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/frame.h>

#include "frame_metadata.h"
#include "image.h"

namespace tarnscsi::tool {

struct FitsKeywords {
    double exposureSeconds = 0;                   // EXPTIME
    std::chrono::system_clock::time_point start;  // DATE-OBS, UTC
    std::optional<double> ccdTemperature;         // CCD-TEMP, C, at the start
    std::optional<double> setpoint;               // SET-TEMP, C, when known
    int binning = 1;                              // XBINNING, YBINNING
    int originX = 0;                              // XORGSUBF, binned pixels
    int originY = 0;                              // YORGSUBF, binned pixels
    double pixelSizeX = 0;                        // XPIXSZ, micrometres after binning
    double pixelSizeY = 0;                        // YPIXSZ
    std::string instrument;                       // INSTRUME
    std::string imageType;                        // IMAGETYP, e.g. "Light Frame"
    std::string software;                         // SWCREATE
    FrameMetadata metadata;                       // OBJECT, FILTER, ..., and the extra cards
};

// The keywords of a frame as the camera took it: its exposure, start,
// binning and origin (`frame` in unbinned pixels, as the camera reports it),
// the pixel size after binning, the camera model as the instrument; the
// observer's metadata stays empty.
FitsKeywords CameraFrameKeywords(const Frame& frame, double exposureSeconds,
                                 std::chrono::system_clock::time_point start, std::optional<double> ccdTemperature,
                                 std::optional<double> setpoint, const std::string& imageType,
                                 const std::string& software);

// Writes `image` to `path` through a temporary file that is renamed into
// place only once cfitsio closed it successfully; on any failure nothing is
// left at `path` (or the old file stays, with `overwrite`) and ToolError
// says what failed.
void WriteFits(const std::filesystem::path& path, const Image16& image, const FitsKeywords& keywords, bool overwrite);

// The same FITS file as bytes, for a program that sends it rather than
// saving it. Throws ToolError.
std::string FitsFile(const Image16& image, const FitsKeywords& keywords);

// Writes the same FITS file to standard output. Throws ToolError when the
// write fails (a closed pipe, a full disk).
void WriteFitsToStandardOutput(const Image16& image, const FitsKeywords& keywords);

}  // namespace tarnscsi::tool
