// The simulator as a user meets it without configuring anything (run with
// TARNSCSI_SIM empty, and without SimReset): one camera on adapter 0 that
// behaves like the real one, in real time, with a sky in its images.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "sim_control.h"

namespace {

constexpr int kWidth = 768;
constexpr int kHeight = 512;

TEST(StartupTest, TheCameraWorksInRealTimeAndSeesTheSky) {
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << error;
    std::int32_t drive = -1;
    EXPECT_EQ(GetCoolingInfo(&drive), 200);
    EXPECT_EQ(drive, 0);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Expose(0, 0, 0, kWidth, kHeight, 0, 0), 1);
    EXPECT_EQ(Ready(), 0) << "a full frame reads out for a second";
    // The subject here is real time itself, so this waits on the real clock.
    while (Ready() == 0) {
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));

    std::vector<std::uint8_t> image(kWidth * kHeight * 2);
    ASSERT_EQ(Download(image.data()), 1);
    std::vector<std::uint16_t> pixels(kWidth * kHeight);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint16_t>(image[2 * i] << 8 | image[2 * i + 1]);
    }
    std::nth_element(pixels.begin(), pixels.begin() + pixels.size() / 2, pixels.end());
    EXPECT_LT(pixels[pixels.size() / 2], 5000) << "a sky frame's background, not the test pattern";
    Disconnect();
}

}  // namespace
