// The cooler rules every front-end shares, run against the simulated
// camera's cooling on the manual clock: a warm-up that follows its rate and
// ends with the cooler idle at ambient, and a setpoint out of reach told as
// soon as the temperature stops falling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include <tarnscsi/camera.h>
#include <tarnscsi/cooling.h>

#include "sim_control.h"

using namespace tarnscsi;

namespace {

constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;

class CoolingRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimSetManualClock(1);
        SimSetAmbient(200);
        SimSetCoolerLimits(400, 10);  // holds 40 C below ambient, 1 C per second at most
        ConnectError error = ConnectError::kNone;
        camera = Camera::Open(error);
        ASSERT_TRUE(camera) << ConnectErrorText(error);
    }
    void TearDown() override {
        camera.reset();
        SimReset();
    }
    CoolingReading Read() {
        const CoolingResult read = camera->ReadCooling();
        EXPECT_TRUE(read);
        return read.reading;
    }
    void Wait(double seconds) { SimAdvanceClock(static_cast<std::uint64_t>(seconds * kMicrosecondsPerSecond)); }
    std::unique_ptr<Camera> camera;
};

TEST_F(CoolingRulesTest, WarmUpFollowsItsRateAndLeavesTheCoolerIdleAtAmbient) {
    ASSERT_TRUE(camera->SetTemperature(-150));
    Wait(600);
    const CoolingReading cold = Read();
    ASSERT_NEAR(cold.temperature, -150, 5);

    WarmUp warmUp(cold.temperature, 5.0);  // 5 C per minute: 35 C take 7 minutes
    double elapsed = 0;
    std::int32_t previous = cold.temperature;
    std::int32_t warmest = cold.temperature;
    constexpr double kStep = 10.0;
    for (int step = 0; step < 200 && !warmUp.Done(); ++step) {
        const CoolingReading reading = Read();
        const std::int32_t setpoint = warmUp.Setpoint(elapsed, reading);
        EXPECT_GE(setpoint, previous);
        if (!warmUp.Done()) {
            // Never ahead of the ramp by more than one step's rise.
            EXPECT_LE(setpoint - cold.temperature, elapsed / 60.0 * 50.0 + 1) << elapsed;
            // The sensor follows the ramp: it is never more than a few degrees above it.
            EXPECT_LE(reading.temperature, setpoint + 30) << elapsed;
        }
        warmest = std::max(warmest, reading.temperature);
        ASSERT_TRUE(camera->SetTemperature(setpoint));
        previous = setpoint;
        Wait(kStep);
        elapsed += kStep;
    }
    ASSERT_TRUE(warmUp.Done());
    EXPECT_EQ(previous, kIdleSetpoint);
    EXPECT_GE(elapsed, 7 * 60.0 - kStep);  // not faster than the rate allows
    EXPECT_LE(elapsed, 9 * 60.0);          // and done soon after ambient is reached
    Wait(120);
    const CoolingReading idle = Read();
    EXPECT_EQ(idle.coolerDrive, 0);
    EXPECT_NEAR(idle.temperature, 200, 5);
}

TEST_F(CoolingRulesTest, ASetpointOutOfReachIsToldOnceTheTemperatureStopsFalling) {
    const std::int32_t setpoint = -300;  // 50 C below ambient; the cooler holds 40
    ASSERT_TRUE(camera->SetTemperature(setpoint));
    SetpointWatch watch(setpoint);
    double elapsed = 0;
    SetpointProgress progress = SetpointProgress::kApproaching;
    for (int step = 0; step < 100 && progress == SetpointProgress::kApproaching; ++step) {
        Wait(5);
        elapsed += 5;
        progress = watch.Observe(elapsed, Read());
    }
    EXPECT_EQ(progress, SetpointProgress::kOutOfReach);
    EXPECT_LE(elapsed, 180.0);  // the fall to the limit takes 40 s; the stall then one window
    EXPECT_NEAR(watch.Coldest(), -200, 5);
}

TEST_F(CoolingRulesTest, AReachableSetpointIsReachedNotOutOfReach) {
    for (const std::int32_t setpoint : {-100, -195}) {
        ASSERT_TRUE(camera->SetTemperature(setpoint));
        SetpointWatch watch(setpoint);
        SetpointProgress progress = SetpointProgress::kApproaching;
        double elapsed = 0;
        for (int step = 0; step < 100 && progress == SetpointProgress::kApproaching; ++step) {
            Wait(5);
            elapsed += 5;
            progress = watch.Observe(elapsed, Read());
        }
        EXPECT_EQ(progress, SetpointProgress::kReached) << setpoint;
    }
}

// A cooler idle at ambient has nothing to warm: the first setpoint asks it
// to hold the sensor where it is, it stays idle, and the warm-up ends at the
// next reading. A sensor still below ambient, warming by itself after a
// setpoint above it, makes the cooler hold it: the ramp goes on.
TEST_F(CoolingRulesTest, WarmUpEndsAtOnceWhenTheCoolerIsIdleAtAmbient) {
    const auto run = [this](int maxSteps) {
        WarmUp warmUp(Read().temperature, kDefaultWarmUpRate);
        double elapsed = 0;
        for (int step = 0; step < maxSteps && !warmUp.Done(); ++step) {
            EXPECT_TRUE(camera->SetTemperature(warmUp.Setpoint(elapsed, Read())));
            Wait(1);
            elapsed += 1;
        }
        return warmUp;
    };
    const WarmUp idle = run(5);
    EXPECT_TRUE(idle.Done());
    EXPECT_TRUE(idle.AlreadyIdle());

    // 5 C below ambient, then a setpoint above it: the cooler stops and the
    // sensor warms by itself.
    ASSERT_TRUE(camera->SetTemperature(150));
    Wait(600);
    ASSERT_TRUE(camera->SetTemperature(kIdleSetpoint));
    Wait(1);
    ASSERT_EQ(Read().coolerDrive, 0);
    ASSERT_LT(Read().temperature, 200 - WarmUp::kSteadyTenths);
    const WarmUp warming = run(5);
    EXPECT_FALSE(warming.Done());
    EXPECT_FALSE(warming.AlreadyIdle());
}

TEST(WarmUpTest, RateIsKeptWithinItsLimitsAndNeverGoesBack) {
    EXPECT_EQ(WarmUp(0, 1000).Rate(), kMaxWarmUpRate);
    EXPECT_EQ(WarmUp(0, 0).Rate(), kMinWarmUpRate);
    EXPECT_EQ(WarmUp(0, std::nan("")).Rate(), kDefaultWarmUpRate);
    WarmUp warmUp(-100, 6.0);
    const CoolingReading working{-100, 200};
    EXPECT_EQ(warmUp.Setpoint(60, working), -40);
    EXPECT_EQ(warmUp.Setpoint(30, working), -40);  // a clock that went back does not lower it
    EXPECT_FALSE(warmUp.Done());
    // The cooler idle while the ramp is just above the sensor: still easing, not done.
    EXPECT_EQ(warmUp.Setpoint(70, {-35, 0}), -30);
    EXPECT_FALSE(warmUp.Done());
    // Idle with the ramp well above the sensor: the surroundings are reached.
    EXPECT_EQ(warmUp.Setpoint(90, {-45, 0}), kIdleSetpoint);
    EXPECT_TRUE(warmUp.Done());
    EXPECT_FALSE(warmUp.AlreadyIdle());

    // Idle from the start, but a reading too soon after the first setpoint
    // to tell, or a sensor that drifts: not yet known to be at ambient.
    WarmUp soon(200, kDefaultWarmUpRate);
    soon.Setpoint(0, {200, 0});
    soon.Setpoint(WarmUp::kIdleCheckSeconds / 2, {200, 0});
    EXPECT_FALSE(soon.Done());
    WarmUp drifting(150, kDefaultWarmUpRate);
    drifting.Setpoint(0, {150, 0});
    drifting.Setpoint(WarmUp::kIdleCheckSeconds, {155, 0});
    EXPECT_FALSE(drifting.Done());
}

}  // namespace
