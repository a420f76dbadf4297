#include <tarnscsi/cooler_control.h>

#include <cstdio>

#include <tarnscsi/units.h>

#include "api/value_as_given.h"

namespace tarnscsi {

std::string SetpointProblem(double celsius) {
    const double lowest = TenthsToCelsius(kLowestSetpoint);
    const double highest = TenthsToCelsius(kHighestSetpoint);
    // Written so that NaN fails too.
    if (celsius >= lowest && celsius <= highest) return {};
    char range[64];
    std::snprintf(range, sizeof range, "%.1f to %.1f C", lowest, highest);
    return std::string("the camera takes setpoints from ") + range + ", not " + ValueAsGiven(celsius) + " C";
}

void CoolerControl::Connected(const CoolingReading& reading) {
    on = reading.coolerDrive > 0;
    watch.reset();
    warmUp.reset();
    toldReached = false;
    outOfReach.clear();
}

void CoolerControl::SetpointWritten(std::int32_t setpoint, std::int32_t tolerance) {
    on = true;
    warmUp.reset();
    watch.emplace(setpoint, tolerance);
    toldReached = false;
    outOfReach.clear();
}

std::optional<std::int32_t> CoolerControl::ActiveSetpoint() const {
    if (!on || !watch) return std::nullopt;
    return watch->Setpoint();
}

void CoolerControl::StartWarmUp(const CoolingReading& reading, double degreesPerMinute, double now) {
    on = false;
    watch.reset();
    toldReached = false;
    outOfReach.clear();
    warmUp.emplace(reading.temperature, degreesPerMinute);
    warmUpStart = now;
}

bool CoolerControl::WarmUpBeforeDisconnect(const CoolingReading& reading) const {
    return on || WarmingUp() || reading.coolerDrive > 0;
}

CoolerStep CoolerControl::Poll(const CoolingReading& reading, double now) {
    CoolerStep step;
    if (warmUp) {
        step.write = warmUp->Setpoint(now - warmUpStart, reading);
        if (warmUp->Done()) {
            step.event = warmUp->AlreadyIdle() ? CoolerEvent::kWasIdle : CoolerEvent::kWarmedUp;
            warmUp.reset();
        }
        return step;
    }
    if (!on || !watch || !outOfReach.empty()) return step;
    switch (watch->Observe(now, reading)) {
        case SetpointProgress::kOutOfReach:
            outOfReach = watch->OutOfReachText();
            step.event = CoolerEvent::kOutOfReach;
            break;
        case SetpointProgress::kReached:
            if (!toldReached) step.event = CoolerEvent::kReached;
            toldReached = true;
            break;
        case SetpointProgress::kApproaching: break;
    }
    return step;
}

std::optional<std::int32_t> CoolerControl::OutOfReachLimit() const {
    if (outOfReach.empty() || !watch) return std::nullopt;
    return watch->Limit();
}

}  // namespace tarnscsi
