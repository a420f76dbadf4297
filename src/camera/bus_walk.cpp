#include "camera/bus_walk.h"

#include <cstring>

#include "camera/request_block.h"

namespace tarnscsi {

std::optional<WalkedTarget> ProbeTarget(AspiTransport& transport, const WalkPlan& plan, std::uint8_t adapter,
                                        std::uint8_t target) {
    // The block starts zeroed, so a manager that writes no type leaves none
    // from an earlier target.
    tarnscsi::aspi::SRB_GDEVBlock query{};
    query.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
    query.SRB_HaId = adapter;
    query.SRB_Target = target;
    const tarnscsi::aspi::DWORD status = transport.SendRequest(&query);
    const std::uint8_t typeByte = query.SRB_DeviceType;
    std::optional<std::uint8_t> type;
    if (plan.onlyType) {
        // The search for one type reads the byte as the module always has:
        // whole, whatever status the request returned. The INQUIRY that
        // follows decides, so a manager that reports a status of its own
        // for a present device still has its camera found.
        if (typeByte != *plan.onlyType) return std::nullopt;
        type = typeByte;
    } else {
        type = tarnscsi::aspi::DeviceTypeAnswered(status, typeByte);
        if (!type) return std::nullopt;
    }

    WalkedTarget device;
    device.adapter = adapter;
    device.target = target;
    device.type = *type;
    device.typeByte = typeByte;
    // Claimed before anything is sent to it, so that a device another
    // program drives never sees a command of ours.
    device.claim = transport.ClaimTarget(adapter, target, device.holder);
    if (device.claim == AspiTransport::Claim::kHeld) return device;
    // Given back should the INQUIRY throw (the manager is foreign code);
    // once the device is handed back, the walk looks after the claim.
    HeldClaim claim(transport, device);
    std::memset(plan.answer, 0, plan.inquiry->dataLength);
    tarnscsi::aspi::SRB_ExecSCSICmd block =
        camera::BuildRequest(*plan.inquiry, plan.answer, plan.inquiry->dataLength, adapter, target);
    device.answered = transport.Execute(block);
    claim.Keep();
    return device;
}

}  // namespace tarnscsi
