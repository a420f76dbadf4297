// A look at the SCSI bus through the ASPI manager the module would load:
// the manager's support word, every target the module searches with its
// device type and INQUIRY identification, which device the module takes for
// the camera (by the module's own rule), and the manager's own report where
// it offers one, with the device nodes it names as fields. Nothing is left
// open afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/result.h>

namespace tarnscsi {

struct BusDevice {
    int adapter = 0;
    int target = 0;
    std::uint8_t type = 0;    // peripheral device type
    bool identified = false;  // INQUIRY succeeded
    std::string vendor;
    std::string product;
    std::string revision;
    CommandResult inquiry;  // how the INQUIRY ended
    bool camera = false;    // the module would take it for the camera
    // Another program holds the device ("NAME, PID N"): it was not sent
    // INQUIRY, as a program's commands never go to a device another holds.
    std::string heldBy;
};

// A device node the manager itself reports (the SCSI generic manager: one
// /dev/sg device each), whether or not the module can reach it.
struct ManagerNode {
    std::string node;  // "/dev/sg3"
    // The Linux address [host:channel:target:lun], when the manager read one.
    std::optional<std::uint32_t> host, channel, scsiTarget;
    std::optional<std::uint64_t> lun;
    // Where ASPI sees it (adapter, target, logical unit), when it has a place.
    std::optional<int> adapter, target, aspiLun;
    std::optional<std::uint8_t> type;  // peripheral device type, when known
    bool usable = false;
    std::string reason;     // why it cannot be used; "" when it can
    std::string lastError;  // why the last command it could not carry failed; "" when none
};

struct BusScan {
    bool loaded = false;
    ConnectError error = ConnectError::kNone;  // why the manager could not be used
    std::string loaderMessage;                 // the dynamic linker's words, when it has any
    std::string managerPath;                   // the library file the module loads
    std::uint8_t supportStatus = 0;
    int adapters = 0;
    std::vector<BusDevice> devices;                  // adapter by adapter, target by target
    std::optional<std::vector<std::string>> report;  // nothing: the manager has none
    std::vector<ManagerNode> nodes;                  // empty: the manager names none

    // The manager answered the support query (the module then scans).
    bool SupportCompleted() const;
    // The first device the module would connect to, if any.
    const BusDevice* Camera() const;
    // The node the manager names at an ASPI address (logical unit 0), if any.
    const ManagerNode* NodeAt(int adapter, int target) const;
};

BusScan ScanBus();

// "disk", "tape", ..., "scanner", ...; "type 0x.." for the rest.
std::string DeviceTypeName(std::uint8_t type);

}  // namespace tarnscsi
