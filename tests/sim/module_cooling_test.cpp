// The cooler through GetCoolingInfo and SetTemperature: on the manual clock,
// a pull at the ramp rate towards a reachable setpoint, and a saturated
// drive for one out of reach.
#include <chrono>

#include "module_support.h"

namespace tarnscsi::simmodule {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kAmbient = 200;      // tenths of a degree
constexpr std::int32_t kCoolerReach = 400;  // below ambient
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

// Readings one simulated second apart (the first at once) until `done` says
// so or `limit` readings.
template <typename Done>
std::vector<Reading> Follow(int limit, Done done) {
    std::vector<Reading> readings;
    while (static_cast<int>(readings.size()) < limit) {
        readings.push_back(Read());
        if (done(readings.back())) {
            break;
        }
        SimAdvanceClock(std::chrono::microseconds(1s).count());
    }
    return readings;
}

// The drive that holds the sensor at `tenths` once settled.
std::int32_t HoldingDrive(std::int32_t tenths) {
    return (kFullDrive * (kAmbient - tenths) + kCoolerReach / 2) / kCoolerReach;
}

class ModuleCoolingTest : public SimModuleTest {};

TEST_F(ModuleCoolingTest, PullsDownToAReachableSetpointAndSettlesThere) {
    SimSetManualClock(1);
    const Reading before = Read();
    EXPECT_EQ(before.temperature, kAmbient);
    EXPECT_EQ(before.drive, 0);

    constexpr std::int32_t kSetpoint = -100;
    ASSERT_EQ(SetTemperature(kSetpoint), 1);
    const auto readings = Follow(100, [](const Reading& r) { return r.temperature == kSetpoint; });
    ASSERT_EQ(readings.back().temperature, kSetpoint) << "never reached the setpoint";
    // 1 C per second down to the last degree, then easing off: 29 s, and a few more.
    ASSERT_GT(readings.size(), 30u);
    EXPECT_LT(readings.size(), 40u);
    for (std::size_t second = 0; second <= 29; ++second) {
        EXPECT_EQ(readings[second].temperature, kAmbient - 10 * static_cast<std::int32_t>(second))
            << "after " << second << " s";
    }

    std::int32_t strongest = 0;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        EXPECT_LE(readings[i].temperature, readings[i - 1].temperature) << "reading " << i;
        EXPECT_GE(readings[i].temperature, kSetpoint) << "overshoot at reading " << i;
        strongest = std::max(strongest, readings[i].drive);
    }
    EXPECT_GT(strongest, HoldingDrive(kSetpoint)) << "pulling down takes more than holding";

    SimAdvanceClock(std::chrono::microseconds(60s).count());
    const Reading settled = Read();
    EXPECT_EQ(settled.temperature, kSetpoint);
    EXPECT_EQ(settled.drive, HoldingDrive(kSetpoint));
}

TEST_F(ModuleCoolingTest, AnUnreachableSetpointSaturatesTheDrive) {
    SimSetManualClock(1);
    constexpr std::int32_t kLimit = kAmbient - kCoolerReach;
    ASSERT_EQ(SetTemperature(kLimit - 100), 1);
    const auto readings = Follow(200, [](const Reading& r) { return r.temperature <= kLimit + 5; });
    ASSERT_LE(readings.back().temperature, kLimit + 5) << "never came near the cooler's limit";
    // The ramp holds until the drive is full, 30 C down; from there the
    // sensor only creeps towards the limit.
    ASSERT_GT(readings.size(), 40u);
    EXPECT_EQ(readings[30].temperature, kAmbient - 300);
    EXPECT_EQ(readings[30].drive, kFullDrive);
    EXPECT_LT(readings[29].drive, kFullDrive);
    EXPECT_GT(readings[40].temperature, kLimit + 30) << "the ramp would be at the limit by now";

    bool saturated = false;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        EXPECT_LE(readings[i].temperature, readings[i - 1].temperature);
        EXPECT_GE(readings[i].temperature, kLimit);
        if (saturated) {
            EXPECT_EQ(readings[i].drive, kFullDrive) << "the drive let go at reading " << i;
        }
        saturated = readings[i].drive == kFullDrive;
    }
    SimAdvanceClock(std::chrono::microseconds(600s).count());
    const Reading last = Read();
    EXPECT_GE(last.temperature, kLimit);
    EXPECT_EQ(last.drive, kFullDrive);
}

// At time scale 0 the sensor is where the cooler can bring it at once.
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
}  // namespace tarnscsi::simmodule