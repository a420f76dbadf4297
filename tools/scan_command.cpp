#include "scan_command.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/bus.h>
#include <tarnscsi/result.h>

#include "camera_session.h"
#include "exit_codes.h"
#include "json_events.h"

namespace tarnscsi::tool {

namespace {

// The support word's status: "ok" when the manager answered, else its name.
std::string StatusText(const BusScan& scan) {
    return scan.SupportCompleted() ? std::string("ok") : RequestStatusName(scan.supportStatus);
}

// Why the manager could not be used, with the dynamic linker's words.
std::string LoadFailure(const BusScan& scan) {
    std::string text = ConnectErrorText(scan.error);
    if (!scan.loaderMessage.empty()) text += " (" + scan.loaderMessage + ")";
    return text;
}

template <typename Number>
nlohmann::json OptionalNumber(const std::optional<Number>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The device nodes the manager names, each address a field of its own.
nlohmann::json NodesJson(const std::vector<ManagerNode>& nodes) {
    nlohmann::json out = nlohmann::json::array();
    for (const ManagerNode& node : nodes) {
        out.push_back({{"node", node.node},
                       {"host", OptionalNumber(node.host)},
                       {"channel", OptionalNumber(node.channel)},
                       {"scsi_target", OptionalNumber(node.scsiTarget)},
                       {"lun", OptionalNumber(node.lun)},
                       {"adapter", OptionalNumber(node.adapter)},
                       {"target", OptionalNumber(node.target)},
                       {"aspi_lun", OptionalNumber(node.aspiLun)},
                       {"state", NodeState(node)}});
    }
    return out;
}

void PrintJson(const BusScan& scan) {
    nlohmann::json out;
    out["manager"] = scan.managerPath.empty() ? nlohmann::json(nullptr) : nlohmann::json(scan.managerPath);
    if (!scan.loaded) {
        out["error"] = LoadFailure(scan);
        std::printf("%s\n", JsonText(out, kJsonIndent).c_str());
        return;
    }
    out["status"] = StatusText(scan);
    out["adapters"] = scan.adapters;
    out["devices"] = nlohmann::json::array();
    const BusDevice* const camera = scan.Camera();
    out["camera"] = camera != nullptr ? nlohmann::json{{"adapter", camera->adapter}, {"target", camera->target}}
                                      : nlohmann::json(nullptr);
    for (const BusDevice& device : scan.devices) {
        nlohmann::json entry = {{"adapter", device.adapter},
                                {"target", device.target},
                                {"type", device.type},
                                {"type_name", DeviceTypeName(device.type)},
                                {"camera", device.camera}};
        if (device.identified) {
            entry["vendor"] = device.vendor;
            entry["product"] = device.product;
            entry["revision"] = device.revision;
        } else if (!device.heldBy.empty()) {
            entry["held_by"] = device.heldBy;
        } else {
            entry["error"] = device.inquiry.Describe();
        }
        if (const ManagerNode* node = scan.NodeAt(device.adapter, device.target)) {
            entry["node"] = node->node;
            entry["host"] = OptionalNumber(node->host);
            entry["channel"] = OptionalNumber(node->channel);
            entry["scsi_target"] = OptionalNumber(node->scsiTarget);
            entry["lun"] = OptionalNumber(node->lun);
        }
        out["devices"].push_back(std::move(entry));
    }
    out["nodes"] = NodesJson(scan.nodes);
    out["report"] = scan.report ? nlohmann::json(*scan.report) : nlohmann::json(nullptr);
    std::printf("%s\n", JsonText(out, kJsonIndent).c_str());
}

void PrintText(const BusScan& scan) {
    if (!scan.loaded) {
        std::fprintf(stderr, "tarnscsi: error: cannot use the ASPI manager: %s\n", LoadFailure(scan).c_str());
        if (const std::string advice = ConnectAdviceText(scan.error); !advice.empty()) {
            std::fprintf(stderr, "%s\n", advice.c_str());
        }
        return;
    }
    std::printf("Manager:       %s\n", scan.managerPath.empty() ? "(unknown path)" : scan.managerPath.c_str());
    std::printf("Host adapters: %d (%s)\n", scan.adapters, StatusText(scan).c_str());
    if (!scan.devices.empty()) {
        std::printf("\n%-7s  %-6s  %-16s  %-8s  %-16s  %s\n", "Adapter", "Target", "Type", "Vendor", "Product",
                    "Revision");
    }
    const BusDevice* const camera = scan.Camera();
    bool held = false;
    for (const BusDevice& device : scan.devices) {
        const std::string type = std::to_string(device.type) + " " + DeviceTypeName(device.type);
        if (device.identified) {
            std::printf("%-7d  %-6d  %-16s  %-8s  %-16s  %-4s%s\n", device.adapter, device.target, type.c_str(),
                        device.vendor.c_str(), device.product.c_str(), device.revision.c_str(),
                        &device == camera ? "  <- the camera" : "");
        } else if (!device.heldBy.empty()) {
            // Never asked: another program's commands are under way there.
            std::printf("%-7d  %-6d  %-16s  (in use by %s: not asked)\n", device.adapter, device.target, type.c_str(),
                        device.heldBy.c_str());
            held = true;
        } else {
            std::printf("%-7d  %-6d  %-16s  (%s%s)\n", device.adapter, device.target, type.c_str(),
                        device.inquiry.Describe().c_str(), scan.report ? "; see the manager report" : "");
        }
    }
    if (scan.adapters > 0 && scan.devices.empty()) {
        std::printf("\nNo device answered at the targets the module searches.\n");
    }
    if (camera == nullptr && held) {
        std::printf(
            "\nNo camera found among the devices asked; a device in use by another program may be it"
            " (close that program, then scan again).\n");
    } else if (camera == nullptr) {
        std::printf("\nNo camera found.\n");
    }
    if (scan.report) {
        std::printf("\nManager report:\n");
        for (const std::string& line : *scan.report) std::printf("  %s\n", line.c_str());
    }
}

}  // namespace

std::string NodeState(const ManagerNode& node) {
    std::string state = node.usable ? std::string("usable") : node.reason;
    if (!node.lastError.empty()) state += "; last command failed: " + node.lastError;
    return state;
}

int RunScan(bool json) {
    const BusScan scan = ScanBus();
    if (json) {
        PrintJson(scan);
    } else {
        PrintText(scan);
    }
    return scan.loaded ? kExitOk : kExitFailure;
}

}  // namespace tarnscsi::tool
