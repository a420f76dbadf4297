// The tool's pieces as functions: the FITS and PNG writers, the stretch,
// output names, the command-line checks and the timestamp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>

#include "command_words.h"
#include "errors.h"
#include "fits_cards.h"
#include "fits_writer.h"
#include "interrupt.h"
#include "name_pattern.h"
#include "options.h"
#include "pending_file.h"
#include "png_preview.h"
#include "scan_command.h"
#include "support/fits_reader.h"
#include "support/tool_process.h"

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
    k.imageType = "Flat Frame";
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
    EXPECT_EQ(fits.Text("IMAGETYP"), "Flat Frame");
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

// A second signal of any kind that stops the tool (a write that does not
// return) removes the temporary file being written before the process ends.
TEST(PendingFile, ASecondStopSignalOfAnyKindRemovesTheTemporary) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        TempFolder dir;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);  // the first signal's note
            InstallInterruptHandler();
            const PendingFile pending(dir.Path() / "frame.fits", false);
            close(open(pending.TempPath().c_str(), O_CREAT | O_WRONLY, S_IRUSR | S_IWUSR));
            raise(signal);
            raise(signal);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << strsignal(signal);
        EXPECT_TRUE(dir.Entries().empty()) << strsignal(signal);
    }
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
    // "%9d" would pad with spaces.
    for (const char* bad : {"a%s", "%d_%d", "end%", "%-4d", "%0123456789d", "", "f_%9d.fits"}) {
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

// A node's state in scan --json reads as the manager's report line ends:
// the reason only when it cannot be used, a failed command either way.
TEST(ScanNodes, StateSaysUsableOrWhyNotAndTheLastFailure) {
    tarnscsi::ManagerNode node;
    node.usable = true;
    EXPECT_EQ(NodeState(node), "usable");
    node.lastError = "No such device";
    EXPECT_EQ(NodeState(node), "usable; last command failed: No such device");
    node.usable = false;
    node.reason = "cannot open: Permission denied";
    node.lastError.clear();
    EXPECT_EQ(NodeState(node), "cannot open: Permission denied");
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
    TempFolder dir;
    FitsKeywords keywords = SomeKeywords();
    keywords.metadata.extraCards = {"NCOMBINE=3",
                                    "EQUINOX=2000",
                                    "CTYPE1=5",
                                    "PREC=1.2345678901234567",
                                    "TENTH=0.1",
                                    "NOTE=" + std::string(34, '\''),
                                    "HISTORY=" + std::string(100, 'h'),
                                    "HISTORY=more"};
    WriteFits(dir.Path() / "cards.fits", Ramp(4, 4, 1), keywords, false);
    const auto fits = ReadFits(dir.Path() / "cards.fits");
    EXPECT_EQ(fits.keywords.at("NCOMBINE"), "3") << "a whole number stays whole";
    EXPECT_EQ(fits.keywords.at("EQUINOX"), "2000.") << "a real keyword holds a real number";
    EXPECT_EQ(fits.Text("CTYPE1"), "5") << "a text keyword holds text";
    EXPECT_EQ(fits.Number("PREC"), 1.2345678901234567);
    EXPECT_EQ(fits.keywords.at("TENTH"), "0.1");
    EXPECT_EQ(fits.Text("NOTE"), std::string(34, '\''));
    EXPECT_EQ(fits.commentary.at("HISTORY"), std::string(100, 'h') + "more");
}

TEST(CommandWords, HelpTakesACommandAndTheFirstWordMustBeOne) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(RewriteHelpCommand({"t", "help", "expose"}), (Words{"t", "expose", "--help"}));
    EXPECT_EQ(RewriteHelpCommand({"t", "--simulate", "help"}), (Words{"t", "--simulate", "--help"}));
    EXPECT_EQ(RewriteHelpCommand({"t", "expose", "help"}), (Words{"t", "expose", "help"}));
    const Words commands = {"expose", "status"};
    EXPECT_EQ(CheckCommandWords({"t", "--trace", "log.txt", "status"}, commands), "");
    EXPECT_EQ(CheckCommandWords({"t", "--trace", "status", "--simulate"}, commands), "");
    EXPECT_NE(CheckCommandWords({"t", "--simulate", "bogus"}, commands).find("'bogus'"), std::string::npos);
    EXPECT_NE(CheckCommandWords({"t", "expose", "-INF"}, commands).find("'-INF'"), std::string::npos);
}
