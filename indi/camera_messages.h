// How the driver words what the camera said, for its log: every failure
// names the command, how it ended (statuses and sense) and what to try.
#pragma once

#include <string>

#include <tarnscsi/camera.h>
#include <tarnscsi/result.h>

namespace tarnscsi::indi {

// "MODE SENSE(6): CHECK CONDITION, sense ...; the camera is not ready: wait
// for it and try again": the command's outcome and the advice, if any.
std::string Explained(const CommandResult& result);

// "Camera in use (camera at adapter 0, target 2 is in use by tarnscsi, PID
// 4242); another program ...": the module's message, what more the library
// said, and the advice.
std::string ConnectFailure(ConnectError error, const std::string& detail = "");

}  // namespace tarnscsi::indi
