// What a failed search for the camera can tell beyond "Camera not found",
// from the manager's own report of its look at the bus: device nodes it may
// not open, with what gives a user access to them, and a device that did
// not answer in time, with what gives it more.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/bus.h>

namespace tarnscsi {

// The group the installed udev rule gives SCSI scanners to, and the rule's
// file (packaging/60-tarnscsi.rules).
inline constexpr char kDeviceGroup[] = "plugdev";
inline constexpr char kUdevRuleFile[] = "60-tarnscsi.rules";

// "" when the report shows nothing that keeps the camera from being found.
std::string NotFoundDetail(const std::vector<std::string>& report);

// For a device that did not answer INQUIRY within the time limit: its node
// (from the manager's `nodes`) and address, the limit the manager's
// `report` names, and the setting that gives more time, where the manager
// has one (the SCSI generic manager: it has a report).
std::string UnansweredDetail(int adapter, int target, const std::vector<ManagerNode>& nodes,
                             const std::optional<std::vector<std::string>>& report);

}  // namespace tarnscsi
