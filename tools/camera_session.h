// Opening the camera for a command, and how the tool words a failure of the
// connection or of a command: what failed, what the camera said, and what to
// try next.
#pragma once

#include <memory>
#include <string>

#include <tarnscsi/camera.h>
#include <tarnscsi/result.h>

namespace tarnscsi::tool {

// Connects; throws ToolError with ConnectFailureText when that fails.
// Destroying the camera disconnects.
std::unique_ptr<Camera> OpenCamera();
// Warns on stderr when the manager refused one of its settings.
void WarnAboutManagerSettings();

// "cannot connect to the camera: " and the library's wording of Connect's
// failure; where the tool itself offers a way out (--simulate), it is named.
std::string ConnectFailureText(ConnectError error, const std::string& detail = {});

// The library's advice for `error`, with the tool's own option where one helps.
std::string ConnectAdviceText(ConnectError error);

// "<what>: <the command and what the camera said>; <what to try>".
std::string CommandFailure(const std::string& what, const CommandResult& result);

}  // namespace tarnscsi::tool
