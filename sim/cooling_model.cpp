#include "sim/cooling_model.h"

#include <algorithm>
#include <cmath>

namespace sim {

CoolingModel::CoolingModel(const SimClock& clock) : clock_(clock), updated_(clock.Now()) {}

std::int32_t CoolingModel::Goal() const {
    if (!coolerOn_) {
        return kAmbientTenths;
    }
    return std::clamp<std::int32_t>(setpoint_, kAmbientTenths - kCoolerReachTenths, kAmbientTenths);
}

void CoolingModel::Advance() {
    const auto now = clock_.Now();
    const double goal = Goal();
    if (clock_.Instant()) {
        temperature_ = goal;
    } else {
        const double step = kCoolingRateTenthsPerSecond * clock_.SimulatedSeconds(updated_, now);
        temperature_ = temperature_ < goal ? std::min(goal, temperature_ + step)
                                           : std::max(goal, temperature_ - step);
    }
    updated_ = now;
}

void CoolingModel::SetSetpoint(std::int16_t tenths) {
    Advance();
    setpoint_ = tenths;
    coolerOn_ = true;
}

std::int32_t CoolingModel::Temperature() {
    Advance();
    return static_cast<std::int32_t>(std::lround(temperature_));
}

std::uint32_t CoolingModel::Drive() {
    Advance();
    if (!coolerOn_) {
        return 0;
    }
    if (setpoint_ < kAmbientTenths - kCoolerReachTenths) {
        return kFullDrive;
    }
    const double share = (kAmbientTenths - temperature_) / kCoolerReachTenths;
    return static_cast<std::uint32_t>(std::lround(std::clamp(share, 0.0, 1.0) * kFullDrive));
}

}  // namespace sim
