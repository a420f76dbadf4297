// The bus scan: every target the module searches, through the module's own
// transport, so it sees exactly what the module sees.
#include <tarnscsi/bus.h>

#include <array>
#include <cstdio>

#include <tarnscsi/manager.h>

#include "api/inquiry_text.h"
#include "camera/bus_walk.h"
#include "camera_commands.h"
#include "camera_identity.h"
#include "common/dynamic_library.h"
#include "peripheral_types.h"
#include "transport/aspi_transport.h"

namespace tarnscsi {

namespace {

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
    // Every device, each sent the standard INQUIRY and let go again; judged
    // by the connection's own rule.
    std::array<std::uint8_t, tarnscsi::camera::kInquiryStandardLength> answer{};
    const WalkPlan plan{std::nullopt, &tarnscsi::camera::kInquireStandard, answer.data()};
    const tarnscsi::aspi::DWORD word = WalkBus(transport, plan, [&](const WalkedTarget& walked) {
        BusDevice device;
        device.adapter = walked.adapter;
        device.target = walked.target;
        device.type = walked.type;
        device.heldBy = walked.holder;
        if (walked.claim != AspiTransport::Claim::kHeld) {
            device.identified = walked.answered;
            device.inquiry = transport.LastResult();
        }
        if (device.identified) {
            InquiryText text = ReadInquiryText(answer.data());
            device.vendor = std::move(text.vendor);
            device.product = std::move(text.product);
            device.revision = std::move(text.revision);
            // By the search's own reading, so that a device marked as the
            // camera here is the one Connect takes.
            device.camera = tarnscsi::camera::IsCamera(walked.typeByte, answer.data());
        }
        scan.devices.push_back(std::move(device));
        return WalkStep::kNext;
    });
    scan.supportStatus = tarnscsi::aspi::SupportStatus(word);
    if (scan.supportStatus == tarnscsi::aspi::SS_COMP) scan.adapters = tarnscsi::aspi::SupportAdapterCount(word);
    // Last, so that the report also tells of commands that failed above.
    DescribeManager(scan);
    return scan;
}

}  // namespace tarnscsi
