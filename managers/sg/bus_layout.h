// How the SCSI generic devices appear to ASPI: every distinct (host,
// channel) pair is one host adapter, numbered from 0 in ascending order; a
// device keeps its target and logical unit within its adapter. Devices whose
// numbers do not fit ASPI's one-byte fields cannot be reached and say so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sg/sysfs_listing.h"

namespace tarnscsi::sg {

// ASPI counts adapters in one byte.
inline constexpr std::size_t kMaxAspiAdapters = 255;

struct AspiAddress {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
};

struct BusLayout {
    // (host, channel) of adapter 0, 1, ...
    std::vector<std::pair<std::uint32_t, std::uint32_t>> adapters;
    // Parallel to the listing's entries: where each one sits, if anywhere.
    std::vector<std::optional<AspiAddress>> placements;
    // Parallel to the entries: why one has no place ("" when it has one).
    std::vector<std::string> problems;
};

BusLayout LayOut(const std::vector<SgEntry>& entries);

}  // namespace tarnscsi::sg