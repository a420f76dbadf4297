// The status subcommand: where the camera was found, its sensor temperature
// and cooler drive; as text or as one JSON object.
#pragma once

namespace tarnscsi::tool {

// Returns the exit code. With `json`, failures are reported in the object
// too ({"connected": false, "error": ...}), so a script always gets JSON.
int RunStatus(bool json);

}  // namespace tarnscsi::tool
