#include "imaging/fits_writer.h"

#include <fitsio.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <tarnscsi/camera.h>
#include <tarnscsi/exposure_session.h>
#include <tarnscsi/units.h>

#include "imaging/fits_cards.h"
#include "imaging/imaging_error.h"

namespace tarnscsi::imaging {

namespace {

constexpr int kImageAxes = 2;
// FITS files come in blocks of this many bytes.
constexpr std::size_t kFitsBlockBytes = 2880;
constexpr int kPixelSizeDecimals = 2;
constexpr int kOpticsDecimals = 1;
constexpr int kGainDecimals = 3;
// cfitsio's name for standard output.
constexpr char kCfitsioStandardOutput[] = "-";

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
        throw ImagingError("cannot write FITS file " + target.string() + ": " + step +
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

// A --key card, of the kind its keyword and value gave it.
void WriteCard(FitsOutput& out, const HeaderCard& card) {
    const char* key = card.key.c_str();
    switch (card.kind) {
        case HeaderCardKind::kText: out.Key(key, card.text, nullptr); return;
        case HeaderCardKind::kInteger: {
            long long integer = card.integer;
            fits_write_key(out.File(), TLONGLONG, key, &integer, nullptr, &out.Status());
            break;
        }
        case HeaderCardKind::kReal:
            // Negative decimals: that many significant digits.
            fits_write_key_dbl(out.File(), key, card.real, -card.significantDigits, nullptr, &out.Status());
            break;
        // Long commentary continues on further cards of the same keyword.
        case HeaderCardKind::kComment: fits_write_comment(out.File(), card.text.c_str(), &out.Status()); break;
        case HeaderCardKind::kHistory: fits_write_history(out.File(), card.text.c_str(), &out.Status()); break;
    }
    out.Check(key);
}

void WriteKeywords(FitsOutput& out, const FitsKeywords& k) {
    out.Key("EXPTIME", k.exposureSeconds, kExposureDecimals, "[s] exposure time");
    out.Key("DATE-OBS", UtcTimestamp(k.start), "UTC start of exposure");
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
    if (k.metadata.object) out.Key("OBJECT", *k.metadata.object, "name of the object observed");
    if (k.metadata.filter) out.Key("FILTER", *k.metadata.filter, "filter in the light path");
    if (k.metadata.observer) out.Key("OBSERVER", *k.metadata.observer, "observer");
    if (k.metadata.telescope) out.Key("TELESCOP", *k.metadata.telescope, "telescope");
    if (k.metadata.focalLength) out.Key("FOCALLEN", *k.metadata.focalLength, kOpticsDecimals, "[mm] focal length");
    if (k.metadata.aperture) out.Key("APTDIA", *k.metadata.aperture, kOpticsDecimals, "[mm] aperture diameter");
    if (k.metadata.electronsPerAdu)
        out.Key("EGAIN", *k.metadata.electronsPerAdu, kGainDecimals, "[e-/ADU] electrons per count");
    for (const std::string& keyValue : k.metadata.extraCards) WriteCard(out, ParseHeaderCard(keyValue));
    fits_write_date(out.File(), &out.Status());
    out.Check("DATE");
}

// The header and the pixels, then the close that completes the file.
void WriteContent(fitsfile* raw, FitsOutput& out, const Image16& image, const FitsKeywords& keywords) {
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
}

}  // namespace

FitsKeywords CameraFrameKeywords(const Frame& frame, double exposureSeconds,
                                 std::chrono::system_clock::time_point start, std::optional<double> ccdTemperature,
                                 std::optional<double> setpoint, const std::string& imageType,
                                 const std::string& software) {
    FitsKeywords keywords;
    keywords.exposureSeconds = exposureSeconds;
    keywords.start = start;
    keywords.ccdTemperature = ccdTemperature;
    keywords.setpoint = setpoint;
    keywords.binning = frame.binning;
    keywords.originX = BinnedOrigin(frame.x, frame.binning);
    keywords.originY = BinnedOrigin(frame.y, frame.binning);
    keywords.pixelSizeX = kPixelSizeMicrons * frame.binning;
    keywords.pixelSizeY = kPixelSizeMicrons * frame.binning;
    keywords.instrument = CameraModel();
    keywords.imageType = imageType;
    keywords.software = software;
    return keywords;
}

std::string FitsFile(const Image16& image, const FitsKeywords& keywords) {
    // cfitsio grows the buffer with realloc as the file grows; `memory`
    // follows it, and is freed here whatever happens.
    std::size_t size = kFitsBlockBytes;
    void* memory = std::malloc(size);
    struct FreeOnExit {
        void*& memory;
        ~FreeOnExit() { std::free(memory); }
    } freeOnExit{memory};
    const std::filesystem::path name("memory");
    int status = 0;
    fitsfile* raw = nullptr;
    if (memory == nullptr || fits_create_memfile(&raw, &memory, &size, kFitsBlockBytes, &std::realloc, &status) != 0) {
        throw ImagingError("cannot make a FITS file in memory: " + Describe(status, ENOMEM));
    }
    FitsHandle handle(raw);
    FitsOutput out(name, raw);
    WriteContent(raw, out, image, keywords);
    // The file ends where its one HDU's padded data ends.
    LONGLONG headerStart = 0;
    LONGLONG dataStart = 0;
    LONGLONG dataEnd = 0;
    fits_get_hduaddrll(raw, &headerStart, &dataStart, &dataEnd, &out.Status());
    out.Check("measuring the file");
    fits_close_file(handle.release(), &out.Status());
    out.Check("closing the file");
    return {static_cast<const char*>(memory), static_cast<std::size_t>(dataEnd)};
}

void WriteFitsToStandardOutput(const Image16& image, const FitsKeywords& keywords) {
    int status = 0;
    fitsfile* raw = nullptr;
    // cfitsio keeps the file in memory and writes it to stdout on closing.
    if (fits_create_file(&raw, kCfitsioStandardOutput, &status) != 0) {
        throw ImagingError("cannot write FITS to standard output: " + Describe(status, errno));
    }
    FitsHandle handle(raw);
    const std::filesystem::path name("standard output");
    FitsOutput out(name, raw);
    WriteContent(raw, out, image, keywords);
    errno = 0;
    fits_close_file(handle.release(), &out.Status());
    if (errno == EPIPE) throw ImagingError("cannot write FITS to standard output: " + ErrnoText(EPIPE));
    out.Check("closing the file");
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        throw ImagingError("cannot write FITS to standard output: " + ErrnoText(errno));
    }
}

void WriteFitsFile(const std::filesystem::path& file, const Image16& image, const FitsKeywords& keywords,
                   const std::filesystem::path& shownAs) {
    int status = 0;
    fitsfile* raw = nullptr;
    errno = 0;  // so that a failure's reason is not an older call's
    // The disk-file variant takes the name literally: no extended filename
    // syntax, so brackets or a leading '!' in a user's path mean nothing.
    if (fits_create_diskfile(&raw, file.string().c_str(), &status) != 0) {
        const int savedErrno = errno;
        throw ImagingError("cannot create FITS file in " + file.parent_path().string() + ": " +
                           Describe(status, savedErrno));
    }
    FitsHandle handle(raw);
    FitsOutput out(shownAs, raw);
    WriteContent(raw, out, image, keywords);

    fits_close_file(handle.release(), &out.Status());
    out.Check("closing the file");
}

}  // namespace tarnscsi::imaging
