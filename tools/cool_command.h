// The cool subcommand: sends a setpoint and, when asked, waits until the
// sensor is within a tolerance of it, showing temperature and cooler drive.
#pragma once

#include <tarnscsi/camera.h>

#include "options.h"

namespace tarnscsi::tool {

// Throws ToolError (no camera, setpoint refused, no readings, time limit
// passed) or Interrupted.
void RunCool(const CoolRequest& request);

// Waits until the sensor is within request.tolerance of request.setpoint,
// showing temperature and cooler drive, and returns the reading that got
// there. Throws ToolError when the time limit passes or readings stop, and
// Interrupted on Ctrl-C.
CoolingReading WaitForSetpoint(Camera& camera, const CoolRequest& request);

}  // namespace tarnscsi::tool
