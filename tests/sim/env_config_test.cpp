// TARNSCSI_SIM read as the library loads: this program runs with
//   TARNSCSI_SIM="adapters=3, camera=2:5, camera=1:9, camera=0:4:1,
//                 device=0:2:scanner:Look-alike, time-scale=0.5, image=dark,
//                 ambient=-5, bogus=1"
// and must find the bus, settings and camera as the text says (the bogus
// item and the two cameras where the module never looks are reported and
// ignored).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "core/aspi_entry.h"
#include "sim_control.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kAdapterCountMask = 0xFF;
constexpr std::uint8_t kTestUnitReady = 0x00;

// What this program checks is the pace of the simulated clock against the
// real one, so it waits in real time, polling.
bool WaitReady() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (Ready() != 1) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(EnvironmentConfigTest, TheBusAndSettingsAreAsTheVariableSays) {
    EXPECT_EQ(GetASPI32SupportInfo() & kAdapterCountMask, 3u);
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << error;

    SimLogClear();
    ASSERT_EQ(Ready(), 1);
    SimRequest request{};
    ASSERT_EQ(SimLogGet(0, &request), 0);
    EXPECT_EQ(request.cdb[0], kTestUnitReady);
    EXPECT_EQ(request.haId, 2);
    EXPECT_EQ(request.target, 5);

    std::int32_t drive = -1;
    EXPECT_EQ(GetCoolingInfo(&drive), -50) << "the sensor starts at the configured ambient";
    EXPECT_EQ(drive, 0);

    // Half real time: 2 simulated seconds of exposure (and 0.16 ms of
    // readout) take just over one second.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Expose(2000, 0, 0, 8, 8, 0, 0), 1);
    EXPECT_EQ(Ready(), 0);
    ASSERT_TRUE(WaitReady());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
    std::vector<std::uint8_t> image(8 * 8 * 2);
    ASSERT_EQ(Download(image.data()), 1);
    EXPECT_LT(image[0], 0x10) << "a dark frame's first pixel, not the test pattern's 0x3039";
    // The simulator's readings concern the first camera in bus order: the
    // one at 2:5, as those at 1:9 and 0:4 lun 1 were refused.
    EXPECT_EQ(SimLastImage(nullptr, 0), image.size());
    Disconnect();
}

}  // namespace
