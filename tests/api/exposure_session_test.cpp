// The exposure session every program runs, on the simulated camera with its
// manual clock and the session's time passed in alike: the phases, the
// readout allowance, the busy rule, abort, and the checks before a start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/exposure_session.h>
#include <tarnscsi/frame.h>

#include "sim_control.h"

using namespace tarnscsi;

namespace {

constexpr int kTestUnitReady = 0x00;
constexpr int kScan = 0x1B;
constexpr int kSetWindow = 0x24;
constexpr double kMicrosecondsPerSecond = 1e6;

class ExposureSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimSetManualClock(1);
        ConnectError error = ConnectError::kNone;
        camera = Camera::Open(error);
        ASSERT_TRUE(camera) << ConnectErrorText(error);
        buffer.resize(static_cast<std::size_t>(kSensorWidth) * kSensorHeight * kBytesPerPixel);
    }
    void TearDown() override {
        camera.reset();
        SimReset();
    }
    // Moves the camera's clock and the session's together.
    void Wait(double seconds) {
        SimAdvanceClock(static_cast<std::uint64_t>(std::llround(seconds * kMicrosecondsPerSecond)));
        now += seconds;
    }
    ExposureStatus Poll(ExposureSession& session) { return session.Poll(now, buffer); }

    std::unique_ptr<Camera> camera;
    std::vector<std::uint8_t> buffer;
    double now = 1000.0;  // any steady clock
};

const Frame kSmall{100, 60, 64, 32, kUnbinned};

TEST_F(ExposureSessionTest, ExposesReadsOutAndDownloadsOnce) {
    ExposureSession session(*camera);
    ASSERT_TRUE(session.Start(kSmall, 2.0, now));
    EXPECT_TRUE(session.Active());
    SimLogClear();
    Wait(0.5);
    ExposureStatus status = Poll(session);
    EXPECT_EQ(status.phase, ExposurePhase::kExposing);
    EXPECT_DOUBLE_EQ(status.fraction, 0.25);
    EXPECT_DOUBLE_EQ(status.secondsLeft, 1.5);
    EXPECT_DOUBLE_EQ(status.nextPoll, kExposingPollSeconds);
    EXPECT_EQ(SimLogCount(), 1u) << "the camera, asked once, says it is still exposing";

    Wait(1.5);
    status = Poll(session);
    for (int poll = 0; poll < 1000 && status.phase == ExposurePhase::kReadingOut; ++poll) {
        EXPECT_EQ(status.nextPoll, kReadyPollSeconds);
        Wait(status.nextPoll);
        status = Poll(session);
    }
    ASSERT_EQ(status.phase, ExposurePhase::kDone) << status.message;
    EXPECT_EQ(status.download.bytes, 64u * 32u * kBytesPerPixel);
    EXPECT_EQ(FrameOf(status.download.window), kSmall);
    EXPECT_TRUE(status.warning.empty()) << status.warning;
    EXPECT_FALSE(session.Active());
    EXPECT_EQ(Poll(session).phase, ExposurePhase::kIdle) << "the result is told once";
}

// A camera that stays NOT READY (its clock stands still) is given up once
// the readout allowance is over, and not before; the allowance is kept
// within its limits.
// The camera, not the program's clock, says when the image is ready: a
// camera whose clock runs ahead (the simulated camera on a fast clock) is
// followed before the exposure time is over here.
TEST_F(ExposureSessionTest, ACameraThatEndsSoonerIsFollowed) {
    ExposureSession session(*camera);
    ASSERT_TRUE(session.Start(kSmall, 120.0, now));
    SimAdvanceClock(static_cast<std::uint64_t>(130 * kMicrosecondsPerSecond));
    ExposureStatus status = Poll(session);
    for (int poll = 0; poll < 1000 && status.phase != ExposurePhase::kDone; ++poll) {
        ASSERT_NE(status.phase, ExposurePhase::kFailed) << status.message;
        SimAdvanceClock(static_cast<std::uint64_t>(status.nextPoll * kMicrosecondsPerSecond));
        status = Poll(session);
    }
    ASSERT_EQ(status.phase, ExposurePhase::kDone);
    EXPECT_EQ(FrameOf(status.download.window), kSmall);
}

TEST_F(ExposureSessionTest, TheReadoutAllowanceEndsTheWait) {
    const struct {
        double asked;
        double allowed;
    } kCases[] = {
        {kDefaultReadoutAllowanceSeconds, kDefaultReadoutAllowanceSeconds},
        {5, 5},
        {0.1, kMinReadoutAllowanceSeconds},
        {1e9, kMaxReadoutAllowanceSeconds},
        {std::numeric_limits<double>::quiet_NaN(), kDefaultReadoutAllowanceSeconds},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.asked);
        ExposureSession session(*camera, c.asked);
        EXPECT_EQ(session.ReadoutAllowance(), c.allowed);
        const double start = now;
        ASSERT_TRUE(session.Start(kSmall, 1.0, start));
        // The camera's clock stands still: the session's moves alone.
        EXPECT_EQ(session.Poll(start + 1.0 + c.allowed, buffer).phase, ExposurePhase::kReadingOut);
        const ExposureStatus given = session.Poll(start + 1.0 + c.allowed + 0.5, buffer);
        ASSERT_EQ(given.phase, ExposurePhase::kFailed);
        EXPECT_EQ(given.command.CommandName(), "TEST UNIT READY");
        EXPECT_NE(given.message.find("did not finish the exposure within"), std::string::npos) << given.message;
        EXPECT_NE(given.message.find("NOT READY"), std::string::npos) << given.message;
        EXPECT_FALSE(session.Active());
        // Let the camera finish before the next case.
        Wait(10);
    }
}

// A camera is busy while it answers NOT READY or a status such as BUSY;
// any other failure will not mend by waiting and fails the exposure at once.
TEST(ReadyResultTest, BusyOnlyForNotReadyOrATargetStatus) {
    const auto answered = [](std::uint8_t targetStatus, bool sense, std::uint8_t key, std::uint8_t host = 0) {
        ReadyResult result;
        result.command.cdbLength = 6;
        result.command.sent = true;
        result.command.srbStatus = 0x04;
        result.command.targetStatus = targetStatus;
        result.command.hostStatus = host;
        result.command.sense = {sense, key, 0x04, 0x01};
        return result;
    };
    const struct {
        const char* what;
        ReadyResult result;
        bool busy;
    } kCases[] = {
        {"NOT READY", answered(0x02, true, 0x02), true},
        {"BUSY status", answered(0x08, false, 0), true},
        {"hardware error", answered(0x02, true, 0x04), false},
        {"check condition without sense", answered(0x02, false, 0), false},
        {"selection timeout", answered(0x00, false, 0, 0x11), false},
        {"refused by the manager", answered(0x00, false, 0), false},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.result.Busy(), c.busy) << c.what;
    ReadyResult ready;
    ready.ok = true;
    EXPECT_FALSE(ready.Busy());
}

TEST_F(ExposureSessionTest, AFailureThatWaitingCannotMendEndsTheExposureAtOnce) {
    ExposureSession session(*camera);
    ASSERT_TRUE(session.Start(kSmall, 1.0, now));
    Wait(1.0);
    SimAddFault(kTestUnitReady, 0, 1, SIM_FAULT_CHECK_CONDITION);
    const ExposureStatus failed = Poll(session);
    ASSERT_EQ(failed.phase, ExposurePhase::kFailed);
    EXPECT_NE(failed.message.find("TEST UNIT READY: CHECK CONDITION, sense ABORTED COMMAND"), std::string::npos)
        << failed.message;
    EXPECT_NE(failed.message.find(failed.command.Advice()), std::string::npos) << failed.message;
}

// After a SCAN that did not complete, an image counts only if the camera
// was busy since: one ready at once holds an earlier, undownloaded frame,
// which must not come back as this one. The simulated camera starts
// nothing when SCAN fails; a second exposure sent beside the session plays
// a camera that exposes all the same.
TEST_F(ExposureSessionTest, AFailedScanKeepsAFrameOnlyIfTheCameraWasBusyAfterIt) {
    constexpr std::uint8_t kUntouched = 0xA5;
    ExposureSession session(*camera);
    ASSERT_TRUE(camera->Expose(WindowFor(kSmall, 0)));
    Wait(10);
    SimAddFault(kScan, 0, 1, SIM_FAULT_CHECK_CONDITION);
    ASSERT_TRUE(session.Start(kSmall, 1.0, now));
    std::fill(buffer.begin(), buffer.end(), kUntouched);
    const ExposureStatus failed = Poll(session);
    ASSERT_EQ(failed.phase, ExposurePhase::kFailed) << "the earlier frame was taken for this one";
    EXPECT_EQ(failed.command.CommandName(), "SCAN");
    EXPECT_EQ(failed.message.rfind("the exposure did not start: SCAN: CHECK CONDITION, sense ABORTED COMMAND", 0), 0u)
        << failed.message;
    EXPECT_NE(failed.message.find("none was read; " + failed.command.Advice()), std::string::npos) << failed.message;
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == kUntouched; }));

    SimAddFault(kScan, 0, 1, SIM_FAULT_CHECK_CONDITION);
    ASSERT_TRUE(session.Start(kSmall, 1.0, now));
    ASSERT_TRUE(camera->Expose(session.Window()).scan.Ok());
    ExposureStatus status = Poll(session);
    EXPECT_EQ(status.phase, ExposurePhase::kExposing);
    for (int poll = 0; poll < 1000 && status.phase != ExposurePhase::kDone; ++poll) {
        ASSERT_NE(status.phase, ExposurePhase::kFailed) << status.message;
        Wait(status.nextPoll);
        status = Poll(session);
    }
    EXPECT_EQ(status.warning.rfind("SCAN did not complete (SCAN: CHECK CONDITION", 0), 0u) << status.warning;
}

// Abort: no more waiting and no image; the next exposure is the camera's.
TEST_F(ExposureSessionTest, AbortDropsTheExposureAndTheNextOneWorks) {
    ExposureSession session(*camera);
    ASSERT_TRUE(session.Start(kSmall, 5.0, now));
    Wait(1.0);
    session.Abort(now);
    EXPECT_FALSE(session.Active());
    EXPECT_EQ(Poll(session).phase, ExposurePhase::kIdle);
    Wait(10);
    ASSERT_TRUE(session.Start(kSmall, 0.0, now));
    ExposureStatus status = Poll(session);
    for (int poll = 0; poll < 1000 && status.phase == ExposurePhase::kReadingOut; ++poll) {
        Wait(status.nextPoll);
        status = Poll(session);
    }
    EXPECT_EQ(status.phase, ExposurePhase::kDone) << status.message;
}

// What is refused before anything is sent (the time first, then the frame;
// not even the reading asked for), and the camera's own refusal.
TEST_F(ExposureSessionTest, StartRefusesWhatCannotBeTakenAndSaysWhy) {
    ExposureSession session(*camera);
    SimLogClear();
    const struct {
        Frame frame;
        double seconds;
        StartOutcome outcome;
        const char* says;
    } kInvalid[] = {
        {kSmall, -0.001, StartOutcome::kInvalidTime, "the camera exposes from 0.000 to"},
        {kSmall, std::nan(""), StartOutcome::kInvalidTime, "not nan s"},
        {kSmall, kMaxExposureSeconds + 1, StartOutcome::kInvalidTime, "the camera exposes from"},
        {kSmall, -0.0004, StartOutcome::kInvalidTime, "s, not -0.0004 s"},  // as given, not rounded to "-0.000"
        {Frame{700, 0, 100, 100, kUnbinned}, 1, StartOutcome::kInvalidFrame, "does not lie on the"},
        {Frame{700, 0, 100, 100, kUnbinned}, -1, StartOutcome::kInvalidTime, "the camera exposes from"},
    };
    for (const auto& c : kInvalid) {
        const ExposureStart start = session.Start(c.frame, c.seconds, now, StartReading::kCooling);
        EXPECT_EQ(start.outcome, c.outcome) << c.seconds;
        EXPECT_FALSE(start.cooling);
        EXPECT_NE(start.message.find(c.says), std::string::npos) << start.message;
    }
    EXPECT_EQ(SimLogCount(), 0u);

    ASSERT_TRUE(session.Start(kSmall, 1.0, now));
    SimLogClear();
    const ExposureStart again = session.Start(kSmall, 1.0, now);
    EXPECT_EQ(again.outcome, StartOutcome::kBusy);
    EXPECT_EQ(SimLogCount(), 0u);
    session.Abort(now);

    SimAddFault(kSetWindow, 0, 2, SIM_FAULT_CHECK_CONDITION);
    const ExposureStart refused = session.Start(kSmall, 1.0, now, StartReading::kCooling);
    EXPECT_EQ(refused.outcome, StartOutcome::kRefused);
    ASSERT_TRUE(refused.cooling);
    EXPECT_TRUE(*refused.cooling) << "read before the window was sent";
    EXPECT_EQ(refused.command.CommandName(), "SET WINDOW");
    EXPECT_NE(refused.message.find("the camera refused the exposure"), std::string::npos) << refused.message;
    EXPECT_NE(refused.message.find("abandoned before"), std::string::npos)
        << "the camera may still be busy with the aborted one: " << refused.message;
}

TEST(UtcTimestampTest, IsUtcWithMilliseconds) {
    using namespace std::chrono;
    EXPECT_EQ(UtcTimestamp(system_clock::time_point(milliseconds(0))), "1970-01-01T00:00:00.000");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point(milliseconds(1709251199999))), "2024-02-29T23:59:59.999");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point(milliseconds(-1))), "1969-12-31T23:59:59.999");
}

}  // namespace
