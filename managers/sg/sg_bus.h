// The bus of the SCSI generic manager: the devices of /sys/class/scsi_generic
// laid out as ASPI adapters, targets and logical units, and every command
// carried to its device by SG_IO. A device is opened for the look at the bus
// and for each command, and closed again, unless this process has claimed
// it: a claimed device stays open with an exclusive flock on its node, which
// keeps every other process's commands (and claims) away from it until the
// claim is released or the process ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/backend.h"
#include "sg/bus_layout.h"
#include "sg/linux_address.h"
#include "sg/sg_system.h"

namespace tarnscsi::sg {

// One /dev/sg device as the last look at the bus found it.
struct SgDeviceState {
    std::string node;  // "/dev/sg3"
    std::optional<LinuxAddress> linuxAddress;
    std::optional<AspiAddress> place;  // nothing: ASPI cannot reach it
    std::optional<std::uint8_t> type;
    bool usable = false;    // opened and passed the driver checks
    std::string problem;    // why it cannot be used; "" when it can
    std::string lastError;  // of the last command SG_IO could not carry, or that ended short
};

class SgBus final : public tarnscsi::manager::Backend {
public:
    // Every command gets `timeLimit` from the kernel.
    SgBus(SgSystem& system, std::chrono::milliseconds timeLimit);
    // Closes what is still claimed, which drops its lock.
    ~SgBus() override;
    SgBus(const SgBus&) = delete;
    SgBus& operator=(const SgBus&) = delete;

    // Reads sysfs again and reopens every device; until the first call (or
    // the first request) the bus has not been looked at. A command already
    // under way finishes on the device it started on.
    void Rescan();

    // Kept in the report: something about the manager as a whole.
    void AddNote(std::string note);

    // One line per adapter and per device of the last look at the bus (where
    // it sits, or why it cannot be used), then the notes.
    std::vector<std::string> Report();

    // Every device of the last look at the bus, in node order.
    std::vector<SgDeviceState> Devices();

    std::uint8_t AdapterCount() override;
    // From sysfs (or the driver, when sysfs has no type): no bus command.
    std::optional<std::uint8_t> DeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) override;
    tarnscsi::manager::ScsiOutcome Execute(const tarnscsi::manager::ScsiCommand& command) override;

    // Claims (adapter, target, lun 0) for this process (aspi/aspi_claim.h):
    // true when it holds it now; false with `holder` ("NAME, PID N") when
    // another process or this one holds it, or "" when nothing is there.
    bool Claim(std::uint8_t adapter, std::uint8_t target, std::string& holder);
    void Release(std::uint8_t adapter, std::uint8_t target);
    bool AnyClaimed();

private:
    struct Device;
    using DevicePtr = std::shared_ptr<Device>;

    void ScanLocked();
    void EnsureScannedLocked();
    std::vector<SgDeviceState> DevicesLocked();
    DevicePtr Find(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
    // The claimed descriptor of the device's node, or -1.
    int ClaimedDescriptor(const std::string& node);

    SgSystem& system;
    const std::chrono::milliseconds timeLimit;

    std::mutex mutex;
    bool scanned = false;
    bool driverPresent = false;
    std::vector<std::string> adapterLines;
    std::vector<DevicePtr> devices;             // every sysfs entry, in node order
    std::map<std::uint32_t, DevicePtr> placed;  // by ASPI address
    std::vector<std::string> notes;

    struct Claimed {
        std::string node;
        int descriptor = -1;
    };
    std::map<std::uint32_t, Claimed> claims;  // by ASPI address; kept across looks at the bus
};

}  // namespace tarnscsi::sg