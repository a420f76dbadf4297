// Exposure timing as an application sees it through the exports: not ready
// while the camera exposes and reads out, ready after, no image before, and
// a new exposure abandons the one in progress.
#include <chrono>
#include <thread>

#include "module_support.h"

namespace simmodule {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ModuleTimingTest : public SimModuleTest {};

TEST_F(ModuleTimingTest, NotReadyDuringExposureAndReadoutThenReadyWithItsImage) {
    SimSetTimeScale(0.1);  // 2 s exposure: 200 ms; full-frame readout: 100 ms
    const auto start = Clock::now();
    ASSERT_EQ(Expose(2000, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    std::vector<std::uint8_t> image(kSensorWidth * kSensorHeight * 2, 0xEE);
    EXPECT_EQ(Download(image.data()), 0) << "no image before the readout ends";

    ASSERT_TRUE(WaitReady());
    EXPECT_GE(Clock::now() - start, 300ms) << "ready before exposure and readout were over";
    EXPECT_EQ(Download(image.data()), 1);
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);
}

TEST_F(ModuleTimingTest, TheReadoutGrowsWithThePixelsRead) {
    SimSetTimeScale(1.0);  // unbinned full frame 1 s, binned 250 ms, 16 x 16 pixels 0.7 ms
    ASSERT_EQ(Expose(0, 0, 0, 16, 16, 0, 0), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Ready(), 1);

    ASSERT_EQ(Expose(0, 0, 1, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(Ready(), 1);

    ASSERT_EQ(Expose(0, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(Ready(), 0) << "an unbinned frame reads out for longer";
    EXPECT_TRUE(WaitReady());
}

TEST_F(ModuleTimingTest, ANewExposureAbandonsTheOneInProgress) {
    SimSetTimeScale(1.0);
    ASSERT_EQ(Expose(60000, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    const Frame frame = TakeFrame({0, false, 8, 4, 100, 100});
    EXPECT_EQ(frame.pixels.size(), 32u);
    EXPECT_EQ(SimLastImage(nullptr, 0), 64u) << "the image is the new window's";
}

}  // namespace
}  // namespace simmodule
