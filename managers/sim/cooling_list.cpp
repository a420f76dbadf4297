#include "sim/cooling_list.h"

#include <algorithm>
#include <limits>

#include "big_endian.h"

namespace tarnscsi::sim {
namespace c = tarnscsi::camera::cooling;

namespace {

// Mode parameter header: the mode data length (bytes after itself) and the
// block descriptor length, which must be 0 for the page to start at byte 4.
constexpr std::size_t kModeDataLength = 0;
constexpr std::size_t kBlockDescriptorLength = 3;

}  // namespace

ParsedList<std::int16_t> ParseSetpointList(const CoolingList& list) {
    using Parsed = ParsedList<std::int16_t>;
    if (list[kBlockDescriptorLength] != 0) {
        return Parsed::Reject(kBlockDescriptorLength);
    }
    if (list[c::kPageCode] != c::kPageCodeValue) {
        return Parsed::Reject(c::kPageCode);
    }
    if (list[c::kPageLength] != c::kPageLengthValue) {
        return Parsed::Reject(c::kPageLength);
    }
    for (std::size_t i = 0; i < std::size(c::kSignatureValue); ++i) {
        if (list[c::kSignature + i] != c::kSignatureValue[i]) {
            return Parsed::Reject(c::kSignature + i);
        }
    }
    return Parsed::Accept(static_cast<std::int16_t>(GetBE16(list.data() + c::kSetpoint)));
}

CoolingList EncodeCoolingList(const CoolingReport& report) {
    CoolingList list{};
    list[kModeDataLength] = static_cast<std::uint8_t>(c::kLength - 1);
    list[c::kPageCode] = c::kPageCodeValue;
    list[c::kPageLength] = c::kPageLengthValue;
    list[c::kSignature] = c::kSignatureValue[0];
    list[c::kSignature + 1] = c::kSignatureValue[1];
    list[c::kCoolingByte] =
        static_cast<std::uint8_t>(std::min<std::uint32_t>(report.drive, std::numeric_limits<std::uint8_t>::max()));
    PutBE16(list.data() + c::kSetpoint, static_cast<std::uint16_t>(report.setpoint));
    const std::int32_t temperature = std::clamp<std::int32_t>(
        report.temperature, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max());
    PutBE16(list.data() + c::kTemperature, static_cast<std::uint16_t>(temperature));
    return list;
}

}  // namespace tarnscsi::sim