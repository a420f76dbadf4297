// The cooler as the driver runs it, on the library's cooling rules
// (<tarnscsi/cooling.h>): the cooler switch, a warm-up when it is turned off
// (the setpoint rises gently until the sensor sits at ambient, then the
// cooler idles), the last setpoint to return to when it is turned on again,
// and a setpoint the cooler cannot reach. Pure logic over readings and
// times in seconds: the driver reads the camera, polls this, and writes the
// setpoint it is told.
#pragma once

#include <cstdint>
#include <optional>

#include <tarnscsi/cooling.h>

namespace tarnscsi::indi {

enum class CoolerEvent {
    kNone,
    kOutOfReach,  // the setpoint cannot be reached (told once per setpoint)
    kWarmedUp,    // the warm-up is done: the cooler idles
    kWasIdle,     // the warm-up found the cooler idle at ambient already: nothing to warm
};

struct CoolerStep {
    std::optional<std::int32_t> write;  // a setpoint to send now (tenths of a degree)
    CoolerEvent event = CoolerEvent::kNone;
};

class CoolerControl {
public:
    // After connecting: the camera cannot tell its setpoint, only whether
    // its cooler works.
    void Connected(const CoolingReading& reading);

    // A setpoint was written at a client's request (or a step of INDI's
    // cooling ramp): the cooler is on and this is watched.
    void SetpointWritten(std::int32_t setpoint);

    // Cooler off: the warm-up starts from `reading` at `degreesPerMinute`.
    void StartWarmUp(const CoolingReading& reading, double degreesPerMinute, double now);

    // Called with each reading.
    CoolerStep Poll(const CoolingReading& reading, double now);

    bool On() const { return on; }
    bool WarmingUp() const { return warmUp.has_value(); }
    // The setpoint the cooler holds when on, if one was written.
    std::optional<std::int32_t> ActiveSetpoint() const;
    // The best the cooler did while it could not reach the setpoint.
    std::int32_t Coldest() const { return watch ? watch->Coldest() : 0; }

private:
    bool on = false;
    std::optional<SetpointWatch> watch;
    bool toldOutOfReach = false;
    std::optional<WarmUp> warmUp;
    double warmUpStart = 0.0;
};

}  // namespace tarnscsi::indi
