// The tool's pieces as functions: the FITS and PNG files published whole,
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
#include "frame_files.h"
#include "interrupt.h"
#include "name_pattern.h"
#include "options.h"
#include "pending_file.h"
#include "scan_command.h"
#include "support/fits_reader.h"
#include "support/tool_process.h"
#include "windows_file_names.h"

using namespace tarnscsi::tool;
using tarnscsi::imaging::AutoStretch;
using tarnscsi::imaging_test::ReadFits;
using tarnscsi::tool_test::TempFolder;

namespace {

Image16 Ramp(int width, int height, int step) {
    Image16 image{width, height, {}};
    for (int i = 0; i < width * height; ++i) image.pixels.push_back(static_cast<std::uint16_t>(i * step));
    return image;
}

}  // namespace

// The pre-flight check can be overtaken (another program creates the file
// during the exposure): the final rename still refuses to replace it.
TEST(FitsWriter, NeverReplacesAFileWithoutOverwriteAndCleansUp) {
    TempFolder dir;
    const auto path = dir.Path() / "taken.fits";
    { std::ofstream(path) << "someone else's"; }
    EXPECT_THROW(WriteFits(path, Ramp(4, 4, 1), FitsKeywords{}, false), ToolError);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"taken.fits"});

    WriteFits(path, Ramp(4, 4, 1), FitsKeywords{}, true);
    EXPECT_EQ(ReadFits(path).pixels, Ramp(4, 4, 1).pixels);
    EXPECT_THROW(WriteFits(dir.Path() / "missing" / "x.fits", Ramp(4, 4, 1), FitsKeywords{}, false), ToolError);
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

// What Windows would open as a device, or store under another name, in any
// part of the path; the Windows tool refuses it before the exposure.
TEST(WindowsNames, DeviceNamesAndTrailingDotsOrSpacesAreRefusedAnywhere) {
    for (const char* name :
         {"CON", "nul", "Aux.fits", "prn.tar.gz", "COM1", "lpt9.png", "com0", "CONIN$", "conout$.txt", "nul .fits",
          "frames\\NUL\\a.fits", "C:/x/Com3/f.fits", "frame.", "frame ", "dir./f.fits", "..\\sub \\f.fits"}) {
        EXPECT_NE(WindowsNameProblem(name), "") << name;
    }
    for (const char* name : {"frame.fits", "CONSOLE.fits", "nul1.fits", "COM10", "LPTX", "..\\frames\\.\\a.fits",
                             "C:\\frames\\m31.fits", "\\\\server\\share\\a.fits", "my frame.fits", ".hidden"}) {
        EXPECT_EQ(WindowsNameProblem(name), "") << name;
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
