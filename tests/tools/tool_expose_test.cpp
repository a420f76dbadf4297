// The expose command in this process, against the simulated camera's control
// interface: what needs faults or a camera that takes real time.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "cli.h"
#include "errors.h"
#include "exit_codes.h"
#include "expose_command.h"
#include "interrupt.h"
#include "sim/sim_control.h"
#include "support/tool_process.h"

using namespace tarnscsi::tool;
using tool_test::TempFolder;

namespace {

constexpr int kRead10 = 0x28;

class ExposeCommandTest : public ::testing::Test {
protected:
    void SetUp() override { SimReset(); }
    void TearDown() override {
        SimReset();
        ClearInterrupt();
        std::signal(SIGINT, SIG_DFL);
    }
    ExposeRequest Request(double seconds) {
        ExposeOptions options;
        options.seconds = seconds;
        options.output = (dir.Path() / "frame.fits").string();
        options.preview = (dir.Path() / "frame.png").string();
        options.quiet = true;
        return CheckExposeOptions(options);
    }
    TempFolder dir;
};

class Recorder : public ExposeObserver {
public:
    void Waiting(const FrameProgress& progress) override { phases.push_back(progress.phase); }
    void FitsSaved(const SavedFrame&) override { ++saved; }
    std::vector<FramePhase> phases;
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
        EXPECT_NE(std::string(e.what()).find("download of frame 1 failed: an image read failed"), std::string::npos)
            << e.what();
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
