// Standard INQUIRY data of simulated devices, and the camera's: a SCSI-2
// scanner (peripheral type 6) from vendor "TARN" whose product
// identification starts with "Nebrix".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarnscsi::sim {

inline constexpr std::size_t kStandardInquiryLength = 36;
using InquiryData = std::array<std::uint8_t, kStandardInquiryLength>;

// A SCSI-2 answer with these identification fields, each cut to its width
// (8, 16 and 4 bytes) and padded with spaces.
InquiryData StandardInquiry(std::uint8_t deviceType, std::string_view vendor, std::string_view product,
                            std::string_view revision);

const InquiryData& CameraInquiryData();

}  // namespace tarnscsi::sim