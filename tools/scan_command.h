// The scan subcommand: which ASPI manager the module loads, what it sees on
// the bus (adapter, target, device type, INQUIRY vendor and product, and
// which device is the camera), and the manager's report on devices it
// could not use. As text or as one JSON object.
#pragma once

#include <string>

#include <tarnscsi/bus.h>

namespace tarnscsi::tool {

// A manager's node as its state reads in `scan --json`: "usable" or why not,
// then "; last command failed: ..." when a command could not be carried.
std::string NodeState(const ManagerNode& node);

// Returns the exit code: success whenever the manager could be asked, camera
// or not; failure when no manager could be loaded.
int RunScan(bool json);

}  // namespace tarnscsi::tool
