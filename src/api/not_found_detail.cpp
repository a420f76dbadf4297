#include "api/not_found_detail.h"

namespace tarnscsi {
namespace {

// The SCSI generic manager's words for a node this user may not open:
// "/dev/sg3 [2:0:4:0] adapter 0, target 4, lun 0: cannot open: Permission denied".
constexpr char kNoPermission[] = ": cannot open: Permission denied";

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

}  // namespace tarnscsi
