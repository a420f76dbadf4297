#include "cooler_control.h"

namespace tarnscsi::indi {

void CoolerControl::Connected(const CoolingReading& reading) {
    on = reading.coolerDrive > 0;
    watch.reset();
    warmUp.reset();
    toldOutOfReach = false;
}

void CoolerControl::SetpointWritten(std::int32_t setpoint) {
    on = true;
    warmUp.reset();
    watch.emplace(setpoint);
    toldOutOfReach = false;
}

std::optional<std::int32_t> CoolerControl::ActiveSetpoint() const {
    if (!on || !watch) return std::nullopt;
    return watch->Setpoint();
}

void CoolerControl::StartWarmUp(const CoolingReading& reading, double degreesPerMinute, double now) {
    on = false;
    watch.reset();
    toldOutOfReach = false;
    warmUp.emplace(reading.temperature, degreesPerMinute);
    warmUpStart = now;
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
    if (on && watch && watch->Observe(now, reading) == SetpointProgress::kOutOfReach && !toldOutOfReach) {
        toldOutOfReach = true;
        step.event = CoolerEvent::kOutOfReach;
    }
    return step;
}

}  // namespace tarnscsi::indi
