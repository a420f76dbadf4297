// The cooler through GetCoolingInfo and SetTemperature: a believable pull
// towards a reachable setpoint, and a saturated drive for one out of reach.
#include <chrono>
#include <thread>

#include "module_support.h"

namespace simmodule {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kAmbient = 200;        // tenths of a degree
constexpr std::int32_t kCoolerReach = 400;    // below ambient
constexpr std::int32_t kFullDrive = 255;

struct Reading {
    std::int32_t temperature;
    std::int32_t drive;
};

Reading Read() {
    std::int32_t drive = -1;
    const std::int32_t temperature = GetCoolingInfo(&drive);
    return {temperature, drive};
}

// Readings every `interval` until `done` says so or `limit` readings.
template <typename Done>
std::vector<Reading> Follow(std::chrono::milliseconds interval, int limit, Done done) {
    std::vector<Reading> readings;
    while (static_cast<int>(readings.size()) < limit) {
        readings.push_back(Read());
        if (done(readings.back())) {
            break;
        }
        std::this_thread::sleep_for(interval);
    }
    return readings;
}

// The drive that holds the sensor at `tenths` once settled.
std::int32_t HoldingDrive(std::int32_t tenths) {
    return (kFullDrive * (kAmbient - tenths) + kCoolerReach / 2) / kCoolerReach;
}

class ModuleCoolingTest : public SimModuleTest {};

TEST_F(ModuleCoolingTest, PullsDownToAReachableSetpointAndSettlesThere) {
    SimSetTimeScale(0.01);  // one simulated second is 10 ms
    const Reading before = Read();
    EXPECT_EQ(before.temperature, kAmbient);
    EXPECT_EQ(before.drive, 0);

    constexpr std::int32_t kSetpoint = -100;
    ASSERT_EQ(SetTemperature(kSetpoint), 1);
    const auto readings = Follow(20ms, 500, [](const Reading& r) { return r.temperature == kSetpoint; });
    ASSERT_EQ(readings.back().temperature, kSetpoint) << "never reached the setpoint";
    EXPECT_GE(readings.size(), 10u) << "30 C at 1 C per second takes 30 simulated seconds";

    std::int32_t strongest = 0;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        EXPECT_LE(readings[i].temperature, readings[i - 1].temperature) << "reading " << i;
        EXPECT_GE(readings[i].temperature, kSetpoint) << "overshoot at reading " << i;
        strongest = std::max(strongest, readings[i].drive);
    }
    EXPECT_GT(strongest, HoldingDrive(kSetpoint)) << "pulling down takes more than holding";

    std::this_thread::sleep_for(200ms);
    const Reading settled = Read();
    EXPECT_EQ(settled.temperature, kSetpoint);
    EXPECT_EQ(settled.drive, HoldingDrive(kSetpoint));
}

TEST_F(ModuleCoolingTest, AnUnreachableSetpointSaturatesTheDrive) {
    SimSetTimeScale(0.01);
    constexpr std::int32_t kLimit = kAmbient - kCoolerReach;
    ASSERT_EQ(SetTemperature(kLimit - 100), 1);
    const auto readings = Follow(20ms, 500, [](const Reading& r) { return r.temperature <= kLimit + 5; });
    ASSERT_LE(readings.back().temperature, kLimit + 5) << "never came near the cooler's limit";

    bool saturated = false;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        EXPECT_LE(readings[i].temperature, readings[i - 1].temperature);
        EXPECT_GE(readings[i].temperature, kLimit);
        if (saturated) {
            EXPECT_EQ(readings[i].drive, kFullDrive) << "the drive let go at reading " << i;
        }
        saturated = readings[i].drive == kFullDrive;
    }
    std::this_thread::sleep_for(300ms);
    const Reading last = Read();
    EXPECT_GE(last.temperature, kLimit);
    EXPECT_EQ(last.drive, kFullDrive);
}

TEST_F(ModuleCoolingTest, AmbientAndCoolerLimitsSetWhereTheSensorCanGo) {
    SimSetAmbient(300);
    SimSetCoolerLimits(300, 10);  // at most 30 C below +30 C
    ASSERT_EQ(SetTemperature(-100), 1);
    Reading r = Read();
    EXPECT_EQ(r.temperature, 0);
    EXPECT_EQ(r.drive, kFullDrive);
    ASSERT_EQ(SetTemperature(100), 1);
    r = Read();
    EXPECT_EQ(r.temperature, 100);
    EXPECT_EQ(r.drive, 170);  // 255 * 20 C / 30 C
}

}  // namespace
}  // namespace simmodule
