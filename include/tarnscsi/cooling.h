// The cooler's rules that every program follows alike: a warm-up that raises
// the setpoint gently so the sensor is never shocked, and recognising a
// setpoint the cooler cannot reach. Pure logic over readings and times: the
// caller reads the camera, asks what to do, and writes the setpoint it is
// told. The camera has no cooler switch; a setpoint above the surroundings
// leaves the cooler idle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <tarnscsi/camera.h>
#include <tarnscsi/limit_prediction.h>

namespace tarnscsi {

// A setpoint above any temperature the camera works in (+50.0 C): the
// cooler idles.
inline constexpr std::int32_t kIdleSetpoint = 500;

// Warm-up rates in degrees per minute.
inline constexpr double kDefaultWarmUpRate = 2.0;
inline constexpr double kMinWarmUpRate = 0.1;
inline constexpr double kMaxWarmUpRate = 20.0;

// Raises the setpoint from the sensor's temperature at the start, at a
// steady rate, until the cooler has no work left (its drive is off although
// the setpoint is well above the sensor: the sensor sits at the temperature
// of its surroundings); then the setpoint goes to kIdleSetpoint and the
// warm-up is done.
//
// A cooler already idle at the surroundings' temperature has nothing to
// warm: its drive stays off although the first setpoint (the sensor's own
// temperature) asked it to hold the sensor there, and the sensor does not
// warm on its own. The warm-up then ends at the next reading at least
// kIdleCheckSeconds after the first, and AlreadyIdle() says so. (A sensor
// that is still colder than its surroundings either makes the cooler work
// to hold it, or warms by itself: both keep the ramp going.)
class WarmUp {
public:
    // The least time between the first setpoint and a reading that can tell
    // a cooler idle at the surroundings' temperature.
    static constexpr double kIdleCheckSeconds = 1.0;
    // How far the sensor may drift from its start and still count as
    // steady: one step of the reading either way.
    static constexpr std::int32_t kSteadyTenths = 1;

    // `startTemperature` in tenths of a degree; `degreesPerMinute` within
    // [kMinWarmUpRate, kMaxWarmUpRate] (clamped).
    WarmUp(std::int32_t startTemperature, double degreesPerMinute);

    // The setpoint to write `elapsedSeconds` after the start, given the
    // latest reading. Never lower than a setpoint it returned before.
    std::int32_t Setpoint(double elapsedSeconds, const CoolingReading& reading);
    bool Done() const { return done; }
    // Done because the cooler was idle at the surroundings' temperature
    // from the start: there was nothing to warm.
    bool AlreadyIdle() const { return alreadyIdle; }
    double Rate() const { return rate; }

private:
    std::int32_t start;
    double rate;
    std::int32_t last;
    bool done = false;
    bool alreadyIdle = false;
    // Every reading so far had the drive off, and the first setpoint was
    // returned this long after the start.
    bool idleSoFar = true;
    std::optional<double> firstSetpointAt;
};

enum class SetpointProgress {
    kApproaching,  // on the way
    kReached,      // within the tolerance
    kOutOfReach,   // the cooler levels off short of the setpoint
};

// Watches readings after a setpoint was written and tells when the cooler
// has reached it, or cannot. While the drive is at full and the sensor is
// still above the setpoint, the readings foretell where the temperature
// levels off (LimitPrediction); once that is firm and further than
// kPredictionMarginTenths beyond the tolerance above the setpoint, the
// setpoint is out of reach. A cooler whose curve the prediction cannot
// follow is still told once the drive has stayed at full while the
// temperature did not fall by kStallTenths within kStallSeconds.
class SetpointWatch {
public:
    static constexpr double kStallSeconds = 60.0;
    static constexpr std::int32_t kStallTenths = 2;
    static constexpr std::int32_t kDefaultTolerance = 5;  // 0.5 C
    // A predicted limit this far beyond the tolerance: out of reach. The
    // margin keeps a prediction's error from ever calling a setpoint the
    // cooler reaches out of reach.
    static constexpr std::int32_t kPredictionMarginTenths = 5;
    // A drive byte at or above this counts as full.
    static constexpr std::int32_t kFullDriveThreshold = 250;

    explicit SetpointWatch(std::int32_t setpoint, std::int32_t tolerance = kDefaultTolerance);

    SetpointProgress Observe(double seconds, const CoolingReading& reading);
    std::int32_t Setpoint() const { return setpoint; }
    // The coldest temperature seen since the watch began (tenths of a degree).
    std::int32_t Coldest() const { return coldest; }
    // Where the cooler levels off: the firm prediction when there is one,
    // else the coldest temperature seen (tenths of a degree).
    std::int32_t Limit() const;
    // "the cooler cannot reach -45.0 C: at full drive the sensor levels off
    // at about -20.0 C (choose a setpoint of -19.5 C or warmer)": how every
    // program says it.
    std::string OutOfReachText() const;

private:
    std::int32_t setpoint;
    std::int32_t tolerance;
    std::int32_t coldest;
    bool seen = false;
    bool stretch = false;  // the drive has been at full since stretchStart
    double stretchStart = 0.0;
    std::int32_t stretchTemperature = 0;
    LimitPrediction prediction;
    std::optional<double> predicted;  // the firm prediction that decided
};

}  // namespace tarnscsi
