#include "camera_session.h"

#include "errors.h"

namespace tarnscsi::tool {

std::unique_ptr<Camera> OpenCamera() {
    ConnectError error = ConnectError::kNone;
    std::string detail;
    auto camera = Camera::Open(error, detail);
    if (!camera) throw ToolError(ConnectFailureText(error, detail));
    return camera;
}

std::string ConnectAdviceText(ConnectError error) {
    std::string advice = ConnectAdvice(error);
    if (error == ConnectError::kMissingManager) advice += " (tarnscsi --simulate ...)";
    return advice;
}

std::string ConnectFailureText(ConnectError error, const std::string& detail) {
    std::string text = std::string("cannot connect to the camera: ") + ConnectErrorText(error);
    if (!detail.empty()) text += ": " + detail;
    if (const std::string advice = ConnectAdviceText(error); !advice.empty()) text += " (" + advice + ")";
    return text;
}

std::string CommandFailure(const std::string& what, const CommandResult& result, const std::string& detail) {
    std::string text = what + ": " + result.Describe();
    if (!detail.empty()) text += " (" + detail + ")";
    if (const std::string advice = result.Advice(); !advice.empty()) text += "; " + advice;
    return text;
}

}  // namespace tarnscsi::tool
