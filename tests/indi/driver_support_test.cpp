// The driver's own glue, without INDI or a camera: INDI's frame mapped onto
// the camera's frame rules, the window and image size that follow, the
// origin the FITS header records, exposure timing, and how the camera's
// answers are worded. The rules themselves are the library's (tests/api).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/result.h>

#include "camera_messages.h"
#include "cooler_control.h"
#include "exposure_clock.h"
#include "exposure_window.h"
#include "log_lines.h"
#include "switch_message.h"

namespace tarnscsi::indi {
namespace {

using namespace std::chrono_literals;

TEST(ExposureWindow, TakesWhatTheFrameRulesTake) {
    EXPECT_EQ(ChipFrameProblem({0, 0, 768, 512, 1, 1}), "");
    EXPECT_EQ(ChipFrameProblem({767, 511, 1, 1, 1, 1}), "");
    EXPECT_EQ(ChipFrameProblem({0, 0, 768, 512, 2, 2}), "");
    EXPECT_NE(ChipFrameProblem({1, 0, 768, 512, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 1, 768, 512, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({-1, 0, 10, 10, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 0, 0, 10, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 0, 1, 10, 2, 2}), "") << "no whole binned pixel";
    EXPECT_NE(ChipFrameProblem({0, 0, 10, 10, 3, 3}), "");
    EXPECT_NE(ChipFrameProblem({std::numeric_limits<int>::max(), 0, 10, 10, 1, 1}), "");
}

// INDI keeps a binning per axis; the library's frame has one. A frame the
// rules would take at the horizontal binning must still be refused when the
// vertical one differs.
TEST(ExposureWindow, RefusesUnequalBinningPerAxis) {
    EXPECT_NE(ChipFrameProblem({0, 0, 100, 100, 2, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 0, 100, 100, 1, 2}), "");
    EXPECT_EQ(FrameOfChip({3, 4, 100, 80, 2, 2}), (Frame{3, 4, 100, 80, kBinned}));
}

TEST(ExposureWindow, TakesTimesTheCameraCanCarry) {
    EXPECT_EQ(ExposureTimeProblem(0), "");
    EXPECT_EQ(ExposureTimeProblem(0.001), "");
    EXPECT_EQ(ExposureTimeProblem(kMaxExposureSeconds), "");
    EXPECT_NE(ExposureTimeProblem(-0.001), "");
    EXPECT_NE(ExposureTimeProblem(kMaxExposureSeconds + 1), "");
    EXPECT_NE(ExposureTimeProblem(std::nan("")), "");
    EXPECT_NE(ExposureTimeProblem(std::numeric_limits<double>::infinity()), "");
}

TEST(ExposureWindow, WindowIsInUnbinnedPixelsAndMillisecondsWithEvenBinnedSides) {
    const ExposureSettings window = ChipWindow({101, 51, 301, 201, 2, 2}, 1.2345);
    EXPECT_EQ(window.originX, 101);
    EXPECT_EQ(window.originY, 51);
    EXPECT_EQ(window.width, 300);
    EXPECT_EQ(window.height, 200);
    EXPECT_NE(window.binned, 0);
    EXPECT_EQ(window.exposureTime, 1235);
    const ExposureSettings unbinned = ChipWindow({0, 0, 767, 511, 1, 1}, 3600);
    EXPECT_EQ(unbinned.width, 767);
    EXPECT_EQ(unbinned.height, 511);
    EXPECT_EQ(unbinned.binned, 0);
    EXPECT_EQ(unbinned.exposureTime, 3600000);
}

// What INDI writes into the FITS file must be what the camera sends, or the
// image would be cut short or padded with stale bytes.
TEST(ExposureWindow, ExpectedImageIsWhatTheCameraSends) {
    const ChipFrame frames[] = {
        {0, 0, 768, 512, 1, 1}, {0, 0, 768, 512, 2, 2}, {1, 1, 301, 201, 2, 2}, {5, 7, 3, 3, 2, 2}, {0, 0, 1, 1, 1, 1},
    };
    for (const ChipFrame& frame : frames) {
        EXPECT_EQ(ExpectedImageBytes(frame), ImageBytes(ChipWindow(frame, 1)))
            << frame.width << " x " << frame.height << " bin " << frame.binX;
    }
    EXPECT_EQ(ExpectedImageBytes({1, 1, 301, 201, 2, 2}), 150u * 100u * 2u);
}

TEST(ExposureWindow, HeaderOriginIsTheSentOriginInBinnedPixels) {
    EXPECT_EQ(HeaderOrigin(ChipWindow({101, 51, 300, 200, 2, 2}, 1)), (BinnedPoint{50, 25}));
    EXPECT_EQ(HeaderOrigin(ChipWindow({101, 51, 300, 200, 1, 1}, 1)), (BinnedPoint{101, 51}));
    EXPECT_EQ(HeaderOrigin(ChipWindow({0, 0, 768, 512, 2, 2}, 1)), (BinnedPoint{0, 0}));
}

TEST(ExposureClockTest, CountsDownThenAllowsForTheReadout) {
    const auto start = ExposureClock::Clock::now();
    ExposureClock clock;
    clock.Start(2.0, start);
    EXPECT_DOUBLE_EQ(clock.SecondsLeft(start + 500ms), 1.5);
    EXPECT_FALSE(clock.Due(start + 1999ms));
    EXPECT_EQ(clock.UntilDue(start + 1500ms), ExposureClock::Clock::duration(500ms));
    EXPECT_TRUE(clock.Due(start + 2s));
    EXPECT_EQ(clock.SecondsLeft(start + 3s), 0.0);
    EXPECT_EQ(clock.UntilDue(start + 3s), ExposureClock::Clock::duration::zero());
}

// The readout allowance is the driver's setting, kept within its limits; a
// non-number falls back to the default.
TEST(ExposureClockTest, OverdueAfterTheReadoutAllowance) {
    using Seconds = std::chrono::duration<double>;
    const struct {
        double asked;
        double allowed;
    } kCases[] = {
        {kDefaultReadoutAllowanceSeconds, kDefaultReadoutAllowanceSeconds},
        {120, 120},
        {0.1, kMinReadoutAllowanceSeconds},
        {1e9, kMaxReadoutAllowanceSeconds},
        {std::numeric_limits<double>::quiet_NaN(), kDefaultReadoutAllowanceSeconds},
    };
    const auto start = ExposureClock::Clock::now();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.asked);
        ExposureClock clock;
        clock.Start(2.0, start, c.asked);
        const auto due = start + 2s + std::chrono::duration_cast<ExposureClock::Clock::duration>(Seconds(c.allowed));
        EXPECT_FALSE(clock.Overdue(due - 1ms));
        EXPECT_TRUE(clock.Overdue(due));
    }
}

// The cooler as the driver runs it, over readings a camera could give.
TEST(CoolerControlTest, WarmUpRisesFromTheSensorAndEndsIdle) {
    CoolerControl cooler;
    cooler.Connected({200, 0});
    EXPECT_FALSE(cooler.On());
    cooler.SetpointWritten(-100);
    EXPECT_TRUE(cooler.On());
    EXPECT_EQ(cooler.ActiveSetpoint(), -100);

    // 6 C per minute from -10.0 C: a degree every 10 s.
    cooler.StartWarmUp({-100, 128}, 6.0, 1000);
    EXPECT_FALSE(cooler.On());
    EXPECT_TRUE(cooler.WarmingUp());
    EXPECT_FALSE(cooler.ActiveSetpoint());
    std::int32_t previous = -100;
    for (int step = 1; step <= 20; ++step) {
        const CoolerStep next = cooler.Poll({previous, 100}, 1000 + 10.0 * step);
        ASSERT_TRUE(next.write);
        EXPECT_EQ(*next.write, -100 + 10 * step);
        EXPECT_EQ(next.event, CoolerEvent::kNone);
        previous = *next.write;
    }
    // The sensor sits at ambient (+9.0 C), the cooler has no work left.
    const CoolerStep done = cooler.Poll({90, 0}, 1000 + 220.0);
    EXPECT_EQ(done.write, kIdleSetpoint);
    EXPECT_EQ(done.event, CoolerEvent::kWarmedUp);
    EXPECT_FALSE(cooler.WarmingUp());
    // Idle afterwards: nothing more to write.
    EXPECT_FALSE(cooler.Poll({90, 0}, 1300).write);
}

// A cooler idle at ambient has nothing to warm: the warm-up holds the
// sensor where it is once, sees the cooler stay idle, and ends.
TEST(CoolerControlTest, AWarmUpOfACoolerIdleAtAmbientEndsAtTheNextReading) {
    CoolerControl cooler;
    cooler.Connected({200, 0});
    cooler.StartWarmUp({200, 0}, kDefaultWarmUpRate, 0);
    const CoolerStep first = cooler.Poll({200, 0}, 1);
    EXPECT_EQ(first.write, 200);
    EXPECT_EQ(first.event, CoolerEvent::kNone);
    const CoolerStep second = cooler.Poll({200, 0}, 2);
    EXPECT_EQ(second.write, kIdleSetpoint);
    EXPECT_EQ(second.event, CoolerEvent::kWasIdle);
    EXPECT_FALSE(cooler.WarmingUp());
}

TEST(CoolerControlTest, ANewSetpointEndsTheWarmUp) {
    CoolerControl cooler;
    cooler.Connected({-100, 128});
    EXPECT_TRUE(cooler.On());
    cooler.StartWarmUp({-100, 128}, kDefaultWarmUpRate, 0);
    cooler.SetpointWritten(-150);
    EXPECT_FALSE(cooler.WarmingUp());
    EXPECT_FALSE(cooler.Poll({-100, 255}, 10).write);
}

TEST(CoolerControlTest, OutOfReachIsToldOnceWithTheBestTemperature) {
    CoolerControl cooler;
    cooler.Connected({200, 0});
    cooler.SetpointWritten(-300);
    const CoolingReading stalled{-195, kFullCoolerDrive};
    int told = 0;
    for (int poll = 0; poll < 20; ++poll) {
        if (cooler.Poll(stalled, poll * 30.0).event == CoolerEvent::kOutOfReach) ++told;
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(cooler.Coldest(), -195);
    // Falling steadily at full drive is still on the way.
    cooler.SetpointWritten(-300);
    for (int poll = 0; poll < 20; ++poll) {
        EXPECT_EQ(cooler.Poll({-100 - 10 * poll, kFullCoolerDrive}, poll * 30.0).event, CoolerEvent::kNone);
    }
}

// The one check of every switch message: names, and the switch's rule once
// the message is applied (a one-of-many switch: the message turns exactly
// one element on; at most one: elements not named keep their state).
TEST(SwitchMessage, NamesMembersOnceAndKeepsTheRule) {
    const std::vector<SwitchElement> offOn = {{"A", false}, {"B", true}};
    struct Case {
        ISRule rule;
        std::vector<std::pair<std::string, ISState>> message;
        std::string problem;  // "" when accepted
    };
    const std::vector<Case> cases = {
        {ISR_1OFMANY, {{"A", ISS_ON}}, ""},
        {ISR_1OFMANY, {{"A", ISS_ON}, {"B", ISS_OFF}}, ""},
        {ISR_1OFMANY, {{"C", ISS_ON}}, "'C' is not one of its elements"},
        {ISR_1OFMANY, {{"A", ISS_ON}, {"B", ISS_ON}}, "only one element may be On"},
        {ISR_1OFMANY, {{"B", ISS_OFF}}, "one element must be On, and none is"},
        {ISR_1OFMANY, {{"A", ISS_ON}, {"A", ISS_OFF}}, "'A' is named twice"},
        {ISR_1OFMANY, {}, "the message names no element"},
        {ISR_ATMOST1, {{"B", ISS_OFF}}, ""},
        {ISR_ATMOST1, {{"A", ISS_ON}}, "only one element may be On"},
        {ISR_ATMOST1, {{"A", ISS_ON}, {"B", ISS_OFF}}, ""},
        {ISR_NOFMANY, {{"A", ISS_ON}}, ""},
        {ISR_NOFMANY, {{"Z", ISS_ON}}, "'Z' is not one of its elements"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        std::vector<ISState> states;
        for (const auto& [name, state] : c.message) {
            names.push_back(name);
            states.push_back(state);
        }
        std::vector<char*> pointers;
        for (std::string& name : names) pointers.push_back(name.data());
        EXPECT_EQ(SwitchMessageProblem(offOn, c.rule, states.data(), pointers.data(), static_cast<int>(names.size())),
                  c.problem)
            << c.rule << " " << (names.empty() ? std::string() : names.front());
    }
}

// Commands as the camera ends them, for the wording of the driver's log.// Commands as the camera ends them, for the
// wording of the driver's log.
constexpr std::uint8_t kScanOpcode = 0x1B;
constexpr std::uint8_t kModeSenseOpcode = 0x1A;
constexpr std::uint8_t kReadOpcode = 0x28;
constexpr std::uint8_t kRequestCompleted = 0x01;
constexpr std::uint8_t kRequestError = 0x04;
constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint8_t kNotReady = 0x02;
constexpr std::uint8_t kIllegalRequest = 0x05;

CommandResult Completed(std::uint8_t opcode) {
    CommandResult result;
    result.cdb[0] = opcode;
    result.cdbLength = 6;
    result.sent = true;
    result.srbStatus = kRequestCompleted;
    return result;
}

CommandResult CheckCondition(std::uint8_t opcode, std::uint8_t key) {
    CommandResult result = Completed(opcode);
    result.srbStatus = kRequestError;
    result.targetStatus = kCheckCondition;
    result.sense = {true, key, 0, 0};
    return result;
}

TEST(CameraMessages, NameTheCommandTheSenseAndTheAdvice) {
    const CommandResult failed = CheckCondition(kModeSenseOpcode, kNotReady);
    const std::string text = Explained(failed);
    EXPECT_NE(text.find("MODE SENSE(6)"), std::string::npos) << text;
    EXPECT_NE(text.find("NOT READY"), std::string::npos) << text;
    EXPECT_NE(text.find(failed.Advice()), std::string::npos) << text;
    EXPECT_FALSE(failed.Advice().empty());

    const std::string connect = ConnectFailure(ConnectError::kMissingManager);
    EXPECT_EQ(connect.rfind("Missing wnaspi32; ", 0), 0u) << connect;
    EXPECT_NE(connect.find(ConnectAdvice(ConnectError::kMissingManager)), std::string::npos) << connect;

    // Who holds the camera, between the message and the advice.
    const std::string inUse = ConnectFailure(ConnectError::kCameraInUse, "in use by tarnscsi, PID 4242");
    EXPECT_EQ(inUse, std::string("Camera in use (in use by tarnscsi, PID 4242); ") +
                         ConnectAdvice(ConnectError::kCameraInUse));
}

TEST(CameraMessages, ImageFailureNamesScanOnlyWhenItFailed) {
    EXPECT_EQ(ImageFailure("no image", Completed(kScanOpcode)), "no image");
    const std::string text = ImageFailure("no image", CheckCondition(kScanOpcode, kIllegalRequest));
    EXPECT_EQ(text.rfind("no image", 0), 0u) << text;
    EXPECT_NE(text.find("did not start"), std::string::npos) << text;
    EXPECT_NE(text.find("SCAN"), std::string::npos) << text;
    EXPECT_NE(text.find("ILLEGAL REQUEST"), std::string::npos) << text;
}

TEST(CameraMessages, DownloadFailureAdvisesOnlyForAFailedCommand) {
    DownloadResult read;
    read.status = DownloadStatus::kReadFailed;
    read.command = CheckCondition(kReadOpcode, kNotReady);
    read.message = "an image read failed";
    const std::string readText = DownloadFailure(read, Completed(kScanOpcode));
    EXPECT_EQ(readText, "download failed: an image read failed; " + read.command.Advice());

    // No command failed: a default command's advice ("reconnect") would mislead.
    DownloadResult tooLarge;
    tooLarge.status = DownloadStatus::kBufferTooSmall;
    tooLarge.message = "the window is too large";
    EXPECT_EQ(DownloadFailure(tooLarge, Completed(kScanOpcode)), "download failed: the window is too large");
}

// Joins lines as a reader would: a continued line follows the one before
// after a space.
std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (text.empty()) {
            text = line;
        } else {
            EXPECT_EQ(line.rfind(kContinuation, 0), 0u) << line;
            text += ' ';
            text += line.substr(std::char_traits<char>::length(kContinuation));
        }
    }
    return text;
}

TEST(LogLinesTest, ShortTextIsOneLine) {
    EXPECT_EQ(LogLines("Cooling to 19.0 C."), std::vector<std::string>{"Cooling to 19.0 C."});
    EXPECT_EQ(LogLines(""), std::vector<std::string>{""});
    const std::string exact(kLogLineLimit, 'x');
    EXPECT_EQ(LogLines(exact), std::vector<std::string>{exact});
}

// What the camera said, worded in full, is longer than INDI's message: each
// line must fit, the breaks fall at the pauses, and nothing is lost.
TEST(LogLinesTest, LongTextBreaksAtPausesAndLosesNothing) {
    CommandResult scan = CheckCondition(kScanOpcode, kIllegalRequest);
    DownloadResult read;
    read.status = DownloadStatus::kReadFailed;
    read.command = CheckCondition(kReadOpcode, kNotReady);
    read.message = "an image read failed after 0 of 786432 bytes: " + read.command.Describe();
    const std::string text = "Exposure failed: " + DownloadFailure(read, scan) + ".";
    ASSERT_GT(text.size(), kLogLineLimit);

    const auto lines = LogLines(text);
    ASSERT_GT(lines.size(), 1u);
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), kLogLineLimit) << line;
        EXPECT_NE(line.back(), ' ') << line;
    }
    EXPECT_EQ(lines.front().back(), ';') << "breaks after \"; \" first: " << lines.front();
    EXPECT_EQ(Joined(lines), text);
}

TEST(LogLinesTest, TextWithoutPausesIsCutAnywhere) {
    const std::string text(25, 'x');
    const auto lines = LogLines(text, 10);
    ASSERT_EQ(lines.size(), 4u);  // 10, then 6 beside each mark: 6, 6, 3
    std::string rejoined;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 10u);
        rejoined += line.substr(&line == &lines.front() ? 0 : std::char_traits<char>::length(kContinuation));
    }
    EXPECT_EQ(rejoined, text);
    // A limit with no room beside the continuation mark still ends.
    EXPECT_FALSE(LogLines(text, 0).empty());
}

}  // namespace
}  // namespace tarnscsi::indi
