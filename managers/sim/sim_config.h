// The simulator's configuration text, as found in the TARNSCSI_SIM
// environment variable or given to SimConfigure: items separated by commas,
// each `key=value`; blanks around items, keys and values are ignored, and so
// are empty items. Parsing only: what the items ask for, plus one message for
// each item that is ignored (unknown key, bad value, address off the bus).
//
//   seed=N                 star field, hot pixels and noise (0 .. 2^64-1)
//   time-scale=X           real seconds per simulated second (0 = at once)
//   ambient=C              ambient temperature, degrees C (-50 .. 60)
//   cooler-difference=C    the most the cooler holds below ambient (0.1 .. 100)
//   cooler-rate=C          the cooler's ramp, degrees C per second (0.1 .. 100)
//   image=sky|dark|pattern what exposures show
//   covered=yes|no         the telescope is covered: sky frames get no light
//   adapters=N             host adapters on the bus (0 .. 255)
//   camera=A:T[:L]         a camera at adapter A, target T, lun L (repeatable)
//   device=A:T:TYPE[:NAME] another device at lun 0 (repeatable); TYPE is a
//                          peripheral type number 0..31 or the name the
//                          bus scan shows (disk, tape, cdrom, scanner, ...)
//   fault=OP:SKIP:COUNT:KIND  fail requests: OP a number or any, tur,
//                          inquiry, mode-select, mode-sense, scan,
//                          set-window, get-window, read; KIND refuse,
//                          check or unit-attention
//   completion=immediate|pending[:MICROSECONDS]
//   unit-attention=N       every camera is reset as at power-on (window and
//                          exposure forgotten) and answers its next N
//                          commands but INQUIRY with UNIT ATTENTION (1 .. 255)
//
// Giving adapters, camera or device lays out the bus anew: the adapters
// (default 1), the cameras (default one at 0:2), then the devices; a later
// item at an address replaces an earlier one. A camera or device where the
// module never looks (an adapter the bus does not have, a target above 7, a
// lun other than 0) is refused with the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/image_source.h"

namespace tarnscsi::sim {

struct DeviceAddress {
    int adapter = 0;
    int target = 0;
    int lun = 0;
};

struct DeviceSpec {
    DeviceAddress address;
    std::uint8_t type = 0;
    std::string product;
};

struct FaultSpec {
    int opcode = 0;  // SIM_ANY_OPCODE for any
    std::uint32_t skip = 0;
    std::uint32_t count = 0;
    int kind = 0;  // SimFaultKind
};

struct CompletionSpec {
    bool pending = false;
    std::uint32_t delayMicroseconds = 0;
};

struct SimConfig {
    std::optional<std::uint64_t> seed;
    std::optional<double> timeScale;
    std::optional<std::int32_t> ambientTenths;
    std::optional<std::int32_t> coolerDifferenceTenths;
    std::optional<std::int32_t> coolerRateTenthsPerSecond;
    std::optional<ImageKind> image;
    std::optional<bool> covered;
    std::optional<int> adapters;
    std::vector<DeviceAddress> cameras;
    std::vector<DeviceSpec> devices;
    std::vector<FaultSpec> faults;
    std::optional<CompletionSpec> completion;
    std::optional<std::uint32_t> unitAttentions;

    // Whether the items lay out the bus anew.
    bool LaysOutBus() const { return adapters || !cameras.empty() || !devices.empty(); }
};

struct ParsedConfig {
    SimConfig config;
    std::vector<std::string> problems;  // one per ignored item
};

ParsedConfig ParseSimConfig(std::string_view text);

}  // namespace tarnscsi::sim