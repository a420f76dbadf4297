#include "camera_session.h"

#include <string>

#include "errors.h"

namespace tarnscsi::tool {

std::unique_ptr<Camera> OpenCamera() {
    std::string error;
    auto camera = Camera::Open(error);
    if (!camera) throw ToolError(ConnectFailureText(error));
    return camera;
}

std::string ConnectFailureText(const std::string& error) {
    std::string text = "cannot connect to the camera: " + error;
    if (error == "Missing wnaspi32") {
        text += " (no ASPI manager libwnaspi32.so on the library path; install ours, or try the simulated "
                "camera with --simulate)";
    } else if (error == "Camera not found") {
        text += " ('tarnscsi scan' lists what the ASPI manager sees on the bus, and why a device cannot be opened)";
    }
    return text;
}

}  // namespace tarnscsi::tool
