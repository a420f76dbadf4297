// The imaging library as functions: the FITS file and the header cards it
// takes, the preview's stretch, the statistics of a frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/fits_cards.h"
#include "imaging/fits_writer.h"
#include "imaging/frame_statistics.h"
#include "imaging/png_preview.h"
#include "support/fits_reader.h"

using namespace tarnscsi::imaging;
using tarnscsi::imaging_test::ReadFits;

namespace {

// A name of its own in the temporary folder, removed afterwards.
struct Scratch {
    Scratch()
        : path(std::filesystem::temp_directory_path() /
               ("tarnscsi_imaging_" + std::to_string(std::random_device{}()) + ".fits")) {}
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::filesystem::path path;
};

Image16 Ramp(int width, int height, int step) {
    Image16 image{width, height, {}};
    for (int i = 0; i < width * height; ++i) image.pixels.push_back(static_cast<std::uint16_t>(i * step));
    return image;
}

FitsKeywords SomeKeywords() {
    FitsKeywords k;
    k.exposureSeconds = 1.5;
    k.start = std::chrono::system_clock::time_point(std::chrono::milliseconds(1000000000123));
    k.binning = 2;
    k.originX = 3;
    k.originY = 4;
    k.pixelSizeX = k.pixelSizeY = 18.0;
    k.instrument = "Nebrix";
    k.imageType = "Flat Frame";
    k.software = "tarnscsi test";
    return k;
}

}  // namespace

TEST(FitsWriter, StoresTheFullUnsignedRangeAndOnlyKnownTemperatures) {
    const Scratch file;
    const Image16 image{5, 2, {0, 1, 32767, 32768, 65535, 2, 40000, 12345, 65534, 7}};
    FitsKeywords keywords = SomeKeywords();
    keywords.ccdTemperature = -12.3;
    WriteFitsFile(file.path, image, keywords, file.path);

    const auto fits = ReadFits(file.path);
    EXPECT_EQ(fits.width, 5);
    EXPECT_EQ(fits.height, 2);
    EXPECT_EQ(fits.pixels, image.pixels);
    EXPECT_EQ(fits.Number("BZERO"), 32768.0);
    EXPECT_EQ(fits.Text("DATE-OBS"), "2001-09-09T01:46:40.123");
    EXPECT_EQ(fits.Number("CCD-TEMP"), -12.3);
    EXPECT_FALSE(fits.Text("SET-TEMP"));
    EXPECT_EQ(fits.Number("XORGSUBF"), 3.0);
    EXPECT_EQ(fits.Text("IMAGETYP"), "Flat Frame");
}

TEST(AutoStretch, IsMonotonicClipsShadowsAndLiftsTheBackground) {
    // A dark background with noise, and a few bright pixels.
    Image16 image{100, 100, {}};
    for (int i = 0; i < 10000; ++i) image.pixels.push_back(static_cast<std::uint16_t>(1000 + (i * 37) % 200));
    image.pixels[0] = 60000;
    image.pixels[1] = 0;
    const auto out = AutoStretch(image);
    ASSERT_EQ(out.size(), image.pixels.size());
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
    // Background median (about 1100) ends near a quarter of full scale.
    std::vector<std::uint8_t> background(out.begin() + 2, out.end());
    std::nth_element(background.begin(), background.begin() + background.size() / 2, background.end());
    EXPECT_NEAR(background[background.size() / 2], 64, 8);

    const Image16 ramp = Ramp(256, 256, 1);
    const auto stretched = AutoStretch(ramp);
    EXPECT_TRUE(std::is_sorted(stretched.begin(), stretched.end()));
    EXPECT_LT(stretched.front(), stretched.back());
}

TEST(AutoStretch, FlatImagesDoNotBreakIt) {
    for (std::uint16_t level : {std::uint16_t{0}, std::uint16_t{1234}, std::uint16_t{65535}}) {
        const Image16 flat{8, 8, std::vector<std::uint16_t>(64, level)};
        const auto out = AutoStretch(flat);
        ASSERT_EQ(out.size(), 64u);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [&](std::uint8_t v) { return v == out[0]; }));
    }
}

// Everything --key could put into a header is judged before the first
// exposure: nothing refused here may reach the writer, and nothing accepted
// may make it fail or write a file FITS readers reject.
TEST(FitsCards, AcceptsUserKeywordsAndRefusesStructureTheToolsOwnAndWrongTypes) {
    struct Case {
        std::string key, value;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"AIRMASS", "1.2", true},
        {"SITE-1", "Back garden", true},
        {"A_B", "", true},
        {"airmass", "1", false},
        {"TOOLONGKEY", "1", false},
        {"", "1", false},
        {"SPACE KEY", "1", false},
        // Written by the tool, or by one of its options.
        {"EXPTIME", "3", false},
        {"OBJECT", "M31", false},
        {"FOCALLEN", "1000", false},
        {"DATE", "2024-05-01", false},
        // The file's structure, tables, groups, extensions, sums.
        {"NAXIS1", "3", false},
        {"NAXIS3", "5", false},
        {"XTENSION", "IMAGE", false},
        {"TFIELDS", "2", false},
        {"TFORM1", "E", false},
        {"PCOUNT", "3", false},
        {"GCOUNT", "2", false},
        {"BLANK", "1", false},
        {"BSCALE", "2", false},
        {"CONTINUE", "x", false},
        {"CHECKSUM", "0", false},
        {"EPOCH", "2000", false},
        // The standard's keywords take the type it gives them.
        {"EQUINOX", "abc", false},
        {"EQUINOX", "2000", true},
        {"MJD-OBS", "abc", false},
        {"MJD-OBS", "60000.25", true},
        {"CRVAL1", "x", false},
        {"PC1_2", "0.5", true},
        {"EXTVER", "1.5", false},
        {"EXTVER", "2", true},
        {"DATE-BEG", "2020", false},
        {"DATE-BEG", "2024-05-01T21:30:00.5", true},
        {"CTYPE1", "RA---TAN", true},
        // Numbers a card holds exactly: finite, 64-bit.
        {"DATAMAX", "1e999", false},
        {"DATAMAX", "1e-999", false},
        {"DATAMAX", "65535", true},
        {"BIG", "123456789012345678901234", false},
        {"BIG", "1.23456789012345678901234e23", true},
        // Text that fits once each ' is doubled.
        {"NOTE", std::string(68, 'x'), true},
        {"NOTE", std::string(69, 'x'), false},
        {"NOTE", std::string(34, '\''), true},
        {"NOTE", std::string(35, '\''), false},
        {"NOTE", "it's " + std::string(63, 'x'), false},
        {"NOTE", "tab\there", false},
        // Commentary continues on further cards.
        {"HISTORY", std::string(200, 'x'), true},
        {"COMMENT", "bell\a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitsCardProblem(c.key, c.value).empty(), c.accepted)
            << c.key << "=" << c.value << ": " << FitsCardProblem(c.key, c.value);
    }
    EXPECT_NE(FitsCardProblem("OBJECT", "M31").find("--object"), std::string::npos) << "which option sets it";
    EXPECT_NE(FitsTextProblem(std::string(35, '\'')).find("takes 70 characters"), std::string::npos);
}

// The cards land with the type their keyword and value give them, and every
// value reads back as it was given.
TEST(FitsWriter, ExtraCardsKeepTheirTypeAndTheirValueExactly) {
    const Scratch file;
    FitsKeywords keywords = SomeKeywords();
    keywords.metadata.extraCards = {"NCOMBINE=3",
                                    "EQUINOX=2000",
                                    "CTYPE1=5",
                                    "PREC=1.2345678901234567",
                                    "TENTH=0.1",
                                    "NOTE=" + std::string(34, '\''),
                                    "HISTORY=" + std::string(100, 'h'),
                                    "HISTORY=more"};
    WriteFitsFile(file.path, Ramp(4, 4, 1), keywords, file.path);
    const auto fits = ReadFits(file.path);
    EXPECT_EQ(fits.keywords.at("NCOMBINE"), "3") << "a whole number stays whole";
    EXPECT_EQ(fits.keywords.at("EQUINOX"), "2000.") << "a real keyword holds a real number";
    EXPECT_EQ(fits.Text("CTYPE1"), "5") << "a text keyword holds text";
    EXPECT_EQ(fits.Number("PREC"), 1.2345678901234567);
    EXPECT_EQ(fits.keywords.at("TENTH"), "0.1");
    EXPECT_EQ(fits.Text("NOTE"), std::string(34, '\''));
    EXPECT_EQ(fits.commentary.at("HISTORY"), std::string(100, 'h') + "more");
}

// The statistics and histogram of a frame, on frames whose answers are
// known: an even count (the lower middle is the median), saturated pixels,
// one level only.
TEST(FrameSummary, StatisticsAndHistogramOfKnownFrames) {
    std::vector<std::uint16_t> pixels = {7, 65535, 100, 3, 65535, 50};
    const FrameSummary s = Summarise(pixels);
    EXPECT_EQ(s.minimum, 3);
    EXPECT_EQ(s.median, 50);
    EXPECT_EQ(s.maximum, 65535);
    EXPECT_EQ(s.saturated, 2U);
    ASSERT_EQ(s.histogram.size(), kHistogramBins);
    EXPECT_EQ(s.histogram.front(), 4U);  // 3, 7, 50, 100 are in the lowest 512 levels
    EXPECT_EQ(s.histogram.back(), 2U);
    std::uint64_t total = 0;
    for (const std::uint64_t count : s.histogram) total += count;
    EXPECT_EQ(total, 6U);

    pixels.assign(6, 1234);
    const FrameSummary flat = Summarise(pixels);
    EXPECT_EQ(flat.minimum, 1234);
    EXPECT_EQ(flat.median, 1234);
    EXPECT_EQ(flat.maximum, 1234);
    EXPECT_EQ(flat.saturated, 0U);
    EXPECT_EQ(flat.histogram, std::vector<std::uint64_t>{6});
}
