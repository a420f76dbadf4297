// A SCSI device's address as Linux names it: host, channel, target and
// logical unit, written "H:C:T:L" in sysfs and by lsscsi.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnscsi::sg {

struct LinuxAddress {
    std::uint32_t host = 0;
    std::uint32_t channel = 0;
    std::uint32_t target = 0;
    std::uint64_t lun = 0;

    auto operator<=>(const LinuxAddress&) const = default;
};

// "2:0:4:0" -> {2, 0, 4, 0}; nothing unless the text is exactly four
// decimal numbers separated by colons, each within its field's range.
std::optional<LinuxAddress> ParseLinuxAddress(std::string_view text);

std::string ToString(const LinuxAddress& address);

}  // namespace tarnscsi::sg