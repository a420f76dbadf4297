// What sysfs says about the SCSI generic devices: one entry per
// /sys/class/scsi_generic/sgN, with the SCSI address of the device behind it
// and its peripheral device type. Reads files only; opens no device.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sg/linux_address.h"

namespace tarnscsi::sg {

struct SgEntry {
    std::string name;  // "sg3"; the device node is /dev/<name>
    std::optional<LinuxAddress> address;
    std::optional<std::uint8_t> deviceType;  // from <entry>/device/type
    std::string problem;                     // why the address could not be read, when it could not
};

struct SysfsListing {
    // False when /sys/class/scsi_generic is missing: the sg driver is not loaded.
    bool driverPresent = false;
    std::vector<SgEntry> entries;  // ordered by the number in the name
};

SysfsListing ListScsiGeneric(const std::filesystem::path& sysfsRoot);

}  // namespace tarnscsi::sg