#include "camera_session.h"

#include <cstdio>

#include "errors.h"

namespace tarnscsi::tool {

void WarnAboutManagerSettings() {
    // A refused setting of the manager leaves its default in force: worth
    // knowing before a long exposure, whichever command is run.
    if (const std::string problem = ManagerSettingsProblem(); !problem.empty()) {
        std::fprintf(stderr, "tarnscsi: warning: %s\n", problem.c_str());
    }
}

std::unique_ptr<Camera> OpenCamera() {
    WarnAboutManagerSettings();
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
    std::string text = "cannot connect to the camera: " + ConnectFailureExplained(error, detail);
    if (error == ConnectError::kMissingManager) text += " (tarnscsi --simulate ...)";
    return text;
}

std::string CommandFailure(const std::string& what, const CommandResult& result) {
    return what + ": " + result.Explained();
}

}  // namespace tarnscsi::tool
