// Exposure timing as an application sees it through the exports, on the
// simulator's manual clock: not ready while the camera exposes and reads
// out, ready at the very microsecond both are over, no image before, and a
// new exposure abandons the one in progress.
#include <chrono>

#include "module_support.h"

namespace tarnscsi::simmodule {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kBinned = 1;

class ModuleTimingTest : public SimModuleTest {
protected:
    void SetUp() override {
        SimModuleTest::SetUp();
        SimSetManualClock(1);
    }
};

TEST_F(ModuleTimingTest, NotReadyDuringExposureAndReadoutThenReadyWithItsImage) {
    // 2000 ms of exposure, then 1000 ms of full-frame readout.
    ASSERT_EQ(Expose(2000, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    std::vector<std::uint8_t> image(kSensorWidth * kSensorHeight * 2, 0xEE);
    EXPECT_EQ(Download(image.data()), 0) << "no image while exposing";

    EXPECT_EQ(ReadyAfter(1999ms), 0);
    EXPECT_EQ(ReadyAfter(1ms), 0) << "the exposure is over, the readout has begun";
    EXPECT_EQ(Download(image.data()), 0) << "no image while reading out";
    EXPECT_EQ(ReadyAfter(999999us), 0);
    EXPECT_EQ(ReadyAfter(1us), 1) << "ready at 3000 ms";

    EXPECT_EQ(Download(image.data()), 1);
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);
}

TEST_F(ModuleTimingTest, TheReadoutGrowsWithThePixelsRead) {
    // 16 x 16 pixels read in well under a millisecond, but not in no time.
    ASSERT_EQ(Expose(0, 0, 0, 16, 16, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(ReadyAfter(1ms), 1);

    // Binned, a full frame is a quarter of the pixels: 250 ms.
    ASSERT_EQ(Expose(0, 0, kBinned, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(ReadyAfter(249999us), 0);
    EXPECT_EQ(ReadyAfter(1us), 1);

    // Unbinned: 1000 ms.
    ASSERT_EQ(Expose(0, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(ReadyAfter(999999us), 0) << "an unbinned frame reads out for longer";
    EXPECT_EQ(ReadyAfter(1us), 1);
}

TEST_F(ModuleTimingTest, TheClockStandsStillUntilAdvanced) {
    SimSetTimeScale(0.0);  // would finish everything at once, were the clock not manual
    ASSERT_EQ(Expose(10, 0, 0, 16, 16, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(ReadyAfter(0us), 0);
    EXPECT_EQ(ReadyAfter(9ms), 0);
    EXPECT_EQ(ReadyAfter(2ms), 1);

    // Back to the running clock at time scale 0: an exposure in progress ends at once.
    ASSERT_EQ(Expose(60000, 0, 0, 16, 16, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    SimSetManualClock(0);
    EXPECT_EQ(Ready(), 1);
    SimAdvanceClock(1);  // ignored: the clock is not manual
    EXPECT_EQ(Ready(), 1);
}

TEST_F(ModuleTimingTest, ANewExposureAbandonsTheOneInProgress) {
    ASSERT_EQ(Expose(60000, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    EXPECT_EQ(ReadyAfter(1s), 0);

    ASSERT_EQ(Expose(0, 0, 0, 8, 4, 100, 100), 1);
    EXPECT_EQ(ReadyAfter(1ms), 1) << "the new window's 32 pixels are read out";
    std::vector<std::uint8_t> image(8 * 4 * 2);
    EXPECT_EQ(Download(image.data()), 1);
    EXPECT_EQ(SimLastImage(nullptr, 0), 64u) << "the image is the new window's";

    EXPECT_EQ(ReadyAfter(120s), 1);
    EXPECT_EQ(SimLastImage(nullptr, 0), 64u) << "the abandoned exposure never ends";
}

}  // namespace
}  // namespace tarnscsi::simmodule