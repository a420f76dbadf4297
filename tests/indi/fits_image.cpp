#include "fits_image.h"

#include <fitsio.h>

namespace tarnscsi::indi_test {

namespace {

constexpr int kImageAxes = 2;

std::string ErrorText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

}  // namespace

std::optional<FitsImage> FitsImage::Parse(const std::vector<std::uint8_t>& bytes, std::string& error) {
    // cfitsio reads in place and never writes to a file opened read-only.
    void* memory = const_cast<std::uint8_t*>(bytes.data());
    size_t size = bytes.size();
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_memfile(&file, "image.fits", READONLY, &memory, &size, 0, nullptr, &status) != 0) {
        error = "not a FITS file: " + ErrorText(status);
        return std::nullopt;
    }
    FitsImage image;
    int axes = 0;
    long shape[kImageAxes] = {};
    LONGLONG headerStart = 0;
    LONGLONG dataEnd = 0;
    int cardCount = 0;
    fits_get_img_type(file, &image.bitsPerPixel, &status);
    fits_get_img_dim(file, &axes, &status);
    fits_get_img_size(file, kImageAxes, shape, &status);
    fits_get_hduaddrll(file, &headerStart, &image.dataStart, &dataEnd, &status);
    fits_get_hdrspace(file, &cardCount, nullptr, &status);
    for (int n = 1; status == 0 && n <= cardCount; ++n) {
        char keyword[FLEN_KEYWORD] = {};
        char value[FLEN_VALUE] = {};
        char comment[FLEN_COMMENT] = {};
        fits_read_keyn(file, n, keyword, value, comment, &status);
        Card card{keyword, std::nullopt, std::nullopt};
        double number = 0;
        int keyStatus = 0;
        if (fits_read_key(file, TDOUBLE, keyword, &number, nullptr, &keyStatus) == 0) {
            card.number = number;
        }
        char text[FLEN_VALUE] = {};
        keyStatus = 0;
        if (fits_read_key(file, TSTRING, keyword, text, nullptr, &keyStatus) == 0) {
            card.text = text;
        }
        image.cards.push_back(std::move(card));
    }
    if (status == 0 && axes == kImageAxes) {
        image.pixels.resize(static_cast<std::size_t>(shape[0] * shape[1]));
        int anyNull = 0;
        fits_read_img(file, TUSHORT, 1, static_cast<LONGLONG>(image.pixels.size()), nullptr, image.pixels.data(),
                      &anyNull, &status);
    }
    int closeStatus = 0;
    fits_close_file(file, &closeStatus);
    if (status != 0) {
        error = "unreadable FITS header: " + ErrorText(status);
        return std::nullopt;
    }
    if (axes != kImageAxes) {
        error = "the image has " + std::to_string(axes) + " axes, not 2";
        return std::nullopt;
    }
    image.width = shape[0];
    image.height = shape[1];
    return image;
}

std::optional<double> FitsImage::Number(const std::string& keyword) const {
    for (const auto& card : cards) {
        if (card.keyword == keyword) return card.number;
    }
    return std::nullopt;
}

std::optional<std::string> FitsImage::Text(const std::string& keyword) const {
    for (const auto& card : cards) {
        if (card.keyword == keyword) return card.text;
    }
    return std::nullopt;
}

}  // namespace tarnscsi::indi_test