// Big-endian field access for SCSI command bytes and parameter data. Every
// multi-byte field the camera sends or receives goes through these helpers.
#pragma once

#include <cstdint>

namespace tarnscsi {

// Stores the low 16 bits of `value`, most significant byte first.
constexpr void PutBE16(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

// Stores the low 32 bits of `value`, most significant byte first.
constexpr void PutBE32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

// Loads two bytes as a 16-bit value, first byte high.
constexpr std::uint16_t GetBE16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// Loads four bytes as an unsigned 32-bit value, first byte highest.
constexpr std::uint32_t GetBE32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

}  // namespace tarnscsi
