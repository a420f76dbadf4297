// The driver's own arithmetic: which frames the camera takes, the window and
// image size it gets, pixel byte order, exposure timing and cooling units.
#include <gtest/gtest.h>

#include <cstring>

#include "api/camera.h"
#include "cooling_units.h"
#include "exposure_clock.h"
#include "exposure_window.h"
#include "pixel_order.h"

namespace tarnscsi::indi {
namespace {

using namespace std::chrono_literals;

TEST(ExposureWindow, TakesFramesOnTheSensorOnly) {
    EXPECT_EQ(FrameProblem({0, 0, 768, 512, 1, 1}), "");
    EXPECT_EQ(FrameProblem({767, 511, 1, 1, 1, 1}), "");
    EXPECT_NE(FrameProblem({1, 0, 768, 512, 1, 1}), "");
    EXPECT_NE(FrameProblem({0, 1, 768, 512, 1, 1}), "");
    EXPECT_NE(FrameProblem({-1, 0, 10, 10, 1, 1}), "");
    EXPECT_NE(FrameProblem({0, 0, 0, 10, 1, 1}), "");
    EXPECT_NE(FrameProblem({0, 0, 1, 10, 2, 2}), "") << "no whole binned pixel";
    EXPECT_NE(FrameProblem({0, 0, 10, 10, 3, 3}), "");
}

TEST(ExposureWindow, BinsTwoByTwoOrNotAtAll) {
    EXPECT_EQ(BinningProblem(1, 1), "");
    EXPECT_EQ(BinningProblem(2, 2), "");
    EXPECT_NE(BinningProblem(1, 2), "");
    EXPECT_NE(BinningProblem(2, 1), "");
    EXPECT_NE(BinningProblem(4, 4), "");
}

TEST(ExposureWindow, WindowCarriesTheFrameInUnbinnedPixelsAndMilliseconds) {
    const ExposureSettings window = WindowFor({100, 50, 301, 201, 2, 2}, 1.2345);
    EXPECT_EQ(window.originX, 100);
    EXPECT_EQ(window.originY, 50);
    EXPECT_EQ(window.width, 301);
    EXPECT_EQ(window.height, 201);
    EXPECT_EQ(window.binned, 1);
    EXPECT_EQ(window.exposureTime, 1235);
    EXPECT_EQ(WindowFor({0, 0, 768, 512, 1, 1}, 3600).exposureTime, 3600000);
    EXPECT_EQ(WindowFor({0, 0, 768, 512, 1, 1}, 1).binned, 0);
}

// What INDI writes into the FITS file must be what the camera sends, or the
// image would be cut short or padded with stale bytes.
TEST(ExposureWindow, ExpectedImageIsWhatTheCameraSends) {
    const ChipFrame frames[] = {
        {0, 0, 768, 512, 1, 1}, {0, 0, 768, 512, 2, 2}, {1, 1, 301, 201, 2, 2}, {5, 7, 3, 3, 2, 2}, {0, 0, 1, 1, 1, 1},
    };
    for (const ChipFrame& frame : frames) {
        EXPECT_EQ(ExpectedImageBytes(frame), tarnscsi::Camera::ImageBytes(WindowFor(frame, 1)))
            << frame.width << " x " << frame.height << " bin " << frame.binX;
    }
    EXPECT_EQ(ExpectedImageBytes({1, 1, 301, 201, 2, 2}), 150u * 100u * 2u);
}

TEST(PixelOrder, TurnsBigEndianPixelsIntoHostOrder) {
    std::uint8_t bytes[] = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF, 0x77};
    BigEndianToHost16(bytes);
    std::uint16_t pixels[3];
    std::memcpy(pixels, bytes, sizeof pixels);
    EXPECT_EQ(pixels[0], 0x1234);
    EXPECT_EQ(pixels[1], 0xABCD);
    EXPECT_EQ(pixels[2], 0x00FF);
    EXPECT_EQ(bytes[6], 0x77) << "a trailing odd byte stays";
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
    EXPECT_FALSE(clock.Overdue(start + 2s + kReadoutAllowance - 1ms));
    EXPECT_TRUE(clock.Overdue(start + 2s + kReadoutAllowance));
}

TEST(CoolingUnits, ConvertsTenthsAndDrive) {
    EXPECT_EQ(CelsiusToTenths(-10.0), -100);
    EXPECT_EQ(CelsiusToTenths(-10.04), -100);
    EXPECT_EQ(CelsiusToTenths(5.06), 51);
    EXPECT_DOUBLE_EQ(TenthsToCelsius(-105), -10.5);
    EXPECT_DOUBLE_EQ(DriveToPercent(0), 0.0);
    EXPECT_DOUBLE_EQ(DriveToPercent(255), 100.0);
    EXPECT_NEAR(DriveToPercent(96), 37.65, 0.01);
}

}  // namespace
}  // namespace tarnscsi::indi
