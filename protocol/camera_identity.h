// What makes a device on the bus the camera: its peripheral device type and
// the product identification of its INQUIRY data. The module's discovery and
// its bus scan both decide by this rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnscsi::camera {

// Peripheral device type the camera reports: scanner.
inline constexpr std::uint8_t kScannerDeviceType = 6;

// Standard INQUIRY data: peripheral qualifier and device type in byte 0,
// then vendor (8..15), product (16..31) and revision (32..35).
inline constexpr std::size_t kInquiryVendorOffset = 8;
inline constexpr std::size_t kInquiryRevisionOffset = 32;
inline constexpr std::size_t kInquiryStandardLength = 36;

// INQUIRY identification: the product identification starts at byte 16 and
// the camera is recognised by its first five characters.
inline constexpr std::size_t kInquiryProductOffset = 16;
inline constexpr char kProductName[] = "Nebrix";
inline constexpr std::size_t kProductMatchLength = 5;
// What the search reads of an INQUIRY reply: offsets 0..20, through the
// characters compared.
inline constexpr std::size_t kIdentifyBytesRead = kInquiryProductOffset + kProductMatchLength;

// A scanner whose INQUIRY product identification starts with the first five
// characters of the name is the camera.
inline bool IsCamera(std::uint8_t deviceType, const std::uint8_t* inquiry) {
    return deviceType == kScannerDeviceType &&
           std::strncmp(reinterpret_cast<const char*>(inquiry + kInquiryProductOffset), kProductName,
                        kProductMatchLength) == 0;
}

}  // namespace tarnscsi::camera
