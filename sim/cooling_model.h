// The camera's cooling, simply: the sensor starts at ambient with the cooler
// off; a setpoint switches the cooler on and the temperature moves towards
// it at a fixed rate, never more than the cooler's reach below ambient and
// never above ambient. Worked out from the clock whenever asked.
// Temperatures in tenths of a degree Celsius.
#pragma once

#include <cstdint>

#include "sim/sim_clock.h"

namespace sim {

inline constexpr std::int32_t kAmbientTenths = 200;        // +20.0 C
inline constexpr std::int32_t kCoolerReachTenths = 400;    // 40 C below ambient at most
inline constexpr double kCoolingRateTenthsPerSecond = 10;  // 1 C per simulated second
inline constexpr std::uint32_t kFullDrive = 255;

class CoolingModel {
public:
    explicit CoolingModel(const SimClock& clock);

    void SetSetpoint(std::int16_t tenths);
    std::int16_t Setpoint() const { return setpoint_; }

    std::int32_t Temperature();
    // 0 (off) to 255: in proportion to the distance below ambient, full when
    // the setpoint is out of reach.
    std::uint32_t Drive();

private:
    void Advance();
    std::int32_t Goal() const;

    const SimClock& clock_;
    bool coolerOn_ = false;
    std::int16_t setpoint_ = 0;
    double temperature_ = kAmbientTenths;
    SimClock::Clock::time_point updated_;
};

}  // namespace sim
