// Writes a small FITS file and a PNG with the imaging libraries cross-built
// for Windows (cfitsio, built thread-safe, libpng, zlib), and reads the PNG
// back: the program imaging_libs_check.cmake runs under Wine, whose files it
// then checks on the host.
//   imaging_libs_write <fits file> <png file>
#include <fitsio.h>
#include <png.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr long kWidth = 16;
constexpr long kHeight = 8;

// A gradient that uses both bytes of each 16-bit pixel.
std::vector<unsigned short> TestPixels() {
    std::vector<unsigned short> pixels(static_cast<size_t>(kWidth * kHeight));
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<unsigned short>(i * 509U);
    }
    return pixels;
}

bool WriteFits(const char* path, std::vector<unsigned short>& pixels) {
    int status = 0;
    fitsfile* file = nullptr;
    std::string name = std::string("!") + path;  // "!": replace an existing file
    std::array<long, 2> axes{kWidth, kHeight};
    fits_create_file(&file, name.c_str(), &status);
    fits_create_img(file, USHORT_IMG, 2, axes.data(), &status);
    fits_write_key_str(file, "INSTRUME", "imaging_libs_write", "cross-built cfitsio", &status);
    fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(pixels.size()), pixels.data(), &status);
    fits_write_chksum(file, &status);
    fits_close_file(file, &status);
    if (status != 0) {
        char text[FLEN_STATUS] = {};
        fits_get_errstatus(status, text);
        std::fprintf(stderr, "writing %s: cfitsio status %d (%s)\n", path, status, text);
        return false;
    }
    return true;
}

bool WriteAndReadPng(const char* path, const std::vector<unsigned short>& pixels) {
    std::vector<png_byte> gray(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        gray[i] = static_cast<png_byte>(pixels[i] >> 8);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_GRAY;
    if (png_image_write_to_file(&image, path, 0, gray.data(), 0, nullptr) == 0) {
        std::fprintf(stderr, "writing %s: %s\n", path, image.message);
        return false;
    }
    png_image back{};
    back.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&back, path) == 0) {
        std::fprintf(stderr, "reading %s: %s\n", path, back.message);
        return false;
    }
    back.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> read(PNG_IMAGE_SIZE(back));
    if (png_image_finish_read(&back, nullptr, read.data(), 0, nullptr) == 0) {
        std::fprintf(stderr, "reading %s: %s\n", path, back.message);
        return false;
    }
    if (back.width != image.width || back.height != image.height || read != gray) {
        std::fprintf(stderr, "%s read back differs from what was written\n", path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: imaging_libs_write <fits file> <png file>\n");
        return 2;
    }
    // The Alpaca server calls cfitsio from several workers.
    if (fits_is_reentrant() != 1) {
        std::fprintf(stderr, "cfitsio was built without thread support (fits_is_reentrant() is 0)\n");
        return 1;
    }
    std::vector<unsigned short> pixels = TestPixels();
    return WriteFits(argv[1], pixels) && WriteAndReadPng(argv[2], pixels) ? 0 : 1;
}
