// The camera's thermoelectric cooler. The sensor sits on a cold plate the
// cooler pumps heat from; left alone it relaxes towards ambient with a
// thermal time constant. A drive u (0 = off .. 1 = full) holds the sensor at
// ambient - u * maxDifference in the steady state, so the cooler can hold it
// at most maxDifference below ambient. Its controller asks for a rate of
// change towards the setpoint (at most the ramp rate, easing off over the
// last degree) and sets the drive that rate needs, within 0 .. full: the
// drive rises above its holding value while it pulls the temperature down,
// and stays at full while the setpoint is out of reach. Worked out from the
// clock whenever asked; with an instant clock the sensor is at its goal at
// once. Temperatures in tenths of a degree Celsius.
#pragma once

#include <cstdint>

#include "sim/sim_clock.h"

namespace tarnscsi::sim {

// What the cooler and its surroundings are like.
struct CoolerSpec {
    std::int32_t ambientTenths = 200;        // +20.0 C
    std::int32_t maxDifferenceTenths = 400;  // holds at most 40 C below ambient
    std::int32_t rateTenthsPerSecond = 10;   // ramps at most 1 C per simulated second
};

// Limits of the knobs (tenths of a degree, tenths per second).
inline constexpr std::int32_t kLowestAmbientTenths = -500;
inline constexpr std::int32_t kHighestAmbientTenths = 600;
inline constexpr std::int32_t kLargestCoolerDifferenceTenths = 1000;
inline constexpr std::int32_t kFastestCoolerRateTenths = 1000;

inline constexpr std::uint32_t kFullDrive = 255;

// What the cooler is doing: all a later process needs to carry on from it.
struct CoolerState {
    bool on = false;
    std::int16_t setpoint = 0;
    double temperature = 0.0;  // tenths of a degree
};

class CoolingModel {
public:
    // A new sensor is at the ambient temperature with its cooler off.
    CoolingModel(const SimClock& clock, const CoolerSpec& cooler);

    // Switches the cooler on and aims it at `tenths`.
    void SetSetpoint(std::int16_t tenths);
    std::int16_t Setpoint() const { return setpoint; }

    std::int32_t Temperature();
    // 0 (off) to 255 (full).
    std::uint32_t Drive();

    // After the ambient temperature changed: a sensor whose cooler is off
    // sits at ambient and takes the new one at once; a cooled sensor
    // carries on from where it is.
    void AmbientChanged();

    // The state now.
    CoolerState State();
    // Takes over a state saved `elapsedSeconds` (simulated) ago and lets it
    // evolve over that time; an instant clock puts the sensor at its goal.
    void Restore(const CoolerState& saved, double elapsedSeconds);

private:
    void Advance();
    void Evolve(double seconds);
    void Step(double seconds);
    // Drive (0..1) the controller sets at the present temperature.
    double ControlDrive() const;
    // Where an instant clock puts the sensor.
    double Goal() const;

    double Ambient() const;
    double MaxDifference() const;

    const SimClock& clock;
    const CoolerSpec& cooler;
    bool coolerOn = false;
    std::int16_t setpoint = 0;
    double temperature;
    SimClock::Time updated;
};

}  // namespace tarnscsi::sim