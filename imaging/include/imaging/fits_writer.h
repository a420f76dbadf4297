// One frame as a FITS file: a primary image of unsigned 16-bit pixels
// (BITPIX 16 with BZERO 32768) and the keywords imaging software expects.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/frame.h>

#include "imaging/frame_metadata.h"
#include "imaging/image.h"

namespace tarnscsi::imaging {

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

// Creates `file`, which must not exist yet, and writes `image` to it,
// complete once this returns. Publishing it is the caller's part: a program
// writes under a temporary name and renames the file into place, so
// messages name the file `shownAs`, the name it is to have. On failure
// ImagingError says what failed, and `file` may be left incomplete for the
// caller to remove.
void WriteFitsFile(const std::filesystem::path& file, const Image16& image, const FitsKeywords& keywords,
                   const std::filesystem::path& shownAs);

// The same FITS file as bytes, for a program that sends it rather than
// saving it. Throws ImagingError.
std::string FitsFile(const Image16& image, const FitsKeywords& keywords);

// Writes the same FITS file to standard output. Throws ImagingError when the
// write fails (a closed pipe, a full disk).
void WriteFitsToStandardOutput(const Image16& image, const FitsKeywords& keywords);

}  // namespace tarnscsi::imaging
