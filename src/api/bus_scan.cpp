// The bus scan: every target the module searches, through the module's own
// transport, so it sees exactly what the module sees.
#include <tarnscsi/bus.h>

#include <array>
#include <cstdio>

#include <tarnscsi/manager.h>

#include "api/inquiry_text.h"
#include "camera/request_block.h"
#include "camera_identity.h"
#include "common/dynamic_library.h"
#include "peripheral_types.h"
#include "transport/aspi_transport.h"

namespace tarnscsi {

namespace {

void IdentifyClaimed(AspiTransport& transport, BusDevice& device);

void Identify(AspiTransport& transport, BusDevice& device) {
    // Claimed for the INQUIRY only, like every target the module would send
    // one to during its search; a device another program holds is left alone.
    const auto adapter = static_cast<std::uint8_t>(device.adapter);
    const auto target = static_cast<std::uint8_t>(device.target);
    const AspiTransport::Claim claim = transport.ClaimTarget(adapter, target, device.heldBy);
    if (claim == AspiTransport::Claim::kHeld) {
        if (device.heldBy.empty()) device.heldBy = "another program";  // the lock table did not say who
        return;
    }
    IdentifyClaimed(transport, device);
    if (claim == AspiTransport::Claim::kClaimed) transport.ReleaseTarget(adapter, target);
}

void IdentifyClaimed(AspiTransport& transport, BusDevice& device) {
    std::array<std::uint8_t, tarnscsi::camera::kInquiryStandardLength> data{};
    tarnscsi::aspi::SRB_ExecSCSICmd block = tarnscsi::camera::BuildRequest(
        tarnscsi::camera::kInquireStandard, data.data(), tarnscsi::camera::kInquireStandard.dataLength,
        static_cast<std::uint8_t>(device.adapter), static_cast<std::uint8_t>(device.target));
    device.identified = transport.Execute(block);
    device.inquiry = transport.LastResult();
    if (!device.identified) return;
    InquiryText text = ReadInquiryText(data.data());
    device.vendor = std::move(text.vendor);
    device.product = std::move(text.product);
    device.revision = std::move(text.revision);
    device.camera = tarnscsi::camera::IsCamera(device.type, data.data());
}

// The manager's path, report and nodes, from the library the transport loaded.
void DescribeManager(BusScan& scan) {
#if defined(_WIN32)
    (void)scan;
#else
    scan.managerPath = LoadedManagerPath();
    scan.report = LoadedManagerReport();
    scan.nodes = LoadedManagerNodes();
#endif
}

}  // namespace

bool BusScan::SupportCompleted() const { return supportStatus == tarnscsi::aspi::SS_COMP; }

const BusDevice* BusScan::Camera() const {
    for (const BusDevice& device : devices) {
        if (device.camera) return &device;
    }
    return nullptr;
}

const ManagerNode* BusScan::NodeAt(int adapter, int target) const {
    for (const ManagerNode& node : nodes) {
        if (node.adapter == adapter && node.target == target && node.aspiLun.value_or(0) == 0) return &node;
    }
    return nullptr;
}

std::string DeviceTypeName(std::uint8_t type) {
    if (const char* name = PeripheralTypeNameOf(type)) return name;
    char text[16];
    std::snprintf(text, sizeof text, "type 0x%02X", type);
    return text;
}

BusScan ScanBus() {
    BusScan scan;
    AspiTransport transport;
    if (!transport.IsValid()) {
        scan.error = transport.Error();
#if !defined(_WIN32)
        // The loader's own words say which file it looked for and why it failed.
        const DynamicLibrary again(kManagerFile);
        if (!again.IsLoaded()) scan.loaderMessage = again.Error();
#endif
        return scan;
    }
    scan.loaded = true;
    const tarnscsi::aspi::DWORD word = transport.GetSupportInfo();
    scan.supportStatus = tarnscsi::aspi::SupportStatus(word);
    if (scan.supportStatus == tarnscsi::aspi::SS_COMP) scan.adapters = tarnscsi::aspi::SupportAdapterCount(word);

    for (int adapter = 0; adapter < scan.adapters; ++adapter) {
        for (int target = 0; target < tarnscsi::aspi::kTargetsPerAdapter; ++target) {
            tarnscsi::aspi::SRB_GDEVBlock query{};
            query.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
            query.SRB_HaId = static_cast<tarnscsi::aspi::BYTE>(adapter);
            query.SRB_Target = static_cast<tarnscsi::aspi::BYTE>(target);
            if (transport.SendRequest(&query) != tarnscsi::aspi::SS_COMP) continue;
            BusDevice device;
            device.adapter = adapter;
            device.target = target;
            device.type = query.SRB_DeviceType & tarnscsi::camera::kDeviceTypeMask;
            Identify(transport, device);
            scan.devices.push_back(std::move(device));
        }
    }
    // Last, so that the report also tells of commands that failed above.
    DescribeManager(scan);
    return scan;
}

}  // namespace tarnscsi
