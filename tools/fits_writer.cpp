#include "fits_writer.h"

#include <fitsio.h>

#include <cerrno>
#include <memory>

#include <tarnscsi/units.h>

#include "errors.h"
#include "pending_file.h"
#include "timestamp.h"

namespace tarnscsi::tool {

namespace {

constexpr int kImageAxes = 2;
constexpr int kPixelSizeDecimals = 2;

// Closes the file on the error path; the status of that close is of no
// interest there because the temporary file is discarded anyway.
struct FitsCloser {
    void operator()(fitsfile* file) const {
        int ignored = 0;
        fits_close_file(file, &ignored);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsCloser>;

// cfitsio's status text, and the system's reason when the failure was an
// input/output error, for a message that says what failed.
std::string Describe(int status, int savedErrno) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    std::string message = text;
    if ((status == WRITE_ERROR || status == FILE_NOT_CLOSED || status == FILE_NOT_CREATED) && savedErrno != 0) {
        message += " (" + ErrnoText(savedErrno) + ")";
    }
    fits_clear_errmsg();
    return message;
}

class FitsOutput {
public:
    FitsOutput(const std::filesystem::path& path, fitsfile* handle) : target(path), file(handle) {}

    // Each step runs only while everything before it succeeded.
    void Check(const char* step) {
        if (status == 0) return;
        const int savedErrno = errno;
        throw ToolError("cannot write FITS file " + target.string() + ": " + step +
                        " failed: " + Describe(status, savedErrno));
    }
    void Key(const char* name, int value, const char* comment) {
        fits_write_key(file, TINT, name, &value, comment, &status);
        Check(name);
    }
    void Key(const char* name, const std::string& value, const char* comment) {
        fits_write_key_str(file, name, value.c_str(), comment, &status);
        Check(name);
    }
    void Key(const char* name, double value, int decimals, const char* comment) {
        fits_write_key_fixdbl(file, name, value, decimals, comment, &status);
        Check(name);
    }
    int& Status() { return status; }
    fitsfile* File() { return file; }

private:
    const std::filesystem::path& target;
    fitsfile* file;
    int status = 0;
};

void WriteKeywords(FitsOutput& out, const FitsKeywords& k) {
    out.Key("EXPTIME", k.exposureSeconds, kExposureDecimals, "[s] exposure time");
    out.Key("DATE-OBS", IsoUtcMilliseconds(k.start), "UTC start of exposure");
    if (k.ccdTemperature) {
        out.Key("CCD-TEMP", *k.ccdTemperature, kTemperatureDecimals, "[C] sensor at start of exposure");
    }
    if (k.setpoint) out.Key("SET-TEMP", *k.setpoint, kTemperatureDecimals, "[C] cooler setpoint");
    out.Key("XBINNING", k.binning, "binning factor in width");
    out.Key("YBINNING", k.binning, "binning factor in height");
    out.Key("XORGSUBF", k.originX, "subframe X origin in binned pixels");
    out.Key("YORGSUBF", k.originY, "subframe Y origin in binned pixels");
    out.Key("XPIXSZ", k.pixelSizeX, kPixelSizeDecimals, "[um] pixel width after binning");
    out.Key("YPIXSZ", k.pixelSizeY, kPixelSizeDecimals, "[um] pixel height after binning");
    out.Key("INSTRUME", k.instrument, "camera");
    out.Key("IMAGETYP", k.imageType, "type of image");
    out.Key("ROWORDER", std::string("TOP-DOWN"), "first row is the top of the frame");
    out.Key("SWCREATE", k.software, "software that wrote this file");
    fits_write_date(out.File(), &out.Status());
    out.Check("DATE");
}

}  // namespace

void WriteFits(const std::filesystem::path& path, const Image16& image, const FitsKeywords& keywords, bool overwrite) {
    PendingFile pending(path, overwrite);
    int status = 0;
    fitsfile* raw = nullptr;
    errno = 0;  // so that a failure's reason is not an older call's
    // The disk-file variant takes the name literally: no extended filename
    // syntax, so brackets or a leading '!' in a user's path mean nothing.
    if (fits_create_diskfile(&raw, pending.TempPath().c_str(), &status) != 0) {
        const int savedErrno = errno;
        throw ToolError("cannot create FITS file in " + pending.TempPath().parent_path().string() + ": " +
                        Describe(status, savedErrno));
    }
    FitsHandle handle(raw);
    FitsOutput out(path, raw);

    long axes[kImageAxes] = {image.width, image.height};
    // USHORT_IMG: cfitsio writes BITPIX 16 with BZERO 32768 and BSCALE 1, and
    // applies the offset itself to the TUSHORT values below.
    fits_create_img(raw, USHORT_IMG, kImageAxes, axes, &out.Status());
    out.Check("the image header");
    WriteKeywords(out, keywords);
    // cfitsio converts from a copy; the input pixels are not modified.
    fits_write_img(raw, TUSHORT, 1, static_cast<LONGLONG>(image.pixels.size()),
                   const_cast<std::uint16_t*>(image.pixels.data()), &out.Status());
    out.Check("writing the pixels");

    fits_close_file(handle.release(), &out.Status());
    out.Check("closing the file");
    pending.Commit();
}

}  // namespace tarnscsi::tool
