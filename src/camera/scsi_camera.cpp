#include "camera/scsi_camera.h"

#include <cstring>

namespace tarnscsi {

using namespace tarnscsi::camera;

ScsiCamera::ScsiCamera() { FindCamera(); }

ScsiCamera::~ScsiCamera() {
    // Before the base class lets go of the manager that holds the claim.
    if (claimed) ReleaseTarget(static_cast<std::uint8_t>(adapterId), static_cast<std::uint8_t>(targetId));
}

bool ScsiCamera::IsValid() const { return AspiTransport::IsValid() && found; }

ConnectError ScsiCamera::Error() const {
    if (!AspiTransport::IsValid()) return AspiTransport::Error();
    if (found) return ConnectError::kNone;
    return heldElsewhere ? ConnectError::kCameraInUse : ConnectError::kCameraNotFound;
}

void ScsiCamera::FindCamera() {
    const tarnscsi::aspi::DWORD info = GetSupportInfo();
    if (tarnscsi::aspi::SupportStatus(info) != tarnscsi::aspi::SS_COMP) return;
    adapterCount = tarnscsi::aspi::SupportAdapterCount(info);

    // Adapters outside, targets inside, both ascending: the first match in
    // (adapter, target) order is the camera. Logical unit is always 0.
    for (std::uint32_t adapter = 0; adapter < adapterCount && !found; ++adapter) {
        for (std::uint8_t target = 0; target < tarnscsi::aspi::kTargetsPerAdapter && !found; ++target) {
            tarnscsi::aspi::SRB_GDEVBlock query{};
            query.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
            query.SRB_HaId = static_cast<std::uint8_t>(adapter);
            query.SRB_Target = target;
            // The block starts zeroed, so a target that does not answer
            // leaves device type 0, never a stale 6 from an earlier one.
            SendRequest(&query);
            if (query.SRB_DeviceType != kScannerDeviceType) continue;
            if (TryTarget(static_cast<std::uint8_t>(adapter), target, query.SRB_DeviceType)) {
                found = true;
                adapterId = adapter;
                targetId = target;
            }
        }
    }
    if (found) {
        heldElsewhere = false;
        inUseDetail.clear();
    }
}

bool ScsiCamera::TryTarget(std::uint8_t adapter, std::uint8_t target, std::uint8_t deviceType) {
    // Claimed before anything is sent to it, so that a camera another
    // program drives never sees a command of ours.
    std::string holder;
    const Claim claim = ClaimTarget(adapter, target, holder);
    if (claim == Claim::kHeld) {
        if (!heldElsewhere) {
            heldElsewhere = true;
            inUseDetail = "camera at adapter " + std::to_string(adapter) + ", target " + std::to_string(target) +
                          " is in use by " + holder;
        }
        return false;
    }
    if (Identify(adapter, target, deviceType)) {
        claimed = claim == Claim::kClaimed;
        return true;
    }
    if (!unanswered && LastResult().sent && LastResult().hostStatus == tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT)
        unanswered = Address{adapter, target};
    if (claim == Claim::kClaimed) ReleaseTarget(adapter, target);
    return false;
}

bool ScsiCamera::Identify(std::uint8_t adapter, std::uint8_t target, std::uint8_t deviceType) {
    // Cleared first so that a short answer is compared against zeros, not
    // against what an earlier target left.
    std::memset(dataBuffer, 0, kDataBufferSize);
    if (!Run(kIdentify, dataBuffer, kIdentify.dataLength, adapter, target)) return false;
    return IsCamera(deviceType, dataBuffer);
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
