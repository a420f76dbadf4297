#include "scan_command.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "bus_probe.h"
#include "exit_codes.h"
#include "transport/aspi.h"

namespace tarnscsi::tool {

namespace {

constexpr int kJsonIndent = 2;

std::string StatusText(std::uint8_t status) {
    switch (status) {
        case aspi::SS_COMP:
            return "ok";
        case aspi::SS_NO_ADAPTERS:
            return "no host adapters";
        default: {
            char text[16];
            std::snprintf(text, sizeof text, "status 0x%02X", status);
            return text;
        }
    }
}

void PrintJson(const BusProbe& probe) {
    nlohmann::json out;
    out["manager"] = probe.managerPath.empty() ? nlohmann::json(nullptr) : nlohmann::json(probe.managerPath);
    if (!probe.loaded) {
        out["error"] = probe.error;
        std::printf("%s\n", out.dump(kJsonIndent).c_str());
        return;
    }
    out["status"] = StatusText(probe.supportStatus);
    out["adapters"] = probe.adapters;
    out["devices"] = nlohmann::json::array();
    out["camera"] = nullptr;
    for (const ProbedDevice& device : probe.devices) {
        nlohmann::json entry = {{"adapter", device.adapter},
                                {"target", device.target},
                                {"type", device.type},
                                {"type_name", DeviceTypeName(device.type)},
                                {"camera", device.camera}};
        if (device.identified) {
            entry["vendor"] = device.vendor;
            entry["product"] = device.product;
            entry["revision"] = device.revision;
        } else {
            entry["error"] = device.inquiryError;
        }
        if (device.camera && out["camera"].is_null()) {
            out["camera"] = {{"adapter", device.adapter}, {"target", device.target}};
        }
        out["devices"].push_back(std::move(entry));
    }
    out["report"] = probe.report ? nlohmann::json(*probe.report) : nlohmann::json(nullptr);
    std::printf("%s\n", out.dump(kJsonIndent).c_str());
}

void PrintText(const BusProbe& probe) {
    if (!probe.loaded) {
        std::fprintf(stderr, "tarnscsi: error: cannot use the ASPI manager: %s\n", probe.error.c_str());
        std::fprintf(stderr, "Install the manager for real cameras, or run with --simulate for the simulated one.\n");
        return;
    }
    std::printf("Manager:       %s\n", probe.managerPath.empty() ? "(unknown path)" : probe.managerPath.c_str());
    std::printf("Host adapters: %d (%s)\n", probe.adapters, StatusText(probe.supportStatus).c_str());
    if (!probe.devices.empty()) {
        std::printf("\n%-7s  %-6s  %-16s  %-8s  %-16s  %s\n", "Adapter", "Target", "Type", "Vendor", "Product",
                    "Revision");
    }
    bool cameraSeen = false;
    for (const ProbedDevice& device : probe.devices) {
        const std::string type = std::to_string(device.type) + " " + DeviceTypeName(device.type);
        if (device.identified) {
            std::printf("%-7d  %-6d  %-16s  %-8s  %-16s  %-4s%s\n", device.adapter, device.target, type.c_str(),
                        device.vendor.c_str(), device.product.c_str(), device.revision.c_str(),
                        device.camera && !cameraSeen ? "  <- the camera" : "");
        } else {
            std::printf("%-7d  %-6d  %-16s  (%s%s)\n", device.adapter, device.target, type.c_str(),
                        device.inquiryError.c_str(), probe.report ? "; see the manager report" : "");
        }
        cameraSeen = cameraSeen || device.camera;
    }
    if (probe.adapters > 0 && probe.devices.empty()) {
        std::printf("\nNo device answered at the targets the module searches.\n");
    }
    if (!cameraSeen) std::printf("\nNo camera found.\n");
    if (probe.report) {
        std::printf("\nManager report:\n");
        for (const std::string& line : *probe.report) std::printf("  %s\n", line.c_str());
    }
}

}  // namespace

int RunScan(bool json) {
    const BusProbe probe = ProbeBus();
    if (json) {
        PrintJson(probe);
    } else {
        PrintText(probe);
    }
    return probe.loaded ? kExitOk : kExitFailure;
}

}  // namespace tarnscsi::tool
