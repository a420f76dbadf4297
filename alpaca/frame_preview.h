// The last frame as the camera page shows it: its statistics and histogram,
// the stretched PNG preview, and the FITS file with the header the tool
// writes too. All of them come from the imaging library (imaging/); this is
// the server's frame put into its terms.
#pragma once

#include <string>

#include "camera_device.h"
#include "imaging/fits_writer.h"
#include "imaging/frame_statistics.h"
#include "imaging/frame_type.h"
#include "imaging/image.h"

namespace tarnscsi::alpaca {

// The pixels row after row, as the imaging library's writers take them.
imaging::Image16 RowsOf(const Image& image);

// The header of a frame of this type; `software` signs it.
imaging::FitsKeywords FitsKeywordsFor(const Image& image, imaging::ImageType type, const std::string& software);

// A file name for the frame, its own among the server's: tarnscsi-20261209T183012.345-7.fits
std::string FitsNameFor(const Image& image);

}  // namespace tarnscsi::alpaca
