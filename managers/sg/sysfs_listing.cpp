#include "sg/sysfs_listing.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

#include "aspi.h"

namespace tarnscsi::sg {
namespace {

namespace fs = std::filesystem;

constexpr char kClassDirectory[] = "class/scsi_generic";
constexpr char kDeviceLink[] = "device";
constexpr char kTypeFile[] = "type";
constexpr char kScsiDeviceDirectory[] = "scsi_device";
constexpr char kNodePrefix[] = "sg";

// The number in "sgN", for ordering; names without one go last.
std::uint64_t NodeNumber(const std::string& name) {
    std::uint64_t number = UINT64_MAX;
    const std::size_t prefix = sizeof kNodePrefix - 1;
    if (name.size() > prefix) {
        std::from_chars(name.data() + prefix, name.data() + name.size(), number);
    }
    return number;
}

std::optional<std::uint8_t> ReadDeviceType(const fs::path& file) {
    std::ifstream in(file);
    unsigned value = 0;
    if (!(in >> value) || value > tarnscsi::aspi::kDeviceTypeMask) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

// The device link points at the SCSI device's directory, named "H:C:T:L";
// where that name does not parse, its scsi_device/ folder holds one entry
// with the same name.
std::optional<LinuxAddress> ReadAddress(const fs::path& device, std::string& problem) {
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error) {
        problem = "cannot follow " + device.string() + ": " + error.message();
        return std::nullopt;
    }
    if (auto address = ParseLinuxAddress(target.filename().string())) {
        return address;
    }
    for (const auto& entry : fs::directory_iterator(device / kScsiDeviceDirectory, error)) {
        if (auto address = ParseLinuxAddress(entry.path().filename().string())) {
            return address;
        }
    }
    problem = "no SCSI address (H:C:T:L) under " + device.string();
    return std::nullopt;
}

}  // namespace

SysfsListing ListScsiGeneric(const fs::path& sysfsRoot) {
    SysfsListing listing;
    const fs::path classDirectory = sysfsRoot / kClassDirectory;
    std::error_code error;
    if (!fs::is_directory(classDirectory, error)) {
        return listing;
    }
    listing.driverPresent = true;
    for (const auto& entry : fs::directory_iterator(classDirectory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kNodePrefix, 0) != 0) {
            continue;
        }
        SgEntry sg;
        sg.name = name;
        const fs::path device = entry.path() / kDeviceLink;
        sg.address = ReadAddress(device, sg.problem);
        sg.deviceType = ReadDeviceType(device / kTypeFile);
        listing.entries.push_back(std::move(sg));
    }
    std::sort(listing.entries.begin(), listing.entries.end(), [](const SgEntry& a, const SgEntry& b) {
        const auto na = NodeNumber(a.name);
        const auto nb = NodeNumber(b.name);
        return na != nb ? na < nb : a.name < b.name;
    });
    return listing;
}

}  // namespace tarnscsi::sg