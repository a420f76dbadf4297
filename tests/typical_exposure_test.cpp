// A whole session as an imaging application runs it, on immediate and on
// pending completion: connect, cool, expose, wait, download, read the
// cooling, disconnect.
#include <chrono>
#include <thread>
#include <vector>

#include "support/module_fixture.h"

using namespace testing_support;

class TypicalExposureTest : public ModuleTest, public ::testing::WithParamInterface<int> {};

TEST_P(TypicalExposureTest, TakesAnImageFromStartToEnd) {
    SimSetCompletion(GetParam(), 200);
    SimSetTimeScale(0.05);  // a 2-second exposure takes 100 ms

    ConnectOk();
    ASSERT_EQ(SetTemperature(-100), 1);
    ASSERT_EQ(Expose(2000, 0, 1, 600, 400, 100, 50), 1);

    int polls = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Ready() == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "camera never became ready";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ++polls;
    }
    EXPECT_GT(polls, 0) << "ready while the exposure should still run";

    std::vector<std::uint8_t> image(300 * 200 * 2);
    ASSERT_EQ(Download(image.data()), 1);
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);

    int32_t cooling = -1;
    const int32_t temperature = GetCoolingInfo(&cooling);
    EXPECT_EQ(temperature, SimTemperature());
    EXPECT_EQ(static_cast<std::uint32_t>(cooling), SimCoolerDrive());
    EXPECT_LT(temperature, 200);
    EXPECT_GT(cooling, 0);

    Disconnect();
    EXPECT_EQ(Ready(), 0);
}

INSTANTIATE_TEST_SUITE_P(Completion, TypicalExposureTest, ::testing::Values(SIM_IMMEDIATE, SIM_PENDING),
                         [](const auto& param_info) { return param_info.param == SIM_IMMEDIATE ? "Immediate" : "Pending"; });
