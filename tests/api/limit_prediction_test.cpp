// The cooler's limit foretold from its approach: curves as a cooler at full
// drive draws them (an exponential approach to its limit, read in tenths of
// a degree), with and without noise, and curves that are not that shape.
// Time is passed in; no camera.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include <tarnscsi/cooling.h>
#include <tarnscsi/limit_prediction.h>

using namespace tarnscsi;

namespace {

// A cooler at full drive from `start` towards `limit` (tenths of a degree)
// with time constant `tau`, read every `interval` seconds, rounded as the
// camera reports; `noise` tenths of scatter either way.
struct Approach {
    double start = -100;
    double limit = -200;
    double tau = 10;
    double interval = 1;
    double noise = 0;
};

class Curve {
public:
    explicit Curve(const Approach& approach, unsigned seed = 1) : shape(approach), random(seed) {}
    std::int32_t At(double seconds) {
        double value = shape.limit + (shape.start - shape.limit) * std::exp(-seconds / shape.tau);
        if (shape.noise > 0) value += std::uniform_real_distribution<double>(-shape.noise, shape.noise)(random);
        return static_cast<std::int32_t>(std::lround(value));
    }

private:
    Approach shape;
    std::mt19937 random;
};

// Seconds until the prediction is firm, or nothing within `most` seconds.
std::optional<double> SecondsUntilFirm(const Approach& shape, double most, unsigned seed = 1) {
    Curve curve(shape, seed);
    LimitPrediction prediction;
    for (double t = 0; t <= most; t += shape.interval) {
        prediction.Add(t, curve.At(t));
        if (prediction.Firm()) return t;
    }
    return std::nullopt;
}

TEST(LimitPredictionTest, FirmOnceTheCurveShowsItsLimit) {
    struct Case {
        const char* what;
        Approach shape;
        double within;  // seconds
    };
    const Case cases[] = {
        {"fast plate", {-100, -200, 10, 1, 0}, 30},
        {"slow sensor, read every 5 s", {150, -250, 120, 5, 0}, 300},
        {"noisy readings", {150, -250, 120, 5, 1.5}, 400},
        {"read every 10 s", {200, -150, 300, 10, 0}, 900},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Curve curve(c.shape);
        LimitPrediction prediction;
        std::optional<double> firmAt;
        for (double t = 0; t <= c.within && !firmAt; t += c.shape.interval) {
            prediction.Add(t, curve.At(t));
            if (prediction.Firm()) firmAt = t;
        }
        ASSERT_TRUE(firmAt) << "not firm within " << c.within << " s";
        // Long before the plateau: well under four time constants.
        EXPECT_LT(*firmAt, 4 * c.shape.tau);
        // Within half a degree; a degree when the readings scatter.
        EXPECT_NEAR(*prediction.Firm(), c.shape.limit, c.shape.noise > 0 ? 10 : 5);
    }
}

// A straight fall, a curve still far from bending, and readings that jump
// about: no firm limit.
TEST(LimitPredictionTest, NeverFirmWithoutTheCurveToShowIt) {
    LimitPrediction straight;
    for (int t = 0; t < 120; ++t) straight.Add(t, 200 - t);
    EXPECT_FALSE(straight.Firm());

    // Only the first tenth of a ten-minute time constant.
    EXPECT_FALSE(SecondsUntilFirm({200, -300, 600, 1, 0}, 50));

    LimitPrediction jumpy;
    for (int t = 0; t < 120; ++t) jumpy.Add(t, (t % 2 == 0) ? 0 : -40);
    EXPECT_FALSE(jumpy.Firm());

    // A temperature that rises says nothing about a limit below it.
    EXPECT_FALSE(SecondsUntilFirm({-200, 100, 10, 1, 0}, 120));
}

TEST(LimitPredictionTest, ClearForgetsTheCurveAndReadingsOutOfOrderAreIgnored) {
    Curve curve({-100, -200, 10, 1, 0});
    LimitPrediction prediction;
    for (int t = 0; t < 40; ++t) prediction.Add(t, curve.At(t));
    ASSERT_TRUE(prediction.Firm());
    prediction.Clear();
    EXPECT_FALSE(prediction.Firm());
    EXPECT_EQ(prediction.Readings(), 0u);
    prediction.Add(5, -100);
    prediction.Add(5, -120);  // the same time again
    prediction.Add(3, -140);  // a clock that went back
    prediction.Add(std::nan(""), -140);
    EXPECT_EQ(prediction.Readings(), 1u);
}

// A long approach keeps a bounded number of readings and still predicts.
TEST(LimitPredictionTest, ALongApproachIsThinnedNotForgotten) {
    Curve curve({200, -300, 3000, 1, 0});
    LimitPrediction prediction;
    // Read every 5 s for over an hour: more readings than are kept.
    for (int t = 0; t < 4000; t += 5) prediction.Add(t, curve.At(t));
    EXPECT_LE(prediction.Readings(), LimitPrediction::kMostReadings);
    ASSERT_TRUE(prediction.Firm());
    EXPECT_NEAR(*prediction.Firm(), -300, 10);
}

// The watch on top: out of reach as soon as the limit is firm and short of
// the setpoint; never for a setpoint the cooler reaches, even 1 C above its
// limit or with noisy readings; a new setpoint starts afresh.
struct WatchRun {
    SetpointProgress progress = SetpointProgress::kApproaching;
    double seconds = 0;
};

WatchRun Watch(SetpointWatch& watch, Curve& curve, double from, double until, double interval = 1) {
    WatchRun run;
    for (double t = from; t <= until; t += interval) {
        const std::int32_t temperature = curve.At(t);
        // The drive stays full until the sensor is within a degree of the setpoint.
        const std::int32_t drive = temperature > watch.Setpoint() + 10 ? 255 : 180;
        run.progress = watch.Observe(t, {temperature, drive});
        run.seconds = t;
        if (run.progress != SetpointProgress::kApproaching) break;
    }
    return run;
}

TEST(SetpointWatchTest, OutOfReachIsToldFromThePredictionNamingTheLimit) {
    struct Case {
        const char* what;
        std::int32_t setpoint;
        double noise;
        SetpointProgress expected;
        double within;
    };
    // A cooler whose limit is -20.0 C, 10 s time constant, from -10.0 C.
    const Case cases[] = {
        {"far out of reach", -450, 0, SetpointProgress::kOutOfReach, 30},
        {"just out of reach", -230, 0, SetpointProgress::kOutOfReach, 30},
        {"noisy, out of reach", -300, 1.5, SetpointProgress::kOutOfReach, 60},
        {"1 C above the limit", -190, 0, SetpointProgress::kReached, 600},
        {"1 C above the limit, noisy", -190, 1.5, SetpointProgress::kReached, 600},
        {"well within reach", -150, 0, SetpointProgress::kReached, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (unsigned seed = 1; seed <= 5; ++seed) {
            Curve curve({-100, -200, 10, 1, c.noise}, seed);
            SetpointWatch watch(c.setpoint);
            const WatchRun run = Watch(watch, curve, 0, c.within);
            EXPECT_EQ(run.progress, c.expected) << "seed " << seed << " after " << run.seconds << " s";
            if (c.expected == SetpointProgress::kOutOfReach) {
                EXPECT_NEAR(watch.Limit(), -200, c.noise > 0 ? 10 : 5);
                const std::string text = watch.OutOfReachText();
                EXPECT_NE(text.find("the cooler cannot reach " + std::to_string(c.setpoint / 10)), std::string::npos)
                    << text;
                EXPECT_NE(text.find("levels off at about -" + std::to_string(-watch.Limit() / 10) + "."),
                          std::string::npos)
                    << text;
            }
        }
    }
}

// The setpoint changed mid-way: the new watch judges only its own readings.
TEST(SetpointWatchTest, ANewSetpointIsJudgedAfresh) {
    Curve curve({-100, -200, 10, 1, 0});
    SetpointWatch unreachable(-450);
    ASSERT_EQ(Watch(unreachable, curve, 0, 5).progress, SetpointProgress::kApproaching);
    SetpointWatch reachable(-180);
    EXPECT_EQ(Watch(reachable, curve, 6, 600).progress, SetpointProgress::kReached);

    // The other way: reachable first, then one the cooler cannot reach.
    Curve again({-100, -200, 10, 1, 0});
    SetpointWatch first(-190);
    ASSERT_EQ(Watch(first, again, 0, 3).progress, SetpointProgress::kApproaching);
    SetpointWatch second(-260);
    const WatchRun run = Watch(second, again, 4, 120);
    EXPECT_EQ(run.progress, SetpointProgress::kOutOfReach);
    EXPECT_LT(run.seconds, 40);
}

// A cooler whose curve is no exponential (it falls in a straight line, then
// stops dead) is still told once it stops, naming where it stopped.
TEST(SetpointWatchTest, AStallIsToldWhenThePredictionCannotFollow) {
    SetpointWatch watch(-300);
    SetpointProgress progress = SetpointProgress::kApproaching;
    int t = 0;
    for (; t < 400 && progress == SetpointProgress::kApproaching; ++t) {
        const std::int32_t temperature = std::max(-100 - t, -200);
        progress = watch.Observe(t, {temperature, 255});
    }
    EXPECT_EQ(progress, SetpointProgress::kOutOfReach);
    EXPECT_NEAR(watch.Limit(), -200, 5);
    EXPECT_GE(t, 100);
}

}  // namespace
