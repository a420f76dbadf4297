// SCSI sense data: its layout and the names of its codes. One vocabulary for
// the module, which decodes sense, and for our managers and simulated
// targets, which build it: the sense keys, the additional sense codes a
// camera of this kind reports, and where each sits in the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnscsi::scsi {

// Response codes: fixed format (current, deferred), descriptor format.
inline constexpr std::uint8_t kResponseCodeMask = 0x7F;
inline constexpr std::uint8_t kFixedCurrent = 0x70;
inline constexpr std::uint8_t kFixedDeferred = 0x71;
inline constexpr std::uint8_t kDescriptorCurrent = 0x72;
inline constexpr std::uint8_t kDescriptorDeferred = 0x73;

inline constexpr std::size_t kResponseOffset = 0;
inline constexpr std::uint8_t kKeyMask = 0x0F;

// Fixed format: key in byte 2, additional length in byte 7, ASC and ASCQ in
// bytes 12 and 13; what our managers build is the 8 header bytes and 10
// additional bytes.
inline constexpr std::size_t kFixedKeyOffset = 2;
inline constexpr std::size_t kFixedAdditionalLengthOffset = 7;
inline constexpr std::size_t kFixedAscOffset = 12;
inline constexpr std::size_t kFixedAscqOffset = 13;
inline constexpr std::uint8_t kFixedAdditionalLength = 10;
inline constexpr std::size_t kFixedSenseLength = 8 + kFixedAdditionalLength;

// Descriptor format: key, ASC, ASCQ in bytes 1 to 3.
inline constexpr std::size_t kDescriptorKeyOffset = 1;
inline constexpr std::size_t kDescriptorAscOffset = 2;
inline constexpr std::size_t kDescriptorAscqOffset = 3;

enum class SenseKey : std::uint8_t {
    kNoSense = 0x0,
    kRecoveredError = 0x1,
    kNotReady = 0x2,
    kMediumError = 0x3,
    kHardwareError = 0x4,
    kIllegalRequest = 0x5,
    kUnitAttention = 0x6,
    kDataProtect = 0x7,
    kBlankCheck = 0x8,
    kVendorSpecific = 0x9,
    kCopyAborted = 0xA,
    kAbortedCommand = 0xB,
    kVolumeOverflow = 0xD,
    kMiscompare = 0xE,
};

struct KeyName {
    SenseKey key;
    const char* name;
};

inline constexpr KeyName kKeyNames[] = {
    {SenseKey::kNoSense, "NO SENSE"},
    {SenseKey::kRecoveredError, "RECOVERED ERROR"},
    {SenseKey::kNotReady, "NOT READY"},
    {SenseKey::kMediumError, "MEDIUM ERROR"},
    {SenseKey::kHardwareError, "HARDWARE ERROR"},
    {SenseKey::kIllegalRequest, "ILLEGAL REQUEST"},
    {SenseKey::kUnitAttention, "UNIT ATTENTION"},
    {SenseKey::kDataProtect, "DATA PROTECT"},
    {SenseKey::kBlankCheck, "BLANK CHECK"},
    {SenseKey::kVendorSpecific, "VENDOR SPECIFIC"},
    {SenseKey::kCopyAborted, "COPY ABORTED"},
    {SenseKey::kAbortedCommand, "ABORTED COMMAND"},
    {SenseKey::kVolumeOverflow, "VOLUME OVERFLOW"},
    {SenseKey::kMiscompare, "MISCOMPARE"},
};

// Additional sense code and its qualifier.
struct AdditionalSense {
    std::uint8_t asc;
    std::uint8_t ascq;

    friend constexpr bool operator==(AdditionalSense, AdditionalSense) = default;
};

inline constexpr AdditionalSense kNoAdditionalSense{0x00, 0x00};
inline constexpr AdditionalSense kNotReadyCauseNotReportable{0x04, 0x00};
inline constexpr AdditionalSense kNotReadyBecomingReady{0x04, 0x01};
inline constexpr AdditionalSense kNotReadyInitializingCommandRequired{0x04, 0x02};
inline constexpr AdditionalSense kCommunicationFailure{0x08, 0x00};
inline constexpr AdditionalSense kParameterListLengthError{0x1A, 0x00};
inline constexpr AdditionalSense kInvalidOpcode{0x20, 0x00};
inline constexpr AdditionalSense kInvalidFieldInCdb{0x24, 0x00};
inline constexpr AdditionalSense kLogicalUnitNotSupported{0x25, 0x00};
inline constexpr AdditionalSense kInvalidFieldInParameterList{0x26, 0x00};
inline constexpr AdditionalSense kPowerOnOrReset{0x29, 0x00};
inline constexpr AdditionalSense kModeParametersChanged{0x2A, 0x01};
inline constexpr AdditionalSense kCommandSequenceError{0x2C, 0x00};
inline constexpr AdditionalSense kInvalidIdentifyBits{0x3D, 0x00};
inline constexpr AdditionalSense kInternalTargetFailure{0x44, 0x00};
inline constexpr AdditionalSense kParityError{0x47, 0x00};
inline constexpr AdditionalSense kInitiatorDetectedError{0x48, 0x00};
inline constexpr AdditionalSense kOverlappedCommands{0x4E, 0x00};

struct AdditionalSenseName {
    AdditionalSense code;
    const char* text;
};

inline constexpr AdditionalSenseName kAdditionalSenseNames[] = {
    {kNoAdditionalSense, "no additional sense information"},
    {kNotReadyCauseNotReportable, "logical unit not ready, cause not reportable"},
    {kNotReadyBecomingReady, "logical unit is in process of becoming ready"},
    {kNotReadyInitializingCommandRequired, "logical unit not ready, initializing command required"},
    {kCommunicationFailure, "logical unit communication failure"},
    {kParameterListLengthError, "parameter list length error"},
    {kInvalidOpcode, "invalid command operation code"},
    {kInvalidFieldInCdb, "invalid field in CDB"},
    {kLogicalUnitNotSupported, "logical unit not supported"},
    {kInvalidFieldInParameterList, "invalid field in parameter list"},
    {kPowerOnOrReset, "power on, reset, or bus device reset occurred"},
    {kModeParametersChanged, "mode parameters changed"},
    {kCommandSequenceError, "command sequence error"},
    {kInvalidIdentifyBits, "invalid bits in identify message"},
    {kInternalTargetFailure, "internal target failure"},
    {kParityError, "SCSI parity error"},
    {kInitiatorDetectedError, "initiator detected error message received"},
    {kOverlappedCommands, "overlapped commands attempted"},
};

}  // namespace tarnscsi::scsi
