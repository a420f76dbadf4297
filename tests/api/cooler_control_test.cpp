// The cooler as every program runs it, over readings a camera could give,
// with time passed in: the switch, the warm-up, a setpoint reached or out
// of reach (each told once), the useful setpoints, and when a warm-up is
// owed before the camera is let go.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <tarnscsi/cooler_control.h>
#include <tarnscsi/units.h>

using namespace tarnscsi;

namespace {

TEST(CoolerControlTest, WarmUpRisesFromTheSensorAndEndsIdle) {
    CoolerControl cooler;
    cooler.Connected({200, 0});
    EXPECT_FALSE(cooler.On());
    cooler.SetpointAsked(-100);
    cooler.SetpointWritten(-100);
    EXPECT_TRUE(cooler.On());
    EXPECT_EQ(cooler.ActiveSetpoint(), -100);

    // 6 C per minute from -10.0 C: a degree every 10 s.
    cooler.StartWarmUp({-100, 128}, 6.0, 1000);
    EXPECT_FALSE(cooler.On());
    EXPECT_TRUE(cooler.WarmingUp());
    EXPECT_FALSE(cooler.ActiveSetpoint());
    std::int32_t previous = -100;
    for (int step = 1; step <= 20; ++step) {
        const CoolerStep next = cooler.Poll({previous, 100}, 1000 + 10.0 * step);
        ASSERT_TRUE(next.write);
        EXPECT_EQ(*next.write, -100 + 10 * step);
        EXPECT_EQ(next.event, CoolerEvent::kNone);
        previous = *next.write;
    }
    // The sensor sits at ambient (+9.0 C), the cooler has no work left.
    const CoolerStep done = cooler.Poll({90, 0}, 1000 + 220.0);
    EXPECT_EQ(done.write, kIdleSetpoint);
    EXPECT_EQ(done.event, CoolerEvent::kWarmedUp);
    EXPECT_FALSE(cooler.WarmingUp());
    EXPECT_FALSE(cooler.Poll({90, 0}, 1300).write);
    // The setpoint to return to outlives the warm-up and a new connection.
    cooler.Connected({90, 0});
    EXPECT_EQ(cooler.AskedSetpoint(), -100);
}

TEST(CoolerControlTest, AWarmUpOfACoolerIdleAtAmbientEndsAtTheNextReading) {
    CoolerControl cooler;
    cooler.Connected({200, 0});
    cooler.StartWarmUp({200, 0}, kDefaultWarmUpRate, 0);
    EXPECT_EQ(cooler.Poll({200, 0}, 1).write, 200);
    const CoolerStep second = cooler.Poll({200, 0}, 2);
    EXPECT_EQ(second.write, kIdleSetpoint);
    EXPECT_EQ(second.event, CoolerEvent::kWasIdle);
    EXPECT_FALSE(cooler.WarmingUp());
}

TEST(CoolerControlTest, ANewSetpointEndsTheWarmUp) {
    CoolerControl cooler;
    cooler.Connected({-100, 128});
    EXPECT_TRUE(cooler.On());
    cooler.StartWarmUp({-100, 128}, kDefaultWarmUpRate, 0);
    cooler.SetpointWritten(-150);
    EXPECT_FALSE(cooler.WarmingUp());
    EXPECT_FALSE(cooler.Poll({-100, 255}, 10).write);
}

// A cooler at full drive approaching -20.0 C: -30.0 C is told out of reach
// once, from the approach, and the text stays until a new setpoint; a
// reachable setpoint is told reached once.
TEST(CoolerControlTest, ReachedAndOutOfReachAreToldOnceEach) {
    CoolerControl cooler;
    cooler.Connected({-100, 255});
    cooler.SetpointWritten(-300);
    int outOfReach = 0;
    for (int t = 0; t < 120; ++t) {
        const auto temperature = static_cast<std::int32_t>(std::lround(-200 + 100 * std::exp(-t / 10.0)));
        if (cooler.Poll({temperature, kFullCoolerDrive}, t).event == CoolerEvent::kOutOfReach) ++outOfReach;
    }
    EXPECT_EQ(outOfReach, 1);
    EXPECT_EQ(cooler.OutOfReach().rfind("the cooler cannot reach -30.0 C: at full drive the sensor levels off", 0), 0u)
        << cooler.OutOfReach();

    cooler.SetpointWritten(-150);
    EXPECT_TRUE(cooler.OutOfReach().empty());
    int reached = 0;
    for (int t = 0; t < 10; ++t) {
        if (cooler.Poll({-150, 200}, 200 + t).event == CoolerEvent::kReached) ++reached;
    }
    EXPECT_EQ(reached, 1);
}

TEST(CoolerControlTest, SetpointsOutsideTheUsefulRangeAreRefused) {
    EXPECT_EQ(SetpointProblem(TenthsToCelsius(kLowestSetpoint)), "");
    EXPECT_EQ(SetpointProblem(TenthsToCelsius(kHighestSetpoint)), "");
    EXPECT_EQ(SetpointProblem(-20), "");
    EXPECT_EQ(SetpointProblem(-100.1), "the camera takes setpoints from -100.0 to 50.0 C, not -100.1 C");
    // The refused value as given, not rounded into the range.
    EXPECT_EQ(SetpointProblem(-100.01), "the camera takes setpoints from -100.0 to 50.0 C, not -100.01 C");
    EXPECT_NE(SetpointProblem(50.1), "");
    EXPECT_NE(SetpointProblem(-273.15), "");
    EXPECT_NE(SetpointProblem(std::nan("")), "");
}

// A warm-up is owed before letting the camera go while the cooler is on,
// working, or already warming up; not for an idle cooler at ambient.
TEST(CoolerControlTest, AWarmUpIsOwedWhileTheCoolerWorks) {
    CoolerControl idle;
    idle.Connected({200, 0});
    EXPECT_FALSE(idle.WarmUpBeforeDisconnect({200, 0}));
    EXPECT_TRUE(idle.WarmUpBeforeDisconnect({150, 40}));  // working though no setpoint was written here
    CoolerControl on;
    on.Connected({200, 0});
    on.SetpointWritten(100);
    EXPECT_TRUE(on.WarmUpBeforeDisconnect({200, 0}));
    on.StartWarmUp({100, 10}, kDefaultWarmUpRate, 0);
    EXPECT_TRUE(on.WarmUpBeforeDisconnect({100, 0}));
}

}  // namespace
