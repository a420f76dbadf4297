// Opening the camera for a command.
#pragma once

#include <memory>
#include <string>

#include "api/camera.h"

namespace tarnscsi::tool {

// Connects; throws ToolError with the module's message (for example
// "Missing wnaspi32" or "Camera not found") when that fails. Destroying the
// camera disconnects.
std::unique_ptr<Camera> OpenCamera();

// What to tell a person when connecting failed with the module's `error`:
// the message, and where one helps, what to try next.
std::string ConnectFailureText(const std::string& error);

}  // namespace tarnscsi::tool
