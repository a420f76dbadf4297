// A whole session as an imaging application runs it, on immediate and on
// pending completion: connect, cool, expose, wait, download, read the
// cooling, disconnect. The wait is on the simulator's manual clock.
#include <vector>

#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

class TypicalExposureTest : public ModuleTest, public ::testing::WithParamInterface<int> {};

TEST_P(TypicalExposureTest, TakesAnImageFromStartToEnd) {
    SimSetCompletion(GetParam(), 200);
    SimSetManualClock(1);

    ConnectOk();
    ASSERT_EQ(SetTemperature(-100), 1);
    ASSERT_EQ(Expose(2000, 0, 1, 600, 400, 100, 50), 1);

    // 2000 ms of exposure, then the readout of 300 x 200 binned pixels:
    // 1000 ms * 60000 / 393216, about 152.6 ms.
    EXPECT_EQ(Ready(), 0);
    SimAdvanceClock(2'000'000);
    EXPECT_EQ(Ready(), 0) << "ready while the camera reads out";
    SimAdvanceClock(152'000);
    EXPECT_EQ(Ready(), 0) << "ready while the camera reads out";
    SimAdvanceClock(1'000);
    ASSERT_EQ(Ready(), 1) << "camera not ready when exposure and readout are over";

    std::vector<std::uint8_t> image(300 * 200 * 2);
    ASSERT_EQ(Download(image.data()), 1);
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);

    int32_t cooling = -1;
    const int32_t temperature = GetCoolingInfo(&cooling);
    EXPECT_EQ(temperature, SimTemperature());
    EXPECT_EQ(static_cast<std::uint32_t>(cooling), SimCoolerDrive());
    EXPECT_EQ(temperature, 178) << "2.153 s at 1 C per second from +20.0 C";
    EXPECT_GT(cooling, 0);

    Disconnect();
    EXPECT_EQ(Ready(), 0);
}

INSTANTIATE_TEST_SUITE_P(Completion, TypicalExposureTest, ::testing::Values(SIM_IMMEDIATE, SIM_PENDING),
                         [](const auto& param_info) {
                             return param_info.param == SIM_IMMEDIATE ? "Immediate" : "Pending";
                         });
