#include "api/not_found_detail.h"

#include "aspi_sg_report.h"

namespace tarnscsi {
namespace {

// The SCSI generic manager's words for a node this user may not open:
// "/dev/sg3 [2:0:4:0] adapter 0, target 4, lun 0: cannot open: Permission denied".
constexpr char kNoPermission[] = ": cannot open: Permission denied";
// The SCSI generic manager's note of the limit it gives every command:
// "command time limit: 60 s".
constexpr char kTimeLimitNote[] = "command time limit: ";

}  // namespace

std::string NotFoundDetail(const std::vector<std::string>& report) {
    std::string nodes;
    for (const std::string& line : report) {
        if (line.find(kNoPermission) == std::string::npos) continue;
        const std::string node = line.substr(0, line.find(' '));
        nodes += (nodes.empty() ? "" : ", ") + node;
    }
    if (nodes.empty()) return {};
    return std::string("this user may not open ") + nodes + " (Permission denied): the udev rule " + kUdevRuleFile +
           " gives SCSI scanners such as the camera to group " + kDeviceGroup +
           "; install it (then 'sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=scsi_generic') "
           "and join the group ('sudo usermod -aG " +
           kDeviceGroup + " $USER', then log in again)";
}

std::string UnansweredDetail(int adapter, int target, const std::vector<ManagerNode>& nodes,
                             const std::optional<std::vector<std::string>>& report) {
    const std::string address = "adapter " + std::to_string(adapter) + ", target " + std::to_string(target);
    std::string text = "the device at " + address;
    for (const ManagerNode& node : nodes) {
        if (node.adapter == adapter && node.target == target) text = node.node + " (" + address + ")";
    }
    text += " did not answer INQUIRY within the time limit";
    if (!report) return text + "; if it is the camera, check that it is switched on and has finished starting";
    for (const std::string& line : *report) {
        if (line.rfind(kTimeLimitNote, 0) == 0) text += " (" + line + ")";
    }
    return text + "; if it is the camera and needs longer to answer, set " + SG_TIME_LIMIT_VARIABLE +
           " to more seconds";
}

}  // namespace tarnscsi
