#include "camera/bus_walk.h"

#include <cstring>

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
    const std::optional<std::uint8_t> type = tarnscsi::aspi::DeviceTypeAnswered(status, query.SRB_DeviceType);
    if (!type || (plan.onlyType && *type != *plan.onlyType)) return std::nullopt;

    WalkedTarget device;
    device.adapter = adapter;
    device.target = target;
    device.type = *type;
    // Claimed before anything is sent to it, so that a device another
    // program drives never sees a command of ours.
    device.claim = transport.ClaimTarget(adapter, target, device.holder);
    if (device.claim == AspiTransport::Claim::kHeld) return device;
    std::memset(plan.answer, 0, plan.inquiry->dataLength);
    tarnscsi::aspi::SRB_ExecSCSICmd block =
        camera::BuildRequest(*plan.inquiry, plan.answer, plan.inquiry->dataLength, adapter, target);
    device.answered = transport.Execute(block);
    return device;
}

}  // namespace tarnscsi
