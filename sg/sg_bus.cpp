#include "sg/sg_bus.h"

#include <fcntl.h>
#include <scsi/sg.h>

#include <exception>
#include <system_error>
#include <utility>

#include "manager/scsi_outcome.h"
#include "sg/bus_layout.h"
#include "sg/linux_status.h"
#include "sg/sg_carrier.h"
#include "sg/sysfs_listing.h"

namespace tarnscsi::sg {
namespace {

constexpr char kDeviceDirectory[] = "/dev/";
// Read-write for SG_IO; non-blocking so that a device another program holds
// exclusively fails at once (EBUSY) instead of hanging the caller.
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
constexpr std::uint8_t kUnknownDeviceType = 0x1F;
constexpr unsigned kAdapterShift = 16;
constexpr unsigned kTargetShift = 8;

std::uint32_t Key(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    return (std::uint32_t{adapter} << kAdapterShift) | (std::uint32_t{target} << kTargetShift) | lun;
}

std::string ErrorText(int error) { return std::generic_category().message(error); }

}  // namespace

struct SgBus::Device {
    Device(SgSystem& owner, std::string nodePath) : system(owner), node(std::move(nodePath)) {}
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        if (descriptor >= 0) {
            system.Close(descriptor);
        }
    }

    SgSystem& system;
    const std::string node;
    std::optional<LinuxAddress> linuxAddress;
    std::optional<AspiAddress> place;
    std::optional<std::uint8_t> type;
    int descriptor = -1;
    std::string problem;    // why it cannot be used; "" when it can
    std::string lastError;  // of the last command SG_IO could not carry
};

SgBus::SgBus(SgSystem& sgSystem, std::chrono::milliseconds limit) : system(sgSystem), timeLimit(limit) {}

void SgBus::Rescan() {
    std::lock_guard lock(mutex);
    ScanLocked();
}

void SgBus::EnsureScannedLocked() {
    if (!scanned) {
        ScanLocked();
    }
}

void SgBus::ScanLocked() {
    scanned = true;
    driverPresent = false;
    adapterLines.clear();
    devices.clear();
    placed.clear();
    try {
        const SysfsListing listing = ListScsiGeneric(system.SysfsRoot());
        driverPresent = listing.driverPresent;
        const BusLayout layout = LayOut(listing.entries);
        for (std::size_t adapter = 0; adapter < layout.adapters.size(); ++adapter) {
            adapterLines.push_back("adapter " + std::to_string(adapter) + " = host " +
                                   std::to_string(layout.adapters[adapter].first) + ", channel " +
                                   std::to_string(layout.adapters[adapter].second));
        }
        for (std::size_t i = 0; i < listing.entries.size(); ++i) {
            const SgEntry& entry = listing.entries[i];
            auto device = std::make_shared<Device>(system, kDeviceDirectory + entry.name);
            device->linuxAddress = entry.address;
            device->place = layout.placements[i];
            device->type = entry.deviceType;
            device->problem = layout.problems[i];
            devices.push_back(device);
            if (!device->place) {
                continue;
            }
            placed[Key(device->place->adapter, device->place->target, device->place->lun)] = device;

            const int descriptor = system.Open(device->node, kOpenFlags);
            if (descriptor < 0) {
                device->problem = "cannot open: " + ErrorText(-descriptor);
                continue;
            }
            int version = 0;
            const int asked = system.Ioctl(descriptor, SG_GET_VERSION_NUM, &version);
            if (asked < 0 || version < kFirstSgIoVersion) {
                device->problem = asked < 0 ? "not a SCSI generic device: " + ErrorText(-asked)
                                            : "sg driver too old for SG_IO (version " + std::to_string(version) + ")";
                system.Close(descriptor);
                continue;
            }
            device->descriptor = descriptor;
            if (!device->type) {
                sg_scsi_id id{};
                if (system.Ioctl(descriptor, SG_GET_SCSI_ID, &id) >= 0) {
                    device->type = static_cast<std::uint8_t>(id.scsi_type);
                }
            }
        }
    } catch (const std::exception& e) {
        // A half-read sysfs must not take the host program down with it.
        adapterLines.clear();
        devices.clear();
        placed.clear();
        notes.push_back(std::string("looking at the bus failed: ") + e.what());
    }
}

void SgBus::AddNote(std::string note) {
    std::lock_guard lock(mutex);
    notes.push_back(std::move(note));
}

std::vector<std::string> SgBus::Report() {
    std::lock_guard lock(mutex);
    EnsureScannedLocked();
    std::vector<std::string> lines;
    if (!driverPresent) {
        lines.emplace_back("no /sys/class/scsi_generic: the sg driver is not loaded (modprobe sg)");
    } else if (devices.empty()) {
        lines.emplace_back("no SCSI generic devices in /sys/class/scsi_generic");
    }
    lines.insert(lines.end(), adapterLines.begin(), adapterLines.end());
    for (const DevicePtr& device : devices) {
        std::string line = device->node;
        if (device->linuxAddress) {
            line += " [" + ToString(*device->linuxAddress) + "]";
        }
        if (device->place) {
            line += " adapter " + std::to_string(device->place->adapter) + ", target " +
                    std::to_string(device->place->target) + ", lun " + std::to_string(device->place->lun);
        }
        line += device->problem.empty() ? ": usable" : ": " + device->problem;
        if (!device->lastError.empty()) {
            line += "; last command failed: " + device->lastError;
        }
        lines.push_back(std::move(line));
    }
    lines.insert(lines.end(), notes.begin(), notes.end());
    return lines;
}

std::uint8_t SgBus::AdapterCount() {
    std::lock_guard lock(mutex);
    EnsureScannedLocked();
    return static_cast<std::uint8_t>(adapterLines.size());
}

SgBus::DevicePtr SgBus::Find(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    std::lock_guard lock(mutex);
    EnsureScannedLocked();
    const auto found = placed.find(Key(adapter, target, lun));
    return found == placed.end() ? nullptr : found->second;
}

std::optional<std::uint8_t> SgBus::DeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    const DevicePtr device = Find(adapter, target, lun);
    if (!device) {
        return std::nullopt;
    }
    return device->type.value_or(kUnknownDeviceType);
}

tarnscsi::manager::ScsiOutcome SgBus::Execute(const tarnscsi::manager::ScsiCommand& command) {
    const DevicePtr device = Find(command.adapter, command.target, command.lun);
    if (!device || device->descriptor < 0) {
        // Nothing there, or nothing this process may talk to.
        return tarnscsi::manager::SelectionTimeoutOutcome();
    }
    const Carried carried = Carry(system, device->descriptor, command, timeLimit);
    if (carried.error != 0) {
        std::lock_guard lock(mutex);
        device->lastError = ErrorText(carried.error);
    }
    return carried.outcome;
}

}  // namespace tarnscsi::sg