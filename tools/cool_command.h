// The cool subcommand: sends a setpoint and, when asked, waits until the
// sensor is within a tolerance of it (or the cooler plainly cannot get
// there), showing temperature and cooler drive; or warms the sensor up
// gently and leaves the cooler idle (--off).
#pragma once

#include <chrono>

#include <tarnscsi/camera.h>

#include "options.h"

namespace tarnscsi::tool {

// Where the waits take their time from: the steady clock, or in tests one
// that moves the simulated camera's clock.
class WaitClock {
public:
    virtual ~WaitClock() = default;
    virtual std::chrono::steady_clock::duration Elapsed() const = 0;
    // Throws Interrupted on Ctrl-C.
    virtual void Sleep(std::chrono::steady_clock::duration duration) = 0;
};

// The steady clock, sleeping in slices that notice Ctrl-C.
class SteadyWaitClock : public WaitClock {
public:
    std::chrono::steady_clock::duration Elapsed() const override;
    void Sleep(std::chrono::steady_clock::duration duration) override;

private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Throws ToolError (no camera, setpoint refused, no readings, time limit
// passed, setpoint out of reach) or Interrupted.
void RunCool(const CoolRequest& request);
void RunCool(const CoolRequest& request, WaitClock& clock);

// Waits until the sensor is within request.tolerance of request.setpoint,
// showing temperature and cooler drive, and returns the reading that got
// there. Throws ToolError when the time limit passes, readings stop or the
// cooler cannot reach the setpoint, and Interrupted on Ctrl-C.
CoolingReading WaitForSetpoint(Camera& camera, const CoolRequest& request, WaitClock& clock);

}  // namespace tarnscsi::tool
