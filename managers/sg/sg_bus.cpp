#include "sg/sg_bus.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>

#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

#include "core/scsi_outcome.h"
#include "core/srb_io.h"
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

std::string ShortTransferText(const tarnscsi::manager::ScsiCommand& command, std::uint32_t moved) {
    char opcode[8];
    std::snprintf(opcode, sizeof opcode, "0x%02X", command.cdb[0]);
    return std::string("data underrun: command ") + opcode + " moved " + std::to_string(moved) + " of " +
           std::to_string(command.bufferLength) + " bytes";
}

}  // namespace

struct SgBus::Device : SgDeviceState {
    explicit Device(std::string nodePath) { node = std::move(nodePath); }
};

SgBus::SgBus(SgSystem& sgSystem, std::chrono::milliseconds limit) : system(sgSystem), timeLimit(limit) {}

SgBus::~SgBus() {
    for (const auto& [key, claim] : claims) {
        system.Close(claim.descriptor);
    }
}

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
            auto device = std::make_shared<Device>(kDeviceDirectory + entry.name);
            device->linuxAddress = entry.address;
            device->place = layout.placements[i];
            device->type = entry.deviceType;
            device->problem = layout.problems[i];
            devices.push_back(device);
            if (!device->place) {
                continue;
            }
            placed[Key(device->place->adapter, device->place->target, device->place->lun)] = device;

            // A device this process has claimed is open already; any other is
            // opened for this look only.
            const int claimed = ClaimedDescriptor(device->node);
            const int descriptor = claimed >= 0 ? claimed : system.Open(device->node, kOpenFlags);
            if (descriptor < 0) {
                device->problem = "cannot open: " + ErrorText(-descriptor);
                continue;
            }
            int version = 0;
            const int asked = system.Ioctl(descriptor, SG_GET_VERSION_NUM, &version);
            if (asked < 0 || version < kFirstSgIoVersion) {
                device->problem = asked < 0 ? "not a SCSI generic device: " + ErrorText(-asked)
                                            : "sg driver too old for SG_IO (version " + std::to_string(version) + ")";
                if (claimed < 0) {
                    system.Close(descriptor);
                }
                continue;
            }
            device->usable = true;
            if (!device->type) {
                sg_scsi_id id{};
                if (system.Ioctl(descriptor, SG_GET_SCSI_ID, &id) >= 0) {
                    device->type = static_cast<std::uint8_t>(id.scsi_type);
                }
            }
            if (claimed < 0) {
                system.Close(descriptor);
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

std::vector<SgDeviceState> SgBus::DevicesLocked() {
    EnsureScannedLocked();
    std::vector<SgDeviceState> states;
    states.reserve(devices.size());
    for (const DevicePtr& device : devices) {
        states.push_back(*device);
    }
    return states;
}

std::vector<SgDeviceState> SgBus::Devices() {
    std::lock_guard lock(mutex);
    return DevicesLocked();
}

std::vector<std::string> SgBus::Report() {
    std::lock_guard lock(mutex);
    const std::vector<SgDeviceState> states = DevicesLocked();
    std::vector<std::string> lines;
    if (!driverPresent) {
        lines.emplace_back("no /sys/class/scsi_generic: the sg driver is not loaded (modprobe sg)");
    } else if (states.empty()) {
        lines.emplace_back("no SCSI generic devices in /sys/class/scsi_generic");
    }
    lines.insert(lines.end(), adapterLines.begin(), adapterLines.end());
    for (const SgDeviceState& device : states) {
        std::string line = device.node;
        if (device.linuxAddress) {
            line += " [" + ToString(*device.linuxAddress) + "]";
        }
        if (device.place) {
            line += " adapter " + std::to_string(device.place->adapter) + ", target " +
                    std::to_string(device.place->target) + ", lun " + std::to_string(device.place->lun);
        }
        line += device.problem.empty() ? ": usable" : ": " + device.problem;
        if (!device.lastError.empty()) {
            line += "; last command failed: " + device.lastError;
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

int SgBus::ClaimedDescriptor(const std::string& node) {
    for (const auto& [key, claim] : claims) {
        if (claim.node == node) {
            return claim.descriptor;
        }
    }
    return -1;
}

tarnscsi::manager::ScsiOutcome SgBus::Execute(const tarnscsi::manager::ScsiCommand& command) {
    const DevicePtr device = Find(command.adapter, command.target, command.lun);
    if (!device || !device->usable) {
        // Nothing there, or nothing this process may talk to.
        return tarnscsi::manager::SelectionTimeoutOutcome();
    }
    int descriptor = -1;
    {
        std::lock_guard lock(mutex);
        descriptor = ClaimedDescriptor(device->node);
    }
    const bool ownDescriptor = descriptor < 0;
    if (ownDescriptor) {
        descriptor = system.Open(device->node, kOpenFlags);
        // One command of an unclaimed device: it goes only where no other
        // process holds a claim, and holds one for its own duration.
        const int locked = descriptor >= 0 ? system.Flock(descriptor, LOCK_EX | LOCK_NB) : descriptor;
        if (locked < 0) {
            if (descriptor >= 0) {
                system.Close(descriptor);
            }
            std::lock_guard lock(mutex);
            device->lastError = locked == -EWOULDBLOCK ? "in use by " + system.LockHolder(device->node)
                                                       : "cannot open: " + ErrorText(-locked);
            return tarnscsi::manager::SelectionTimeoutOutcome();
        }
    }
    const Carried carried = Carry(system, descriptor, command, timeLimit);
    if (ownDescriptor) {
        system.Close(descriptor);
    }
    if (carried.error != 0) {
        std::lock_guard lock(mutex);
        device->lastError = ErrorText(carried.error);
    } else if (tarnscsi::manager::EndedShort(command, carried.outcome)) {
        // The block can only say "data over/underrun"; the count is told here.
        std::lock_guard lock(mutex);
        device->lastError = ShortTransferText(command, carried.outcome.transferred);
    }
    return carried.outcome;
}

bool SgBus::AnyClaimed() {
    std::lock_guard lock(mutex);
    return !claims.empty();
}

bool SgBus::Claim(std::uint8_t adapter, std::uint8_t target, std::string& holder) {
    holder.clear();
    const DevicePtr device = Find(adapter, target, 0);
    if (!device || !device->usable) {
        // Nothing to hold: the commands will find nothing there, as before.
        return true;
    }
    std::lock_guard lock(mutex);
    const std::uint32_t key = Key(adapter, target, 0);
    if (claims.contains(key) || ClaimedDescriptor(device->node) >= 0) {
        holder = system.LockHolder(device->node);
        return false;
    }
    const int descriptor = system.Open(device->node, kOpenFlags);
    if (descriptor < 0) {
        device->lastError = "cannot open: " + ErrorText(-descriptor);
        return true;
    }
    const int locked = system.Flock(descriptor, LOCK_EX | LOCK_NB);
    if (locked == -EWOULDBLOCK) {
        system.Close(descriptor);
        holder = system.LockHolder(device->node);
        return false;
    }
    // A file system without flock still gets the device for this process.
    try {
        claims[key] = Claimed{device->node, descriptor};
    } catch (...) {
        // Out of memory: no lock is kept that nothing would give back.
        system.Close(descriptor);
        throw;
    }
    return true;
}

void SgBus::Release(std::uint8_t adapter, std::uint8_t target) {
    std::lock_guard lock(mutex);
    const auto found = claims.find(Key(adapter, target, 0));
    if (found == claims.end()) {
        return;
    }
    // Closing the descriptor drops the flock.
    system.Close(found->second.descriptor);
    claims.erase(found);
}

}  // namespace tarnscsi::sg