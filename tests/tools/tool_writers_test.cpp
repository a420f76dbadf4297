// The tool's pieces as functions: the FITS and PNG writers, the stretch,
// output names, the command-line checks and the timestamp.
#include <gtest/gtest.h>
#include <png.h>

#include <fstream>

#include "errors.h"
#include "fits_writer.h"
#include "name_pattern.h"
#include "options.h"
#include "png_preview.h"
#include "support/fits_reader.h"
#include "support/tool_process.h"
#include "timestamp.h"

using namespace tarnscsi::tool;
using tarnscsi::tool_test::ReadFits;
using tarnscsi::tool_test::TempFolder;

namespace {

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
    k.imageType = "Flat Field";
    k.software = "tarnscsi test";
    return k;
}

}  // namespace

TEST(FitsWriter, StoresTheFullUnsignedRangeAndOnlyKnownTemperatures) {
    TempFolder dir;
    const Image16 image{5, 2, {0, 1, 32767, 32768, 65535, 2, 40000, 12345, 65534, 7}};
    FitsKeywords keywords = SomeKeywords();
    keywords.ccdTemperature = -12.3;
    WriteFits(dir.Path() / "a.fits", image, keywords, false);

    const auto fits = ReadFits(dir.Path() / "a.fits");
    EXPECT_EQ(fits.width, 5);
    EXPECT_EQ(fits.height, 2);
    EXPECT_EQ(fits.pixels, image.pixels);
    EXPECT_EQ(fits.Number("BZERO"), 32768.0);
    EXPECT_EQ(fits.Text("DATE-OBS"), "2001-09-09T01:46:40.123");
    EXPECT_EQ(fits.Number("CCD-TEMP"), -12.3);
    EXPECT_FALSE(fits.Text("SET-TEMP"));
    EXPECT_EQ(fits.Number("XORGSUBF"), 3.0);
    EXPECT_EQ(fits.Text("IMAGETYP"), "Flat Field");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"a.fits"});
}

// The pre-flight check can be overtaken (another program creates the file
// during the exposure): the final rename still refuses to replace it.
TEST(FitsWriter, NeverReplacesAFileWithoutOverwriteAndCleansUp) {
    TempFolder dir;
    const auto path = dir.Path() / "taken.fits";
    { std::ofstream(path) << "someone else's"; }
    EXPECT_THROW(WriteFits(path, Ramp(4, 4, 1), SomeKeywords(), false), ToolError);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"taken.fits"});

    WriteFits(path, Ramp(4, 4, 1), SomeKeywords(), true);
    EXPECT_EQ(ReadFits(path).pixels, Ramp(4, 4, 1).pixels);
    EXPECT_THROW(WriteFits(dir.Path() / "missing" / "x.fits", Ramp(4, 4, 1), SomeKeywords(), false), ToolError);
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

TEST(PngPreview, HoldsTheStretchedPixels) {
    TempFolder dir;
    const Image16 image = Ramp(64, 32, 31);
    WritePngPreview(dir.Path() / "p.png", image, false);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, (dir.Path() / "p.png").c_str())) << png.message;
    png.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << png.message;
    EXPECT_EQ(png.width, 64u);
    EXPECT_EQ(png.height, 32u);
    EXPECT_EQ(pixels, AutoStretch(image));
    EXPECT_THROW(WritePngPreview(dir.Path() / "p.png", image, false), ToolError);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"p.png"});
}

TEST(NamePattern, ExpandsOneCounterAndRefusesOtherPercentSequences) {
    EXPECT_EQ(NamePattern::Parse("f_%04d.fits").Expand(7), "f_0007.fits");
    EXPECT_EQ(NamePattern::Parse("%d.fits").Expand(12), "12.fits");
    EXPECT_EQ(NamePattern::Parse("100%%_%02d").Expand(3), "100%_03");
    EXPECT_EQ(NamePattern::Parse("dark.fits").Expand(5), "dark.fits");
    EXPECT_FALSE(NamePattern::Parse("100%%.fits").HasCounter());
    for (const char* bad : {"a%s", "%d_%d", "end%", "%-4d", "%0123456789d", ""}) {
        EXPECT_THROW(NamePattern::Parse(bad), UsageError) << bad;
    }
}

TEST(ExposeOptions, ConvertToCameraUnits) {
    ExposeOptions options;
    options.seconds = 1.2345;
    options.output = "a.fits";
    options.x = 100;
    options.binning = 2;
    options.height = 101;
    options.setTemp = -12.34;
    const ExposeRequest request = CheckExposeOptions(options);
    EXPECT_EQ(request.window.exposureTime, 1235);  // nearest millisecond
    EXPECT_EQ(request.window.originX, 100);
    EXPECT_EQ(request.window.width, 668);   // to the right edge
    EXPECT_EQ(request.window.height, 100);  // whole 2 x 2 cells
    EXPECT_EQ(request.window.binned, 1);
    EXPECT_EQ(request.setpoint, -123);
}

TEST(Timestamp, IsUtcWithMilliseconds) {
    using namespace std::chrono;
    EXPECT_EQ(IsoUtcMilliseconds(system_clock::time_point(milliseconds(0))), "1970-01-01T00:00:00.000");
    EXPECT_EQ(IsoUtcMilliseconds(system_clock::time_point(milliseconds(1709251199999))), "2024-02-29T23:59:59.999");
}
