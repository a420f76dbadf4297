// Opening the camera for a command.
#pragma once

#include <memory>

#include "api/camera.h"

namespace tarnscsi::tool {

// Connects; throws ToolError with the module's message (for example
// "Missing wnaspi32" or "Camera not found") when that fails. Destroying the
// camera disconnects.
std::unique_ptr<Camera> OpenCamera();

}  // namespace tarnscsi::tool
