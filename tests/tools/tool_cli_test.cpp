// The tool as a user runs it: a separate process against the simulated
// camera (or no manager at all), its exit codes, messages and files.
#include <gtest/gtest.h>
#include <png.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "support/fits_reader.h"
#include "support/tool_process.h"

using namespace tarnscsi::imaging_test;
using namespace tarnscsi::tool_test;
namespace fs = std::filesystem;

namespace {

constexpr int kUsage = 2;
constexpr int kFailure = 1;
constexpr int kTraceLost = 3;
constexpr int kSensorWidth = 768;
constexpr int kSensorHeight = 512;

constexpr std::uint32_t kPatternStep = 40503;
constexpr std::uint32_t kPatternOffset = 12345;
constexpr std::uint32_t kPatternValues = 16384;
constexpr int kPatternRowLength = 768;

// The pixel value the simulated camera's test pattern gives the pixel whose
// top-left corner is at sensor position (x, y): binned, the sum of the 2 x 2
// cell from there.
std::uint16_t PatternPixel(int x, int y, bool binned) {
    const auto at = [](int px, int py) {
        return (static_cast<std::uint32_t>(py * kPatternRowLength + px) * kPatternStep + kPatternOffset) %
               kPatternValues;
    };
    if (!binned) {
        return static_cast<std::uint16_t>(at(x, y));
    }
    return static_cast<std::uint16_t>(at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1));
}

class ToolTest : public ::testing::Test {
protected:
    ProcessResult Tool(std::vector<std::string> args, const std::string& libraryDir = SIM_DIR) {
        args.insert(args.begin(), TARNSCSI_TOOL_PATH);
        ProcessOptions run = options;
        run.workDir = dir.Path();
        run.libraryPath = libraryDir;
        return RunProcess(args, run);
    }
    fs::path At(const std::string& name) const { return dir.Path() / name; }
    std::string ContentOf(const std::string& name) const {
        std::ifstream in(At(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempFolder dir;
    ProcessOptions options;  // for the next runs: limits, redirections, signals
};

// The test pattern of the window at (originX, originY), in unbinned pixels.
void ExpectPattern(const FitsContents& fits, int originX, int originY, bool binned) {
    ASSERT_EQ(fits.pixels.size(), static_cast<std::size_t>(fits.width * fits.height));
    const int step = binned ? 2 : 1;
    for (std::uint32_t n = 0; n < fits.pixels.size(); ++n) {
        const int x = originX + step * static_cast<int>(n % static_cast<std::uint32_t>(fits.width));
        const int y = originY + step * static_cast<int>(n / static_cast<std::uint32_t>(fits.width));
        ASSERT_EQ(fits.pixels[n], PatternPixel(x, y, binned)) << "pixel " << n;
    }
}

void ExpectFitsVerifyClean(const fs::path& file) {
    const ProcessResult check = RunProcess({FITSVERIFY, "-q", file.string()}, {});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(check.out.rfind("verification OK", 0), 0u) << check.out;
}

// Runs with the simulator's TARNSCSI_SIM settings plus `extra`, then restores them.
class SimulatorSettings {
public:
    explicit SimulatorSettings(const std::string& extra) {
        const char* current = std::getenv(kVariable);
        if (current != nullptr) saved = current;
        setenv(kVariable, (saved ? *saved + "," : std::string()).append(extra).c_str(), 1);
    }
    ~SimulatorSettings() {
        if (saved) {
            setenv(kVariable, saved->c_str(), 1);
        } else {
            unsetenv(kVariable);
        }
    }
    SimulatorSettings(const SimulatorSettings&) = delete;
    SimulatorSettings& operator=(const SimulatorSettings&) = delete;

private:
    static constexpr char kVariable[] = "TARNSCSI_SIM";
    std::optional<std::string> saved;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool AnyLineStartsWith(const std::string& text, const std::string& start) {
    for (const std::string& line : Lines(text)) {
        if (line.rfind(start, 0) == 0) return true;
    }
    return false;
}

struct BadInput {
    std::vector<std::string> args;
    std::string named;  // what the message must quote
};

}  // namespace

// Every refusal comes before the camera is touched: the runs have no manager
// at all, so reaching the camera would end with exit 1, not 2.
TEST_F(ToolTest, RefusesBadInputNamingTheValueBeforeTouchingTheCamera) {
    const std::vector<BadInput> cases = {
        {{"expose", "-1", "-o", "a.fits"}, "-1 is not within 0.000 to 2147483.647 s"},
        {{"expose", "nan", "-o", "a.fits"}, "'nan' is not a plain decimal number"},
        {{"expose", "2147484", "-o", "a.fits"}, "2147484 is not within"},
        // The value as typed, not rounded to something that looks allowed.
        {{"expose", "2147483.64700001", "-o", "a.fits"}, "2147483.64700001 is not within"},
        {{"expose", "abc", "-o", "a.fits"}, "'abc' is not a plain decimal"},
        // An unset shell variable, hexadecimal, a negative infinity.
        {{"expose", "", "-o", "a.fits"}, "'' is not a plain decimal number"},
        {{"expose", "0x10", "-o", "a.fits"}, "'0x10' is not a plain decimal number"},
        {{"expose", "-inf", "-o", "a.fits"}, "'-inf' is not a plain decimal number"},
        {{"cool", ""}, "'' is not a plain decimal number"},
        {{"expose", "1", "-o", "a.fits", "--bin", "3"}, "--bin: Value 3 not in range 1 to 2"},
        {{"expose", "1", "-o", "a.fits", "--x", "768"}, "--x: Value 768 not in range 0 to 767"},
        {{"expose", "1", "-o", "a.fits", "--y", "-5"}, "--y: Value -5"},
        {{"expose", "1", "-o", "a.fits", "--width", "769"}, "--width: Value 769"},
        {{"expose", "1", "-o", "a.fits", "--x", "700", "--width", "100"}, "--width 100"},
        {{"expose", "1", "-o", "a.fits", "--bin", "2", "--height", "1"}, "--height 1"},
        // Origin plus size beyond the largest int: refused, not wrapped onto the sensor.
        {{"expose", "1", "-o", "a.fits", "--x", "1", "--width", "2147483647"}, "--width: Value 2147483647"},
        {{"expose", "1", "-o", "a.fits", "--y", "2147483647", "--height", "2"}, "--y: Value 2147483647"},
        {{"expose", "1", "-o", "a.fits", "--x", "-2147483648"}, "--x: Value -2147483648"},
        // A binned origin between two binned pixels could only be recorded rounded.
        {{"expose", "1", "-o", "a.fits", "--bin", "2", "--x", "3"},
         "--x 3: with 2x2 binning the origin (3, 0) must be a multiple of 2"},
        {{"expose", "1", "-o", "a.fits", "--count", "0"}, "--count: Value 0"},
        {{"expose", "1", "-o", "f_%d.fits", "--count", "2147483647"}, "--count: Value 2147483647"},
        {{"expose", "1", "-o", "one.fits", "--count", "3"}, "one.fits"},
        {{"expose", "1", "-o", "f_%s.fits"}, "f_%s.fits"},
        {{"expose", "1", "-o", "f_%9d.fits", "-n", "2"}, "pads with zeros only"},
        {{"expose", "1", "-o", "a.fits", "--type", "grey"}, "grey"},
        {{"expose", "1", "-o", "a.fits", "--set-temp", "200"}, "200 is not within -100.0 to 50.0 C"},
        {{"expose", "1", "-o", "a.fits", "--set-temp", "-100.01"}, "-100.01 is not within"},
        {{"expose", "1", "-o", "a.fits", "--set-temp", "-10", "--cool-wait", "NaN"}, "'NaN' is not a plain"},
        // Longer than a file name can be: refused now, not after the exposure.
        {{"expose", "1", "-o", std::string(256, 'n')}, "the name is too long"},
        {{"expose", "1", "-o", "a.fits", "--frobnicate"}, "--frobnicate"},
        {{"expose", "1"}, "--output"},
        {{"expose", "1", "-o", "-", "-n", "2"}, "standard output takes one frame"},
        {{"expose", "1", "-o", "-", "--preview", "p.png"}, "not written when the FITS goes to stdout"},
        {{"expose", "1", "-o", "a.fits", "--key", "airmass=1.2"}, "'airmass' is not a FITS keyword"},
        {{"expose", "1", "-o", "a.fits", "--key", "EXPTIME=3"}, "EXPTIME is written by the tool"},
        {{"expose", "1", "-o", "a.fits", "--key", "NOVALUE"}, "'NOVALUE' is not KEY=VALUE"},
        // Structure, and values of the wrong type or beyond what a card holds:
        // refused before the exposure, not found out by the write after it.
        {{"expose", "1", "-o", "a.fits", "--key", "NAXIS3=5"}, "NAXIS3 describes the structure"},
        {{"expose", "1", "-o", "a.fits", "--key", "PCOUNT=3"}, "PCOUNT describes the structure"},
        {{"expose", "1", "-o", "a.fits", "--key", "BLANK=1.5"}, "BLANK describes the structure"},
        {{"expose", "1", "-o", "a.fits", "--key", "EQUINOX=abc"}, "EQUINOX takes a number, not 'abc'"},
        {{"expose", "1", "-o", "a.fits", "--key", "DATAMAX=1e999"}, "'1e999' is beyond the numbers"},
        {{"expose", "1", "-o", "a.fits", "--key", "SITE=a", "--key", "SITE=b"}, "SITE is given more than once"},
        {{"expose", "1", "-o", "a.fits", "--object", std::string(35, '\'')}, "each ' is written twice"},
        {{"expose", "1", "-o", "a.fits", "--object", "M\xc3\xa9"}, "printable ASCII"},
        {{"expose", "1", "-o", "a.fits", "--focal-length", "-5"}, "-5 is not more than 0"},
        {{"cool", "-101"}, "-101"},
        {{"cool", "-10", "--wait", "--tolerance", "0"}, "--tolerance: 0 is not more than 0"},
        {{"cool", "-10", "--wait", "--timeout", "inf"}, "'inf' is not a plain decimal"},
        {{"cool", "-10", "--timeout", "5"}, "--wait"},
        {{"cool", "-10", "--off"}, "--off"},
        {{"cool", "--ramp", "1"}, "--off"},
        {{"cool", "--off", "--ramp", "50"}, "50 is not within 0.1 to 20.0 C/min"},
        {{"cool", "--off", "--ramp", "nan"}, "'nan' is not a plain decimal"},
        {{"cool"}, "needs a setpoint in C, or --off"},
        {{"focus"}, "unknown command 'focus'"},
        {{"--simulate", "bogus"}, "unknown command 'bogus'"},
        {{"help", "bogus"}, "unknown command 'bogus'"},
    };
    for (const BadInput& bad : cases) {
        const ProcessResult run = Tool(bad.args, NO_MANAGER_DIR);
        std::string line;
        for (const auto& a : bad.args) line += a + " ";
        EXPECT_EQ(run.exitCode, kUsage) << line << "\n" << run.err;
        EXPECT_NE(run.err.find(bad.named), std::string::npos) << line << "\n" << run.err;
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(ToolTest, WithoutAManagerEveryCommandSaysWhyAndFails) {
    const ProcessResult expose = Tool({"expose", "1", "-o", "a.fits"}, NO_MANAGER_DIR);
    EXPECT_EQ(expose.exitCode, kFailure);
    EXPECT_NE(expose.err.find("Missing wnaspi32"), std::string::npos) << expose.err;
    EXPECT_NE(expose.err.find("--simulate"), std::string::npos) << "no hint what to try: " << expose.err;
    EXPECT_TRUE(dir.Entries().empty());

    const ProcessResult status = Tool({"status"}, NO_MANAGER_DIR);
    EXPECT_EQ(status.exitCode, kFailure);
    EXPECT_NE(status.err.find("Missing wnaspi32"), std::string::npos) << status.err;

    const ProcessResult json = Tool({"status", "--json"}, NO_MANAGER_DIR);
    EXPECT_EQ(json.exitCode, kFailure);
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed.at("connected"), false);
    EXPECT_EQ(parsed.at("error"), "Missing wnaspi32");
}

TEST_F(ToolTest, FullFrameFitsHoldsTheCameraBytesAndTheKeywords) {
    const auto before = std::chrono::system_clock::now();
    const ProcessResult run =
        Tool({"expose", "0.25", "-o", "full.fits", "--set-temp", "-10", "--type", "dark", "--preview", "full.png"});
    const auto after = std::chrono::system_clock::now();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("full.fits"), std::string::npos) << run.out;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"full.fits", "full.png"}));

    const FitsContents fits = ReadFits(At("full.fits"));
    EXPECT_EQ(fits.bitpix, 16);
    EXPECT_EQ(fits.width, kSensorWidth);
    EXPECT_EQ(fits.height, kSensorHeight);
    EXPECT_EQ(fits.Number("BZERO"), 32768.0);
    EXPECT_EQ(fits.Number("BSCALE"), 1.0);
    ExpectPattern(fits, 0, 0, false);

    EXPECT_EQ(fits.Number("EXPTIME"), 0.25);
    EXPECT_EQ(fits.Number("CCD-TEMP"), -10.0);  // the simulator cools at once
    EXPECT_EQ(fits.Number("SET-TEMP"), -10.0);
    EXPECT_EQ(fits.Number("XBINNING"), 1.0);
    EXPECT_EQ(fits.Number("YBINNING"), 1.0);
    EXPECT_EQ(fits.Number("XORGSUBF"), 0.0);
    EXPECT_EQ(fits.Number("YORGSUBF"), 0.0);
    EXPECT_EQ(fits.Number("XPIXSZ"), 9.0);
    EXPECT_EQ(fits.Number("YPIXSZ"), 9.0);
    EXPECT_EQ(fits.Text("INSTRUME"), "Nebrix");
    EXPECT_EQ(fits.Text("IMAGETYP"), "Dark Frame");
    EXPECT_EQ(fits.Text("SWCREATE").value_or("").rfind("tarnscsi ", 0), 0u);

    // DATE-OBS: UTC with milliseconds, between the start and the end of the run.
    const std::string dateObs = fits.Text("DATE-OBS").value_or("");
    ASSERT_TRUE(std::regex_match(dateObs, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})"))) << dateObs;
    std::tm tm{};
    ASSERT_NE(strptime(dateObs.c_str(), "%Y-%m-%dT%H:%M:%S", &tm), nullptr);
    const auto start = std::chrono::system_clock::from_time_t(timegm(&tm)) +
                       std::chrono::milliseconds(std::stoi(dateObs.substr(dateObs.size() - 3)));
    EXPECT_GE(start, std::chrono::time_point_cast<std::chrono::milliseconds>(before));
    EXPECT_LE(start, after);

    ExpectFitsVerifyClean(At("full.fits"));

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, At("full.png").c_str())) << png.message;
    EXPECT_EQ(png.width, static_cast<png_uint_32>(kSensorWidth));
    EXPECT_EQ(png.height, static_cast<png_uint_32>(kSensorHeight));
    png_image_free(&png);
}

TEST_F(ToolTest, BinnedSubframeIsSizedAndLabelledInBinnedPixels) {
    // 201 wide binned: the camera bins whole cells, 200 -> 100 pixels.
    const ProcessResult run = Tool({"expose", "0", "-o", "sub.fits", "--bin", "2", "--x", "100", "--y", "50", "--width",
                                    "201", "--height", "100", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const FitsContents fits = ReadFits(At("sub.fits"));
    EXPECT_EQ(fits.width, 100);
    EXPECT_EQ(fits.height, 50);
    ExpectPattern(fits, 100, 50, true);
    EXPECT_EQ(fits.Number("XBINNING"), 2.0);
    EXPECT_EQ(fits.Number("XORGSUBF"), 50.0);
    EXPECT_EQ(fits.Number("YORGSUBF"), 25.0);
    EXPECT_EQ(fits.Number("XPIXSZ"), 18.0);
    EXPECT_EQ(fits.Number("CCD-TEMP"), 20.0);  // cooler never switched on in this run
    EXPECT_FALSE(fits.Text("SET-TEMP"));       // nobody said
    EXPECT_EQ(fits.Text("IMAGETYP"), "Light Frame");
    ExpectFitsVerifyClean(At("sub.fits"));
}

TEST_F(ToolTest, SequenceNumbersItsFilesAndKeepsTheLatestPreview) {
    const ProcessResult run = Tool({"expose", "0", "-n", "3", "-o", "seq_%03d.fits", "--preview", "latest.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"latest.png", "seq_001.fits", "seq_002.fits", "seq_003.fits"}));
    EXPECT_EQ(ReadFits(At("seq_003.fits")).width, kSensorWidth);
}

TEST_F(ToolTest, ExistingFilesAreKeptUnlessOverwriteIsGiven) {
    { std::ofstream(At("keep.fits")) << "precious"; }
    { std::ofstream(At("keep.png")) << "precious"; }
    const auto contentOf = [this](const char* name) {
        std::ifstream in(At(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    // Refused before anything was done: a usage error, as for any refusal.
    ProcessResult run = Tool({"expose", "0", "-o", "keep.fits"});
    EXPECT_EQ(run.exitCode, kUsage);
    EXPECT_NE(run.err.find("keep.fits already exists"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--overwrite"), std::string::npos) << run.err;
    run = Tool({"expose", "0", "-o", "new.fits", "--preview", "keep.png"});
    EXPECT_EQ(run.exitCode, kUsage);
    EXPECT_NE(run.err.find("keep.png"), std::string::npos) << run.err;
    EXPECT_EQ(contentOf("keep.fits"), "precious");
    EXPECT_EQ(contentOf("keep.png"), "precious");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"keep.fits", "keep.png"}));

    run = Tool({"expose", "0", "-o", "keep.fits", "--overwrite"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFits(At("keep.fits")).width, kSensorWidth);
}

TEST_F(ToolTest, UnusableFoldersAreReportedBeforeTheExposure) {
    { std::ofstream(At("plain")) << "a file, not a folder"; }
    ProcessResult run = Tool({"expose", "0", "-o", "nowhere/a.fits"});
    EXPECT_EQ(run.exitCode, kUsage);
    EXPECT_NE(run.err.find("folder nowhere does not exist"), std::string::npos) << run.err;
    run = Tool({"expose", "0", "-o", "plain/a.fits"});
    EXPECT_EQ(run.exitCode, kUsage);
    EXPECT_NE(run.err.find("plain is not a folder"), std::string::npos) << run.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"plain"});
}

// The longest name a folder takes is written (its temporary name is cut to
// fit); a path whose temporary name cannot fit is refused before the
// exposure, not lost after it.
TEST_F(ToolTest, TheLongestNamesAreWrittenAndLongerOnesRefusedFirst) {
    const std::string longest = std::string(NAME_MAX - 5, 'n') + ".fits";
    ProcessResult run = Tool({"expose", "0", "-o", longest, "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{longest});

    // 16 folders deep: the name fits a path, its temporary name does not.
    std::string deep;
    for (int level = 0; level < 16; ++level) deep += std::string(NAME_MAX - 5, 'd') + "/";
    int folder = open(dir.Path().c_str(), O_DIRECTORY);
    for (std::size_t start = 0; start < deep.size(); start += NAME_MAX - 4) {
        const std::string level = deep.substr(start, NAME_MAX - 5);
        ASSERT_EQ(mkdirat(folder, level.c_str(), S_IRWXU), 0);
        const int next = openat(folder, level.c_str(), O_DIRECTORY);
        close(folder);
        folder = next;
    }
    close(folder);
    deep += std::string(PATH_MAX - 1 - deep.size(), 'f');
    run = Tool({"expose", "0", "-o", deep});
    EXPECT_EQ(run.exitCode, kUsage) << run.err;
    EXPECT_NE(run.err.find("the path is too long"), std::string::npos) << run.err;
}

// A write that fails half way (here: a file-size limit, as a full disk would)
// leaves neither the file nor its temporary behind, and says what failed.
TEST_F(ToolTest, FailedWriteLeavesNoPartialFile) {
    options.fileSizeLimit = 64 * 1024;
    ProcessResult run = Tool({"expose", "0", "-o", "big.fits"});
    EXPECT_EQ(run.exitCode, kFailure);
    EXPECT_NE(run.err.find("cannot write FITS file big.fits"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(ToolTest, CoolWaitsForTheSetpointWithinItsTimeLimit) {
    ProcessResult run = Tool({"cool", "-10", "--wait", "--timeout", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Reached -10.0 C"), std::string::npos) << run.out;

    // The simulated cooler reaches 40 C below its 20 C ambient at most.
    run = Tool({"cool", "-30", "--wait", "--timeout", "1"});
    EXPECT_EQ(run.exitCode, kFailure);
    EXPECT_NE(run.err.find("did not reach -30.0 C"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("sensor -20.0 C"), std::string::npos) << run.err;
}

TEST_F(ToolTest, ExposeCanWaitForTheSetpointFirst) {
    ProcessResult run = Tool({"expose", "0", "-o", "cold.fits", "--set-temp", "-10", "--cool-wait", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("sensor -10.0 C"), std::string::npos) << run.out;

    // Out of the cooler's reach: no exposure is taken and no file written.
    run = Tool({"expose", "0", "-o", "warm.fits", "--set-temp", "-30", "--cool-wait", "1"});
    EXPECT_EQ(run.exitCode, kFailure);
    EXPECT_NE(run.err.find("did not reach -30.0 C"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(At("warm.fits")));

    // Waiting needs a setpoint to wait for.
    run = Tool({"expose", "0", "-o", "x.fits", "--cool-wait", "10"}, NO_MANAGER_DIR);
    EXPECT_EQ(run.exitCode, kUsage);
    EXPECT_NE(run.err.find("--cool-wait"), std::string::npos) << run.err;
}

TEST_F(ToolTest, StatusSaysWhereAndHowColdAsTextOrJson) {
    ProcessResult run = Tool({"status"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("adapter 0, target 2"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("20.0 C"), std::string::npos) << run.out;

    run = Tool({"status", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto status = nlohmann::json::parse(run.out);
    EXPECT_EQ(status.at("connected"), true);
    EXPECT_EQ(status.at("adapter"), 0);
    EXPECT_EQ(status.at("target"), 2);
    EXPECT_EQ(status.at("temperature_c"), 20.0);
    EXPECT_EQ(status.at("cooler_drive_percent"), 0.0);
}

// Every run is a camera just powered on: its first command after INQUIRY is
// answered with UNIT ATTENTION, which the library answers by asking again.
TEST_F(ToolTest, ACameraJustPoweredOnIsAskedAgainNotReportedFailed) {
    const SimulatorSettings settings("unit-attention=1");
    ProcessResult run = Tool({"status"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("20.0 C"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
    run = Tool({"expose", "0", "-o", "fresh.fits", "--x", "8", "--y", "4", "--width", "64", "--height", "32"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectPattern(ReadFits(At("fresh.fits")), 8, 4, false);
}

TEST_F(ToolTest, EverySubcommandHasHelpWithTheExitCodes) {
    const ProcessResult top = Tool({"--help"}, NO_MANAGER_DIR);
    EXPECT_EQ(top.exitCode, 0);
    EXPECT_NE(top.out.find("--trace"), std::string::npos) << top.out;
    EXPECT_NE(top.out.find("TARNSCSI_TRACE"), std::string::npos) << top.out;
    for (const char* command : {"expose", "cool", "status"}) {
        const ProcessResult run = Tool({command, "--help"}, NO_MANAGER_DIR);
        EXPECT_EQ(run.exitCode, 0) << command;
        EXPECT_NE(run.out.find("Exit codes:"), std::string::npos) << command << "\n" << run.out;
    }
}

// Every command failure names the command and what the camera said (here
// the simulator's injected CHECK CONDITION, or what the host adapter said
// of a transfer that ended short), and says what to try.
TEST_F(ToolTest, CameraFailuresNameTheCommandAndWhatTheCameraSaid) {
    struct Failure {
        std::string fault;
        std::vector<std::string> args;
        std::string said;
    };
    const std::vector<Failure> cases = {
        {"fault=set-window:0:1:check",
         {"expose", "0", "-o", "a.fits"},
         "frame 1: the camera refused the exposure (768 x 512 at (0, 0), 0 ms): SET WINDOW: CHECK CONDITION"},
        {"fault=get-window:0:1:check",
         {"expose", "0", "-o", "a.fits"},
         "frame 1: download failed: the camera did not report its window: GET WINDOW: CHECK CONDITION"},
        {"fault=mode-select:0:1:check",
         {"cool", "-5"},
         "the camera did not accept the setpoint -5.0 C: MODE SELECT(6): CHECK CONDITION"},
        {"fault=mode-select:0:1:check",
         {"expose", "0", "-o", "a.fits", "--set-temp", "-5"},
         "the camera did not accept the setpoint -5.0 C: MODE SELECT(6): CHECK CONDITION"},
        {"fault=mode-sense:0:10:check",
         {"cool", "-5", "--wait", "--timeout", "10"},
         "the camera stopped reporting its temperature: MODE SENSE(6): CHECK CONDITION"},
        {"fault=mode-sense:0:1:check",
         {"status"},
         "the camera did not report its temperature: MODE SENSE(6): CHECK CONDITION"},
        // A refused SCAN is not reported as a failed image read.
        {"fault=scan:0:1:check",
         {"expose", "0", "-o", "a.fits"},
         "frame 1: the exposure did not start: SCAN: CHECK CONDITION"},
        // Data that arrive short are no image, window or reading.
        {"fault=read:100:1:short",
         {"expose", "0", "-o", "a.fits"},
         "frame 1: download failed: an image read failed after 204800 of 786432 bytes: READ(10): host adapter: data "
         "overrun or underrun (the transfer ended without moving the 2048 bytes asked for"},
        {"fault=get-window:0:1:short",
         {"expose", "0", "-o", "a.fits"},
         "frame 1: download failed: the camera did not report its window: GET WINDOW: host adapter: data overrun or "
         "underrun (the transfer ended without moving the 78 bytes asked for"},
        {"fault=mode-sense:0:1:short",
         {"status"},
         "the camera did not report its temperature: MODE SENSE(6): host adapter: data overrun or underrun"},
    };
    for (const Failure& failure : cases) {
        const SimulatorSettings settings(failure.fault);
        const ProcessResult run = Tool(failure.args);
        EXPECT_EQ(run.exitCode, kFailure) << failure.fault << "\n" << run.err;
        EXPECT_NE(run.err.find("tarnscsi: error: " + failure.said), std::string::npos) << failure.fault << "\n"
                                                                                       << run.err;
        const bool lostData = failure.fault.ends_with(":short");
        EXPECT_NE(run.err.find(lostData ? "host adapter status 0x12" : "sense ABORTED COMMAND"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(lostData ? "; data were lost on the way: check the SCSI cable" : "; try again"),
                  std::string::npos)
            << "no advice: " << run.err;
        EXPECT_TRUE(dir.Entries().empty()) << failure.fault;
    }
}

TEST_F(ToolTest, TraceShowsEveryCommandOnStandardErrorOrInAFile) {
    unsetenv("TARNSCSI_TRACE");  // the option alone decides here
    ProcessResult run = Tool({"--simulate", "--trace", "status"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("adapter 0, target 2"), std::string::npos) << "the command still ran: " << run.out;
    EXPECT_TRUE(AnyLineStartsWith(run.err, "INQUIRY 0:2 [12 ")) << run.err;
    EXPECT_TRUE(AnyLineStartsWith(run.err, "MODE SENSE(6) 0:2 [1A ")) << run.err;

    run = Tool({"--trace=-", "status"});
    EXPECT_TRUE(AnyLineStartsWith(run.err, "MODE SENSE(6)")) << run.err;

    // Without the option nothing is traced.
    run = Tool({"status"});
    EXPECT_EQ(run.err, "");

    // To a file, appended to: standard error stays clean.
    run = Tool({"--trace=commands.log", "status"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    run = Tool({"--trace=commands.log", "expose", "0", "-o", "a.fits", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ifstream in(At("commands.log"));
    const std::string log(std::istreambuf_iterator<char>(in), {});
    const std::vector<std::string> lines = Lines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("INQUIRY", 0), 0u) << log;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("INQUIRY", 0) == 0; }),
              2)
        << "one connection per run, both runs kept: " << log;
    EXPECT_TRUE(AnyLineStartsWith(log, "SET WINDOW 0:2 [24 ")) << log;
    EXPECT_TRUE(AnyLineStartsWith(log, "READ(10) 0:2 [28 ")) << log;

    // A trace file that cannot be opened is a refusal: nothing is done, and
    // --json says so in its own way.
    run = Tool({"--trace=no/such/folder/x.log", "expose", "0", "-o", "none.fits", "--json"});
    EXPECT_EQ(run.exitCode, kUsage) << run.err;
    EXPECT_NE(run.err.find("--trace: cannot open the trace file no/such/folder/x.log"), std::string::npos) << run.err;
    ASSERT_FALSE(Lines(run.out).empty()) << "no JSON event";
    const auto refusal = nlohmann::json::parse(Lines(run.out).back());
    EXPECT_EQ(refusal.at("event"), "error");
    EXPECT_EQ(refusal.at("kind"), "usage");
    EXPECT_FALSE(fs::exists(At("none.fits")));

    // A trace that cannot be written is said once, and the exit code shows
    // it although the frame was saved; --json ends with a warning event.
    run = Tool({"--trace=/dev/full", "expose", "0", "-o", "full.fits", "--json"});
    EXPECT_EQ(run.exitCode, kTraceLost) << run.err;
    EXPECT_EQ(run.err,
              "tarnscsi: cannot write the command trace to /dev/full: No space left on device; the lines "
              "after this one are lost\n");
    EXPECT_EQ(ReadFits(At("full.fits")).width, kSensorWidth);
    ASSERT_FALSE(Lines(run.out).empty()) << "no JSON event";
    const auto lost = nlohmann::json::parse(Lines(run.out).back());
    EXPECT_EQ(lost.at("event"), "warning");
    EXPECT_EQ(lost.at("kind"), "trace");
    options.environment = {"TARNSCSI_TRACE=no/such/folder/x.log"};
    run = Tool({"status", "--json"});
    EXPECT_EQ(run.exitCode, kTraceLost) << run.err;
    EXPECT_TRUE(AnyLineStartsWith(run.err, "TARNSCSI_TRACE: cannot open the trace file no/such/folder/x.log"))
        << run.err;
    EXPECT_NE(nlohmann::json::parse(run.out).value("trace_error", "").find("cannot open the trace file"),
              std::string::npos)
        << run.out;
}

// Started with standard output or error closed (">&-"), the tool never
// writes what was meant for them into a file it opens later (here the trace
// file; it could be a camera's /dev/sgN). What needs the closed one is
// refused.
TEST_F(ToolTest, ClosedStandardDescriptorsNeverBecomeAnotherFile) {
    options.closedDescriptors = {STDOUT_FILENO};
    const ProcessResult run = Tool({"expose", "0", "-o", "-"});
    EXPECT_EQ(run.exitCode, kUsage) << run.err;
    EXPECT_NE(run.err.find("-o -: standard output is closed"), std::string::npos) << run.err;
    EXPECT_EQ(Tool({"--trace=t.log", "status"}).exitCode, 0);  // the report goes nowhere

    options.closedDescriptors = {STDERR_FILENO};
    EXPECT_EQ(Tool({"--trace", "status"}).exitCode, kUsage);
    { std::ofstream(At("taken.fits")) << "kept"; }
    EXPECT_EQ(Tool({"--trace=t.log", "expose", "0", "-o", "taken.fits"}).exitCode, kUsage);
    // The module would trace into the /dev/null standing in for standard
    // error: the command runs, and says the trace is lost.
    options.environment = {"TARNSCSI_TRACE=1"};
    const ProcessResult untraced = Tool({"status", "--json"});
    EXPECT_EQ(untraced.exitCode, kTraceLost);
    EXPECT_NE(nlohmann::json::parse(untraced.out).value("trace_error", "").find("standard error is closed"),
              std::string::npos)
        << untraced.out;
    options.environment.clear();

    const std::string log = ContentOf("t.log");
    EXPECT_TRUE(AnyLineStartsWith(log, "INQUIRY")) << log;
    EXPECT_EQ(log.find("Camera:"), std::string::npos) << log;
    EXPECT_EQ(log.find("already exists"), std::string::npos) << log;
}

// No output may replace another, however the names are spelt: each clash is
// refused before the first exposure, even with --overwrite, and the file
// already there survives.
TEST_F(ToolTest, OutputsThatAreTheSameFileAreRefusedBeforeTheFirstExposure) {
    fs::create_directory(At("d"));
    struct Clash {
        std::vector<std::string> args;
        std::string named;
    };
    const std::vector<Clash> cases = {
        {{"expose", "0", "-o", "out.fits", "--preview", "./out.fits", "--overwrite"}, "(./out.fits)"},
        {{"expose", "0", "-o", "d/../out.fits", "--preview", "out.fits", "--overwrite"}, "(d/../out.fits)"},
        {{"expose", "0", "-o", "f_%d.fits", "-n", "10", "--preview", "f_%02d.fits", "--overwrite"},
         "the preview of frame 10 (f_10.fits) and the FITS of frame 10"},
        {{"expose", "0", "-o", "a_%d.fits", "-n", "12", "--preview", "a_1%d.fits"},
         "the preview of frame 1 (a_11.fits)"},
    };
    { std::ofstream(At("out.fits")) << "precious"; }
    for (const Clash& clash : cases) {
        const ProcessResult run = Tool(clash.args);
        EXPECT_EQ(run.exitCode, kUsage) << clash.named << "\n" << run.err;
        EXPECT_NE(run.err.find(clash.named), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("are the same file"), std::string::npos) << run.err;
    }
    EXPECT_EQ(ContentOf("out.fits"), "precious");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"d", "out.fits"}));
}

// --overwrite replaces regular files only, and the replacement keeps the
// mode of the file it replaces.
TEST_F(ToolTest, OverwriteReplacesOnlyRegularFilesAndKeepsTheirMode) {
    ASSERT_EQ(mkfifo(At("pipe.fits").c_str(), 0600), 0);
    fs::create_symlink("elsewhere.fits", At("link.fits"));
    for (const char* name : {"pipe.fits", "link.fits"}) {
        const ProcessResult run = Tool({"expose", "0", "-o", name, "--overwrite"});
        EXPECT_EQ(run.exitCode, kUsage) << name << "\n" << run.err;
        EXPECT_NE(run.err.find("is not a regular file"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(At("pipe.fits"))));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(At("link.fits"))));

    { std::ofstream(At("shared.fits")) << "old"; }
    fs::permissions(At("shared.fits"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const ProcessResult run = Tool({"expose", "0", "-o", "shared.fits", "--overwrite", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFits(At("shared.fits")).width, kSensorWidth);
    EXPECT_EQ(fs::status(At("shared.fits")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Temporary files of a run that was killed (its process is gone) are removed
// by the next run in that folder; those of a live process are left alone. A
// file-size limit that raises SIGXFSZ leaves no temporary behind either.
TEST_F(ToolTest, TemporariesOfDeadRunsAreRemovedAndAFileSizeSignalLeavesNone) {
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    const std::string stale = ".x.fits.part-" + std::to_string(dead) + "-0";
    const std::string live = ".x.fits.part-" + std::to_string(getpid()) + "-0";
    { std::ofstream(At(stale)) << "half a frame"; }
    { std::ofstream(At(live)) << "being written"; }
    ProcessResult run = Tool({"expose", "0", "-o", "new.fits", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{live, "new.fits"}));

    fs::remove(At(live));
    fs::remove(At("new.fits"));
    options.fileSizeLimit = 64 * 1024;
    options.fileSizeSignal = true;
    run = Tool({"expose", "0", "-o", "big.fits"});
    EXPECT_EQ(run.exitCode, kFailure) << "signal " << run.signal << "\n" << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_TRUE(dir.Entries().empty());
}

// A camera call that never completes (the simulator finishes requests after
// more than an hour): the first Ctrl-C says what happens, the second ends
// the process at once with the interrupted code.
TEST_F(ToolTest, SecondCtrlCEndsACallThatNeverCompletes) {
    const SimulatorSettings settings("completion=pending:4000000000");
    constexpr int kMaxPolls = 500;
    options.ignoreInterrupts = true;  // until the tool's own handler is in place
    bool noted = false;
    options.whileRunning = [&noted](pid_t pid, const fs::path& err) {
        for (int poll = 0; poll < kMaxPolls && !noted; ++poll) {
            kill(pid, SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::ifstream in(err);
            noted = std::string(std::istreambuf_iterator<char>(in), {}).find("press Ctrl-C again") != std::string::npos;
        }
        kill(pid, SIGINT);
    };
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult run = Tool({"status"});
    EXPECT_TRUE(noted) << run.err;
    EXPECT_EQ(run.exitCode, 130) << "signal " << run.signal << "\n" << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

// A closed terminal (SIGHUP) or Ctrl-\\ (SIGQUIT) during an exposure ends
// the tool as Ctrl-C does: the frame dropped, nothing left behind.
TEST_F(ToolTest, HangUpOrQuitDuringAnExposureEndsLikeCtrlC) {
    const SimulatorSettings settings("time-scale=1");
    constexpr int kMaxPolls = 500;
    options.mergeOutput = true;
    for (const int signal : {SIGHUP, SIGQUIT}) {
        options.whileRunning = [signal](pid_t pid, const fs::path& out) {
            for (int poll = 0; poll < kMaxPolls; ++poll) {
                std::ifstream in(out);
                if (std::string(std::istreambuf_iterator<char>(in), {}).find("\"started\"") != std::string::npos) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            kill(pid, signal);
        };
        const ProcessResult run = Tool({"expose", "3600", "-o", "long.fits", "--json"});
        EXPECT_EQ(run.exitCode, 130) << strsignal(signal) << ": signal " << run.signal << "\n" << run.out;
        EXPECT_NE(run.out.find("the frame in progress was discarded"), std::string::npos) << run.out;
        EXPECT_TRUE(dir.Entries().empty());
    }
}

TEST_F(ToolTest, JsonIsPrintedWithItsSchemaEvenWhenTheManagerCannotBeLoaded) {
    options.environment = {"TARNSCSI_SIMULATOR=/no/such/libwnaspi32.so"};
    for (const char* command : {"status", "scan"}) {
        const ProcessResult run = Tool({command, "--json"});
        EXPECT_EQ(run.exitCode, kFailure) << command;
        const auto parsed = nlohmann::json::parse(run.out);
        EXPECT_EQ(parsed.at("schema"), 1) << run.out;
        EXPECT_NE(parsed.at("error").get<std::string>().find("/no/such/libwnaspi32.so"), std::string::npos);
    }
    options.environment.clear();
    for (const char* command : {"status", "scan"}) {
        const ProcessResult run = Tool({command, "--json"});
        ASSERT_EQ(run.exitCode, 0) << command << run.err;
        const auto parsed = nlohmann::json::parse(run.out);
        EXPECT_EQ(parsed.at("schema"), 1) << run.out;
    }
    const auto scan = nlohmann::json::parse(Tool({"scan", "--json"}).out);
    EXPECT_TRUE(scan.at("nodes").is_array()) << scan;

    // A failed write of the report is a failure.
    options.stdoutPath = "/dev/full";
    const ProcessResult full = Tool({"status", "--json"});
    EXPECT_EQ(full.exitCode, kFailure);
    EXPECT_NE(full.err.find("cannot write to standard output"), std::string::npos) << full.err;
}

// stdout and stderr into one log: each saved frame's line comes before the
// error that ends the sequence later.
TEST_F(ToolTest, NormalLinesReachALogBeforeLaterErrors) {
    const SimulatorSettings settings("fault=set-window:1:1:check");
    options.mergeOutput = true;
    const ProcessResult run = Tool({"expose", "0", "-n", "2", "-o", "s_%d.fits"});
    EXPECT_EQ(run.exitCode, kFailure);
    const auto saved = run.out.find("Saved s_1.fits");
    const auto error = run.out.find("tarnscsi: error:");
    ASSERT_NE(saved, std::string::npos) << run.out;
    ASSERT_NE(error, std::string::npos) << run.out;
    EXPECT_LT(saved, error) << run.out;
}

TEST_F(ToolTest, GlobalOptionsWorkAfterTheCommandAndHelpTakesACommand) {
    ProcessResult run = Tool({"status", "--simulate"}, NO_MANAGER_DIR);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("adapter 0, target 2"), std::string::npos) << run.out;

    run = Tool({"help", "expose"}, NO_MANAGER_DIR);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Usage: tarnscsi expose"), std::string::npos) << run.out;
    // Every range in the help.
    for (const char* range : {"0.000 to 2147483.647 s", "[1 - 2]", "[0 - 767]", "[1 - 100000]", "-100.0 to 50.0 C"}) {
        EXPECT_NE(run.out.find(range), std::string::npos) << range << "\n" << run.out;
    }
    run = Tool({"help"}, NO_MANAGER_DIR);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("tarnscsi help COMMAND"), std::string::npos) << run.out;
}

TEST_F(ToolTest, MetadataGoesIntoTheHeader) {
    const ProcessResult run = Tool({"expose",
                                    "0",
                                    "-o",
                                    "m.fits",
                                    "-q",
                                    "--type",
                                    "flat",
                                    "--object",
                                    "M 31",
                                    "--filter",
                                    "Ha",
                                    "--observer",
                                    "A. Observer",
                                    "--telescope",
                                    "Newton 200",
                                    "--focal-length",
                                    "1000",
                                    "--aperture",
                                    "200",
                                    "--egain",
                                    "1.5",
                                    "--key",
                                    "AIRMASS=1.25",
                                    "--key",
                                    "SITE=Back garden",
                                    "--key",
                                    "EQUINOX=2000",
                                    "--key",
                                    "DATE-BEG=2024-05-01T21:30:00",
                                    "--key",
                                    "NCOMBINE=3",
                                    "--key",
                                    "HISTORY=dark subtracted",
                                    "--key",
                                    "NOTE=" + std::string(34, '\''),
                                    "--bin",
                                    "2",
                                    "--x",
                                    "100",
                                    "--y",
                                    "50",
                                    "--width",
                                    "100",
                                    "--height",
                                    "100"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FitsContents fits = ReadFits(At("m.fits"));
    EXPECT_EQ(fits.Text("IMAGETYP"), "Flat Frame");
    EXPECT_EQ(fits.Text("INSTRUME"), "Nebrix");
    EXPECT_EQ(fits.Text("OBJECT"), "M 31");
    EXPECT_EQ(fits.Text("FILTER"), "Ha");
    EXPECT_EQ(fits.Text("OBSERVER"), "A. Observer");
    EXPECT_EQ(fits.Text("TELESCOP"), "Newton 200");
    EXPECT_EQ(fits.Number("FOCALLEN"), 1000.0);
    EXPECT_EQ(fits.Number("APTDIA"), 200.0);
    EXPECT_EQ(fits.Number("EGAIN"), 1.5);
    EXPECT_EQ(fits.Number("AIRMASS"), 1.25);
    EXPECT_EQ(fits.Text("SITE"), "Back garden");
    EXPECT_EQ(fits.Number("EQUINOX"), 2000.0);
    EXPECT_EQ(fits.Text("DATE-BEG"), "2024-05-01T21:30:00");
    EXPECT_EQ(fits.keywords.at("NCOMBINE"), "3");
    EXPECT_EQ(fits.commentary.at("HISTORY"), "dark subtracted");
    EXPECT_EQ(fits.Text("NOTE"), std::string(34, '\'')) << "68 characters once doubled: all of them kept";
    // The window the camera was sent and reported, in binned pixels exactly.
    EXPECT_EQ(fits.Number("XORGSUBF"), 50.0);
    EXPECT_EQ(fits.Number("YORGSUBF"), 25.0);
    ExpectFitsVerifyClean(At("m.fits"));
}

TEST_F(ToolTest, FitsToStandardOutputFitsInAPipe) {
    options.stdoutPath = (dir.Path() / "piped.fits").string();
    const ProcessResult run = Tool({"expose", "0", "-o", "-"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("Saved -"), std::string::npos) << "the report goes to stderr: " << run.err;
    const FitsContents fits = ReadFits(At("piped.fits"));
    EXPECT_EQ(fits.width, kSensorWidth);
    ExpectPattern(fits, 0, 0, false);
    ExpectFitsVerifyClean(At("piped.fits"));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"piped.fits"});
}

// With the FITS on stdout, the --json events go to stderr: stdout holds
// the file alone.
TEST_F(ToolTest, JsonEventsGoToStandardErrorWhenTheFitsGoesToStandardOutput) {
    options.stdoutPath = (dir.Path() / "piped.fits").string();
    const ProcessResult run = Tool({"expose", "0", "-o", "-", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectFitsVerifyClean(At("piped.fits"));
    std::vector<std::string> events;
    for (const std::string& line : Lines(run.err)) events.push_back(nlohmann::json::parse(line).at("event"));
    EXPECT_EQ(events, (std::vector<std::string>{"started", "saved"})) << run.err;
}

// A reader that closes the pipe early: the write fails, the tool says why
// and exits 1, rather than dying of SIGPIPE.
TEST_F(ToolTest, AClosedPipeIsAFailedWriteWithExitCodeOne) {
    options.stdoutPipeClosed = true;
    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>>{{"expose", "0", "-o", "-"}, {"status"}, {"status", "--json"}}) {
        const ProcessResult run = Tool(command);
        EXPECT_EQ(run.exitCode, kFailure) << command[0] << ": signal " << run.signal << "\n" << run.err;
        EXPECT_NE(run.err.find("the program reading the output stopped before the end"), std::string::npos) << run.err;
    }
}

TEST_F(ToolTest, JsonEventsComeOneObjectPerLine) {
    ProcessResult run = Tool({"expose", "0", "-n", "2", "-o", "j_%d.fits", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> events;
    for (const std::string& line : Lines(run.out)) {
        const auto event = nlohmann::json::parse(line);
        EXPECT_EQ(event.at("schema"), 1) << line;
        if (event.at("event") != "progress") events.push_back(event.at("event"));
        if (event.at("event") == "saved") {
            EXPECT_EQ(event.at("width"), kSensorWidth);
        }
    }
    EXPECT_EQ(events, (std::vector<std::string>{"started", "saved", "started", "saved"}));

    run = Tool({"expose", "0", "-o", "j_1.fits", "--json"});
    EXPECT_EQ(run.exitCode, kUsage);
    const auto error = nlohmann::json::parse(Lines(run.out).back());
    EXPECT_EQ(error.at("event"), "error");
    EXPECT_NE(error.at("message").get<std::string>().find("already exists"), std::string::npos);

    run = Tool({"cool", "-10", "--wait", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto last = nlohmann::json::parse(Lines(run.out).back());
    EXPECT_EQ(last.at("event"), "reached");
    EXPECT_EQ(last.at("temperature_c"), -10.0);
}
