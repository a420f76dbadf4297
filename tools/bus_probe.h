// A look at the SCSI bus through the ASPI manager the module would load:
// the support word, the device type at every target the module searches,
// the INQUIRY identification of each device found, and the manager's own
// report where it offers one (the SCSI generic manager's SgDiagnostics).
// It goes through the module's transport, so it sees exactly what the
// module sees.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::tool {

struct ProbedDevice {
    int adapter = 0;
    int target = 0;
    std::uint8_t type = 0;  // peripheral device type
    bool identified = false;  // INQUIRY succeeded
    std::string vendor;
    std::string product;
    std::string revision;
    std::string inquiryError;  // when not identified
    bool camera = false;  // the module would take it for the camera
};

struct BusProbe {
    bool loaded = false;
    std::string error;        // why the manager could not be used
    std::string managerPath;  // the library file the module loads
    std::uint8_t supportStatus = 0;
    int adapters = 0;
    std::vector<ProbedDevice> devices;  // adapter by adapter, target by target
    std::optional<std::vector<std::string>> report;  // nothing: the manager has none
};

BusProbe ProbeBus();

// "disk", "tape", ..., "scanner", ...; "type 0x.." for the rest.
std::string DeviceTypeName(std::uint8_t type);

}  // namespace tarnscsi::tool
