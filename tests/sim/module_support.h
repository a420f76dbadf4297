// Driving the simulated camera through the module's exports, as an imaging
// application does, for tests of how the camera behaves: frames as pixel
// values, and the few statistics the tests judge them by.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "sim_control.h"

namespace tarnscsi::simmodule {

inline constexpr int kSensorWidth = 768;
inline constexpr int kSensorHeight = 512;
inline constexpr std::uint16_t kSaturated = 65535;

// What Expose is given.
struct Shot {
    std::int32_t milliseconds = 0;
    bool binned = false;
    std::int32_t width = kSensorWidth;
    std::int32_t height = kSensorHeight;
    std::int32_t originX = 0;
    std::int32_t originY = 0;
};

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;  // row by row
    std::uint16_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Each test starts on the test baseline (SimReset) with a connection, and
// ends disconnected on the baseline.
class SimModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Exposes, downloads. The time scale must be 0, so that the camera is ready
// at once. Fails the test (and returns an empty frame) when any step fails.
Frame TakeFrame(const Shot& shot);

// Moves the manual clock on by `advance` of simulated time, then asks Ready.
std::int32_t ReadyAfter(std::chrono::microseconds advance);

// Cools (or warms) to `tenths` and exposes; the time scale must be 0 so the
// sensor is at the setpoint at once.
Frame TakeFrameAt(std::int32_t tenths, const Shot& shot);

double Median(const std::vector<std::uint16_t>& values);
// Noise estimated from the median absolute deviation, blind to stars.
double RobustSigma(const std::vector<std::uint16_t>& values);

}  // namespace tarnscsi::simmodule