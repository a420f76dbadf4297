// The 144-byte cooling parameter list as the camera reads it (MODE SELECT)
// and writes it (MODE SENSE).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "cooling_page.h"
#include "sim/parsed_list.h"

namespace tarnscsi::sim {

using CoolingList = std::array<std::uint8_t, tarnscsi::camera::cooling::kLength>;

// The setpoint of a list the camera accepts: no block descriptor, page 09
// with its length and signature. For any other list, the first field that
// is wrong.
ParsedList<std::int16_t> ParseSetpointList(const CoolingList& list);

struct CoolingReport {
    std::int16_t setpoint;
    std::int32_t temperature;
    std::uint32_t drive;
};

// The list MODE SENSE answers.
CoolingList EncodeCoolingList(const CoolingReport& report);

}  // namespace tarnscsi::sim