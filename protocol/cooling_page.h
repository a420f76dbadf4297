// The cooling parameter list that MODE SELECT(6) writes and MODE SENSE(6)
// reads: a 4-byte mode parameter header without block descriptor, then the
// camera's vendor page 09 of 140 bytes. Multi-byte fields are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tarnscsi::camera::cooling {

inline constexpr std::size_t kLength = 144;

// Offsets from the start of the list (page byte n is at 4 + n).
inline constexpr std::size_t kPageCode = 4;
inline constexpr std::size_t kPageLength = 5;
inline constexpr std::size_t kSignature = 6;      // 2 bytes: AB CD
inline constexpr std::size_t kCoolingByte = 131;  // cooler drive, unsigned
inline constexpr std::size_t kSetpoint = 132;     // 2 bytes
inline constexpr std::size_t kTemperature = 134;  // 2 bytes, signed
// What the module reads of a MODE SENSE reply: offsets 0..135, through the
// reported temperature.
inline constexpr std::size_t kBytesRead = kTemperature + sizeof(std::int16_t);

inline constexpr std::uint8_t kPageCodeValue = 0x09;
inline constexpr std::uint8_t kPageLengthValue = 0x8A;  // 138
inline constexpr std::uint8_t kSignatureValue[2] = {0xAB, 0xCD};

// The setpoints the 2-byte field holds, as a signed number like the
// reported temperature beside it.
inline constexpr std::int32_t kSetpointMin = std::numeric_limits<std::int16_t>::min();
inline constexpr std::int32_t kSetpointMax = std::numeric_limits<std::int16_t>::max();

}  // namespace tarnscsi::camera::cooling