// SCSI status details our managers and simulated targets report: sense keys,
// additional sense codes and the layout of fixed-format sense data. The
// layout is the one the module decodes (common/scsi_sense.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/scsi_sense.h"

namespace tarnscsi::scsi {

// Fixed-format sense data: 8 header bytes plus 10 additional bytes.
inline constexpr std::uint8_t kSenseResponseCurrent = tarnscsi::sense::kFixedCurrent;
inline constexpr std::size_t kSenseResponseOffset = tarnscsi::sense::kResponseOffset;
inline constexpr std::size_t kSenseKeyOffset = tarnscsi::sense::kFixedKeyOffset;
inline constexpr std::size_t kSenseAdditionalLengthOffset = 7;
inline constexpr std::size_t kSenseAscOffset = tarnscsi::sense::kFixedAscOffset;
inline constexpr std::size_t kSenseAscqOffset = tarnscsi::sense::kFixedAscqOffset;
inline constexpr std::uint8_t kSenseAdditionalLength = 10;
inline constexpr std::size_t kFixedSenseLength = 8 + kSenseAdditionalLength;

// Sense keys.
enum class SenseKey : std::uint8_t {
    kNoSense = 0x00,
    kNotReady = 0x02,
    kIllegalRequest = 0x05,
    kUnitAttention = 0x06,
    kAbortedCommand = 0x0B,
};

// Additional sense code and its qualifier.
struct AdditionalSense {
    std::uint8_t asc;
    std::uint8_t ascq;
};

inline constexpr AdditionalSense kNoAdditionalSense{0x00, 0x00};
inline constexpr AdditionalSense kNotReadyBecomingReady{0x04, 0x01};
inline constexpr AdditionalSense kInvalidOpcode{0x20, 0x00};
inline constexpr AdditionalSense kInvalidFieldInCdb{0x24, 0x00};
inline constexpr AdditionalSense kInvalidFieldInParameterList{0x26, 0x00};
inline constexpr AdditionalSense kPowerOnOrReset{0x29, 0x00};
inline constexpr AdditionalSense kCommandSequenceError{0x2C, 0x00};

}  // namespace tarnscsi::scsi