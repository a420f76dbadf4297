#include "camera_session.h"

#include <string>

#include "errors.h"

namespace tarnscsi::tool {

std::unique_ptr<Camera> OpenCamera() {
    std::string error;
    auto camera = Camera::Open(error);
    if (!camera) throw ToolError("cannot connect to the camera: " + error);
    return camera;
}

}  // namespace tarnscsi::tool
