// The expose command in this process, against the simulated camera's control
// interface: what needs faults or a camera that takes real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "window_layout.h"
#include "camera/window_list.h"
#include "cli.h"
#include "cool_command.h"
#include "errors.h"
#include "exit_codes.h"
#include "expose_command.h"
#include "interrupt.h"
#include "number_format.h"
#include "sim/sim_control.h"
#include "support/fits_reader.h"
#include "support/tool_process.h"

using namespace tarnscsi::tool;
using tarnscsi::tool_test::TempFolder;

namespace {

constexpr int kScan = 0x1B;
constexpr int kGetWindow = 0x25;
constexpr int kRead10 = 0x28;

class ExposeCommandTest : public ::testing::Test {
protected:
    void SetUp() override { SimReset(); }
    void TearDown() override {
        SimReset();
        ClearInterrupt();
        std::signal(SIGINT, SIG_DFL);
    }
    ExposeRequest Request(double seconds, ExposeOptions options = {}) {
        options.seconds = seconds;
        options.output = (dir.Path() / "frame.fits").string();
        options.preview = (dir.Path() / "frame.png").string();
        options.quiet = true;
        return CheckExposeOptions(options);
    }
    // A small subframe: its whole image comes in one READ(10).
    ExposeRequest SmallRequest() {
        ExposeOptions options;
        options.x = 100;
        options.y = 60;
        options.width = 8;
        options.height = 8;
        return Request(0, options);
    }
    TempFolder dir;
};

class Recorder : public ExposeObserver {
public:
    void Waiting(const FrameProgress& progress) override { phases.push_back(progress.phase); }
    void FitsSaved(const SavedFrame&) override { ++saved; }
    void Warning(const std::string& message) override { warnings.push_back(message); }
    std::vector<FramePhase> phases;
    std::vector<std::string> warnings;
    int saved = 0;
};

}  // namespace

// Ctrl-C while the camera exposes, through the whole command line: the wait
// stops long before the minute is over, the frame is dropped, and the exit
// code says "interrupted".
TEST_F(ExposeCommandTest, CtrlCDuringAnExposureEndsWithoutAFile) {
    SimSetTimeScale(1.0);
    const std::string output = (dir.Path() / "long.fits").string();
    std::vector<std::string> args = {"tarnscsi", "expose", "60", "-o", output, "-q"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::thread ctrlC([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(getpid(), SIGINT);
    });
    const int exitCode = tarnscsi::tool::Run(static_cast<int>(argv.size()), argv.data());
    ctrlC.join();
    EXPECT_EQ(exitCode, kExitInterrupted);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(ExposeCommandTest, FailedDownloadSaysSoAndWritesNothing) {
    SimAddFault(kRead10, 10, 1, SIM_FAULT_CHECK_CONDITION);
    Recorder recorder;
    try {
        RunExpose(Request(0), recorder);
        FAIL() << "a failed read must fail the command";
    } catch (const ToolError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("frame 1: download failed: an image read failed"), std::string::npos) << message;
        EXPECT_NE(message.find("READ(10): CHECK CONDITION"), std::string::npos) << "no command named: " << message;
    }
    EXPECT_EQ(recorder.saved, 0);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(ExposeCommandTest, WaitsForTheCameraWhileItExposes) {
    SimSetTimeScale(1.0);
    Recorder recorder;
    RunExpose(Request(0.5), recorder);
    ASSERT_FALSE(recorder.phases.empty());
    EXPECT_EQ(recorder.phases.front(), FramePhase::kExposing);
    EXPECT_EQ(recorder.saved, 1);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"frame.fits", "frame.png"}));
}

// The simulated camera refuses SCAN and starts nothing: the frame fails with
// SCAN's own answer, not as a failed image read, and nothing is written.
TEST_F(ExposeCommandTest, RefusedScanFailsTheFrameWithTheScansAnswer) {
    SimAddFault(kScan, 0, 1, SIM_FAULT_CHECK_CONDITION);
    Recorder recorder;
    try {
        RunExpose(Request(0), recorder);
        FAIL() << "an exposure that never started must fail the command";
    } catch (const ToolError& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("frame 1: the exposure did not start: SCAN: CHECK CONDITION, sense ABORTED COMMAND", 0),
                  0u)
            << message;
    }
    EXPECT_EQ(recorder.saved, 0);
    EXPECT_TRUE(dir.Entries().empty());
}

// A camera may end SCAN with other than good status while its exposure
// starts, but one that is ready at once without having been busy holds an
// earlier image, if any: here a READ scripted to deliver bytes stands for
// one. The frame fails and nothing is written.
TEST_F(ExposeCommandTest, ScanThatFailedWithTheCameraNeverBusyKeepsNoFrame) {
    SimAddFault(kScan, 0, 1, SIM_FAULT_CHECK_CONDITION);
    std::vector<std::uint8_t> image(8 * 8 * 2, 0x5A);
    SimScriptReply(kRead10, image.data(), static_cast<std::uint32_t>(image.size()), 1);
    Recorder recorder;
    try {
        RunExpose(SmallRequest(), recorder);
        FAIL() << "a frame the camera never started was saved";
    } catch (const ToolError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("frame 1: the exposure did not start: SCAN: CHECK CONDITION", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(recorder.saved, 0);
    EXPECT_TRUE(dir.Entries().empty());
}

// The image and its header follow the window the camera reports: the
// origin recorded is the reported one, not the one sent.
TEST_F(ExposeCommandTest, FitsOriginIsTheWindowTheCameraReported) {
    const ExposeRequest request = SmallRequest();
    tarnscsi::ExposureSettings reported = request.window;
    reported.originX = 0;
    reported.originY = 0;
    std::vector<std::uint8_t> list(tarnscsi::camera::window::kLength);
    tarnscsi::camera::EncodeWindow(reported, list.data());
    SimScriptReply(kGetWindow, list.data(), static_cast<std::uint32_t>(list.size()), 1);
    Recorder recorder;
    RunExpose(request, recorder);
    ASSERT_EQ(recorder.warnings.size(), 1u);
    EXPECT_NE(recorder.warnings[0].find("the camera reports 8 x 8 at (0, 0)"), std::string::npos)
        << recorder.warnings[0];
    const auto fits = tarnscsi::imaging_test::ReadFits(dir.Path() / "frame.fits");
    EXPECT_EQ(fits.Number("XORGSUBF"), 0.0);
    EXPECT_EQ(fits.Number("YORGSUBF"), 0.0);
}

namespace {

constexpr int kModeSelect = 0x15;
constexpr std::size_t kSetpointOffset = 132;  // in the cooling page the module sends
constexpr std::int32_t kIdleSetpoint = 500;

// Waits that move the simulated camera's manual clock instead of sleeping.
class SimulatedWaitClock : public WaitClock {
public:
    std::chrono::steady_clock::duration Elapsed() const override { return elapsed; }
    void Sleep(std::chrono::steady_clock::duration duration) override {
        elapsed += duration;
        SimAdvanceClock(
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(duration).count()));
    }

private:
    std::chrono::steady_clock::duration elapsed{};
};

// The setpoints sent since the log was cleared, in tenths of a degree.
std::vector<std::int32_t> SetpointsSent() {
    std::vector<std::int32_t> setpoints;
    for (std::uint32_t i = 0; i < SimLogCount(); ++i) {
        SimRequest request{};
        if (SimLogGet(i, &request) != 0 || request.cdbLength == 0 || request.cdb[0] != kModeSelect) continue;
        setpoints.push_back(
            static_cast<std::int16_t>((request.dataOut[kSetpointOffset] << 8) | request.dataOut[kSetpointOffset + 1]));
    }
    return setpoints;
}

CoolRequest CoolerOff(double ramp) {
    CoolOptions off;
    off.off = true;
    off.ramp = ramp;  // C per minute
    off.quiet = true;
    return CheckCoolOptions(off);
}

CoolRequest Cooling(double celsius, bool wait) {
    CoolOptions options;
    options.celsius = celsius;
    options.wait = wait;
    options.timeout = 3600;
    options.quiet = true;
    return CheckCoolOptions(options);
}

}  // namespace

// The simulated cooler holds at most 40 C below its 20 C surroundings
// (-20.0 C). From ambient, a setpoint out of reach is told as soon as the
// approach foretells the limit, naming it, long before the temperature
// stops falling (that took 150 simulated seconds); a setpoint 1 C above the
// limit is reached, never called out of reach.
// The simulated camera keeps its cooler between processes: brought to
// ambient with the cooler idle before and after.
void WarmUpFully() {
    SimulatedWaitClock warming;
    RunCool(CoolerOff(tarnscsi::kMaxWarmUpRate), warming);
    // The last degree, with the cooler idle; the camera held open, since its
    // cooler stands still between connections on the manual clock.
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    const auto held = tarnscsi::Camera::Open(error);
    warming.Sleep(std::chrono::minutes(1));
    ASSERT_TRUE(held);
    const tarnscsi::CoolingResult read = held->ReadCooling();
    ASSERT_TRUE(read);
    EXPECT_EQ(read.reading.temperature, 200);
    EXPECT_EQ(read.reading.coolerDrive, 0);
}

double SimulatedSecondsOfCoolWait(double celsius, bool expectReached) {
    SimSetManualClock(1);
    WarmUpFully();
    SimulatedWaitClock clock;
    try {
        RunCool(Cooling(celsius, true), clock);
        EXPECT_TRUE(expectReached) << "an unreachable setpoint must fail the wait";
    } catch (const ToolError& e) {
        EXPECT_FALSE(expectReached) << e.what();
        const std::string message = e.what();
        // The limit named is the cooler's, -20.0 C, to a few tenths.
        const std::string said =
            "the cooler cannot reach " + Fixed(celsius, 1) + " C: at full drive the sensor levels off at about ";
        const auto at = message.find(said);
        EXPECT_NE(at, std::string::npos) << message;
        if (at != std::string::npos) {
            EXPECT_NEAR(std::stod(message.substr(at + said.size())), -20.0, 0.3) << message;
        }
    }
    const double seconds = std::chrono::duration<double>(clock.Elapsed()).count();
    std::printf("cool %.1f --wait: %s after %.1f simulated s\n", celsius, expectReached ? "reached" : "out of reach",
                seconds);
    WarmUpFully();
    return seconds;
}

TEST_F(ExposeCommandTest, CoolWaitTellsAFarSetpointOutOfReachWithinMinutes) {
    const double seconds = SimulatedSecondsOfCoolWait(-45, false);
    EXPECT_LE(seconds, 10 * 60.0);
    // Full drive from -10 C on, 30 s after the start: the limit shows soon after.
    EXPECT_LE(seconds, 90.0);
}

TEST_F(ExposeCommandTest, CoolWaitTellsASetpointJustBeyondTheLimitOutOfReach) {
    EXPECT_LE(SimulatedSecondsOfCoolWait(-21.5, false), 120.0);
}

TEST_F(ExposeCommandTest, CoolWaitReachesASetpointOneDegreeAboveTheLimit) {
    EXPECT_LE(SimulatedSecondsOfCoolWait(-19, true), 120.0);
}

// --off raises the setpoint at the ramp rate from the sensor's temperature,
// never lowering it, until the cooler idles; then the idle setpoint.
TEST_F(ExposeCommandTest, CoolOffWarmsUpGentlyThenLeavesTheCoolerIdle) {
    SimSetManualClock(1);
    SimulatedWaitClock clock;
    RunCool(Cooling(-20, true), clock);
    SimLogClear();
    const auto started = clock.Elapsed();
    RunCool(CoolerOff(10.0), clock);
    const double minutes = std::chrono::duration<double>(clock.Elapsed() - started).count() / 60;

    const std::vector<std::int32_t> setpoints = SetpointsSent();
    ASSERT_GE(setpoints.size(), 3u);
    EXPECT_LE(setpoints.front(), -195);  // from the cold sensor
    EXPECT_EQ(setpoints.back(), kIdleSetpoint);
    EXPECT_TRUE(std::is_sorted(setpoints.begin(), setpoints.end()));
    // 40 C at 10 C per minute: about four minutes, never a jump to warm.
    EXPECT_GE(minutes, 3.5);
    for (std::size_t i = 1; i + 1 < setpoints.size(); ++i) {
        EXPECT_LE(setpoints[i] - setpoints[i - 1], 2) << "step " << i;  // 1 s at 10 C/min is 1.7 tenths
    }
}

// The cooler idle at ambient (as the simulated camera starts): nothing to
// warm. One setpoint at the sensor's temperature shows the cooler stays
// idle, then the idle setpoint; no ramp, however slow the rate.
TEST_F(ExposeCommandTest, CoolOffWithTheCoolerIdleAtAmbientFinishesAtOnce) {
    SimSetManualClock(1);
    SimulatedWaitClock clock;
    SimLogClear();
    RunCool(CoolerOff(0.1), clock);
    EXPECT_EQ(SetpointsSent(), (std::vector<std::int32_t>{200, kIdleSetpoint}));
    EXPECT_LE(clock.Elapsed(), std::chrono::seconds(2));
}
