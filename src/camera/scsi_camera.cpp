#include "camera/scsi_camera.h"

#include <cstring>

#include "camera/bus_walk.h"

namespace tarnscsi {

using namespace tarnscsi::camera;

ScsiCamera::ScsiCamera() { FindCamera(); }

ScsiCamera::~ScsiCamera() {
    // Before the base class lets go of the manager that holds the claim.
    ReleaseClaim();
}

void ScsiCamera::ReleaseClaim() {
    if (!claimed) return;
    claimed = false;
    ReleaseTarget(static_cast<std::uint8_t>(adapterId), static_cast<std::uint8_t>(targetId));
}

bool ScsiCamera::IsValid() const { return AspiTransport::IsValid() && found; }

ConnectError ScsiCamera::Error() const {
    if (!AspiTransport::IsValid()) return AspiTransport::Error();
    if (found) return ConnectError::kNone;
    return heldElsewhere ? ConnectError::kCameraInUse : ConnectError::kCameraNotFound;
}

void ScsiCamera::FindCamera() {
    // Scanners only, each sent the camera's own identification; the first
    // match in the walk's (adapter, target) order is the camera.
    const WalkPlan plan{kScannerDeviceType, &kIdentify, dataBuffer};
    const tarnscsi::aspi::DWORD support = WalkBus(*this, plan, [this](const WalkedTarget& device) {
        if (device.claim == Claim::kHeld) {
            if (!heldElsewhere) {
                heldElsewhere = true;
                inUseDetail = "camera at adapter " + std::to_string(device.adapter) + ", target " +
                              std::to_string(device.target) + " is in use by " + device.holder;
            }
            return WalkStep::kNext;
        }
        if (device.answered && IsCamera(device.type, dataBuffer)) {
            found = true;
            adapterId = device.adapter;
            targetId = device.target;
            claimed = device.claim == Claim::kClaimed;
            return WalkStep::kKeepAndStop;
        }
        if (!unanswered && LastResult().sent && LastResult().hostStatus == tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT)
            unanswered = Address{device.adapter, device.target};
        return WalkStep::kNext;
    });
    if (tarnscsi::aspi::SupportStatus(support) == tarnscsi::aspi::SS_COMP)
        adapterCount = tarnscsi::aspi::SupportAdapterCount(support);
    if (found) {
        heldElsewhere = false;
        inUseDetail.clear();
    }
}

bool ScsiCamera::Run(const CommandSpec& command, std::uint8_t* data, std::uint32_t length, std::uint8_t adapter,
                     std::uint8_t target) {
    tarnscsi::aspi::SRB_ExecSCSICmd block = BuildRequest(command, data, length, adapter, target);
    return Execute(block);
}

bool ScsiCamera::Run(const CommandSpec& command, std::uint8_t* data, std::uint32_t length) {
    return Run(command, data, length, static_cast<std::uint8_t>(adapterId), static_cast<std::uint8_t>(targetId));
}

}  // namespace tarnscsi
