// What a failed search for the camera can tell beyond "Camera not found",
// from the manager's own report of its look at the bus: device nodes it may
// not open, with what gives a user access to them.
#pragma once

#include <string>
#include <vector>

namespace tarnscsi {

// The group the installed udev rule gives SCSI scanners to, and the rule's
// file (packaging/60-tarnscsi.rules).
inline constexpr char kDeviceGroup[] = "plugdev";
inline constexpr char kUdevRuleFile[] = "60-tarnscsi.rules";

// "" when the report shows nothing that keeps the camera from being found.
std::string NotFoundDetail(const std::vector<std::string>& report);

}  // namespace tarnscsi
