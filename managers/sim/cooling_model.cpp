#include "sim/cooling_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tarnscsi::sim {
namespace {

// How fast the cold plate follows the cooler: the sensor covers about 63 %
// of the way to a new equilibrium in this time.
constexpr double kThermalTimeConstantSeconds = 10.0;
// The controller eases off over the last stretch: it asks for the remaining
// distance divided by this time once that is below the ramp rate.
constexpr double kSettleTimeSeconds = 1.0;
// Integration step, and the most steps one reading works out (a reading
// after a long quiet spell takes longer steps; the result has long settled).
constexpr double kStepSeconds = 0.05;
constexpr double kMostSteps = 20000;

// `to`, unless the step from `from` to `to` passes `bound`: then `bound`.
double StopAt(double from, double to, double bound) {
    const bool passes = (from <= bound && bound < to) || (to < bound && bound <= from);
    return passes ? bound : to;
}

}  // namespace

CoolingModel::CoolingModel(const SimClock& simClock, const CoolerSpec& coolerSettings)
    : clock(simClock), cooler(coolerSettings), temperature(coolerSettings.ambientTenths), updated(simClock.Now()) {}

double CoolingModel::Ambient() const { return cooler.ambientTenths; }

double CoolingModel::MaxDifference() const { return std::max(cooler.maxDifferenceTenths, 1); }

double CoolingModel::Goal() const {
    if (!coolerOn) {
        return Ambient();
    }
    return std::clamp<double>(setpoint, Ambient() - MaxDifference(), Ambient());
}

double CoolingModel::ControlDrive() const {
    if (!coolerOn) {
        return 0.0;
    }
    const double distance = setpoint - temperature;
    const double rate = std::max(cooler.rateTenthsPerSecond, 1);
    const double wanted = std::copysign(std::min(rate, std::abs(distance) / kSettleTimeSeconds), distance);
    // From the plate's balance: dT/dt = (ambient - u * maxDifference - T) / tau.
    const double drive = (Ambient() - temperature - kThermalTimeConstantSeconds * wanted) / MaxDifference();
    return std::clamp(drive, 0.0, 1.0);
}

void CoolingModel::Step(double seconds) {
    const double drive = ControlDrive();
    const double equilibrium = Ambient() - drive * MaxDifference();
    const double rate = (equilibrium - temperature) / kThermalTimeConstantSeconds;
    double next = StopAt(temperature, temperature + rate * seconds, equilibrium);
    if (coolerOn) {
        next = StopAt(temperature, next, setpoint);
    }
    temperature = next;
}

void CoolingModel::Evolve(double elapsed) {
    const double steps = std::clamp(std::ceil(elapsed / kStepSeconds), 1.0, kMostSteps);
    const double step = elapsed / steps;
    for (double i = 0; i < steps; ++i) {
        Step(step);
    }
}

void CoolingModel::Advance() {
    const auto now = clock.Now();
    if (clock.Instant()) {
        temperature = Goal();
    } else if (now > updated) {
        Evolve(std::chrono::duration<double>(now - updated).count());
    }
    updated = now;
}

CoolerState CoolingModel::State() {
    Advance();
    return {coolerOn, setpoint, temperature};
}

void CoolingModel::Restore(const CoolerState& saved, double elapsedSeconds) {
    coolerOn = saved.on;
    setpoint = saved.setpoint;
    temperature = std::isfinite(saved.temperature) ? saved.temperature : Ambient();
    updated = clock.Now();
    if (clock.Instant()) {
        temperature = Goal();
    } else if (elapsedSeconds > 0.0) {
        Evolve(elapsedSeconds);
    }
}

void CoolingModel::SetSetpoint(std::int16_t tenths) {
    Advance();
    setpoint = tenths;
    coolerOn = true;
}

void CoolingModel::AmbientChanged() {
    Advance();
    if (!coolerOn) {
        temperature = Ambient();
    }
}

std::int32_t CoolingModel::Temperature() {
    Advance();
    return static_cast<std::int32_t>(std::lround(temperature));
}

std::uint32_t CoolingModel::Drive() {
    Advance();
    return static_cast<std::uint32_t>(std::lround(ControlDrive() * kFullDrive));
}

}  // namespace tarnscsi::sim