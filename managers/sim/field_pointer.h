// The sense-key-specific bytes of fixed-format sense data for ILLEGAL
// REQUEST: which byte (and, when known, which bit) of the command or of its
// parameter list the target rejected. Bytes 15 to 17 of the sense data;
// an initiator sees them when its sense area is long enough.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/backend.h"

namespace tarnscsi::sim {

struct FieldInError {
    enum class Where { kCdb, kParameterList };
    Where where;
    std::uint16_t byte;
    std::optional<std::uint8_t> bit;  // 0..7
};

inline FieldInError CdbField(std::size_t byte, std::optional<std::uint8_t> bit = std::nullopt) {
    return {FieldInError::Where::kCdb, static_cast<std::uint16_t>(byte), bit};
}

inline FieldInError ListField(std::size_t byte) {
    return {FieldInError::Where::kParameterList, static_cast<std::uint16_t>(byte), std::nullopt};
}

// Offsets and bits of the sense-key-specific field.
inline constexpr std::size_t kSenseKeySpecificOffset = 15;
inline constexpr std::size_t kFieldPointerOffset = 16;  // 2 bytes
inline constexpr std::uint8_t kSenseKeySpecificValid = 0x80;
inline constexpr std::uint8_t kFieldInCommand = 0x40;
inline constexpr std::uint8_t kBitPointerValid = 0x08;
inline constexpr std::uint8_t kBitPointerMask = 0x07;

// Writes the field pointer into the outcome's sense data.
void SetFieldPointer(tarnscsi::manager::ScsiOutcome& outcome, const FieldInError& field);

// The most significant bit in which two bytes differ (they must differ).
std::uint8_t HighestDifferingBit(std::uint8_t a, std::uint8_t b);

}  // namespace tarnscsi::sim