// The setup and status page (/setup paths): the camera's identity, its
// temperature and cooler, the current exposure and the server's settings,
// in plain HTML without scripts.
#pragma once

#include <string>

#include "camera_device.h"
#include "server_options.h"

namespace tarnscsi::alpaca {

// The exposure's state in a word or two: "idle", "reading out".
const char* StateName(CameraState state);

std::string SetupPage(const DeviceStatus& status, const ServerOptions& options, int port, int discoveryPort);

}  // namespace tarnscsi::alpaca
