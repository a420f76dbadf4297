// The camera's standard INQUIRY data: a SCSI-2 scanner (peripheral type 6)
// from vendor "TARN" whose product identification starts with "Nebrix".
#pragma once

#include <array>
#include <cstdint>

namespace sim {

inline constexpr std::size_t kStandardInquiryLength = 36;
using InquiryData = std::array<std::uint8_t, kStandardInquiryLength>;

const InquiryData& CameraInquiryData();

}  // namespace sim
