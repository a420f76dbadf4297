// The layout of SCSI sense data and the names of its codes: sense keys and
// the additional sense codes a camera of this kind reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnscsi::sense {

// Response codes: fixed format (current, deferred), descriptor format.
inline constexpr std::uint8_t kResponseCodeMask = 0x7F;
inline constexpr std::uint8_t kFixedCurrent = 0x70;
inline constexpr std::uint8_t kFixedDeferred = 0x71;
inline constexpr std::uint8_t kDescriptorCurrent = 0x72;
inline constexpr std::uint8_t kDescriptorDeferred = 0x73;

inline constexpr std::size_t kResponseOffset = 0;
inline constexpr std::uint8_t kKeyMask = 0x0F;

// Fixed format: key in byte 2, ASC and ASCQ in bytes 12 and 13.
inline constexpr std::size_t kFixedKeyOffset = 2;
inline constexpr std::size_t kFixedAscOffset = 12;
inline constexpr std::size_t kFixedAscqOffset = 13;

// Descriptor format: key, ASC, ASCQ in bytes 1 to 3.
inline constexpr std::size_t kDescriptorKeyOffset = 1;
inline constexpr std::size_t kDescriptorAscOffset = 2;
inline constexpr std::size_t kDescriptorAscqOffset = 3;

struct KeyName {
    std::uint8_t key;
    const char* name;
};

inline constexpr KeyName kKeyNames[] = {
    {0x0, "NO SENSE"},        {0x1, "RECOVERED ERROR"}, {0x2, "NOT READY"},      {0x3, "MEDIUM ERROR"},
    {0x4, "HARDWARE ERROR"},  {0x5, "ILLEGAL REQUEST"}, {0x6, "UNIT ATTENTION"}, {0x7, "DATA PROTECT"},
    {0x8, "BLANK CHECK"},     {0x9, "VENDOR SPECIFIC"}, {0xA, "COPY ABORTED"},   {0xB, "ABORTED COMMAND"},
    {0xD, "VOLUME OVERFLOW"}, {0xE, "MISCOMPARE"},
};

inline constexpr std::uint8_t kKeyNotReady = 0x2;
inline constexpr std::uint8_t kKeyHardwareError = 0x4;
inline constexpr std::uint8_t kKeyIllegalRequest = 0x5;
inline constexpr std::uint8_t kKeyUnitAttention = 0x6;
inline constexpr std::uint8_t kKeyAbortedCommand = 0xB;

struct AdditionalSenseName {
    std::uint8_t asc;
    std::uint8_t ascq;
    const char* text;
};

inline constexpr AdditionalSenseName kAdditionalSenseNames[] = {
    {0x00, 0x00, "no additional sense information"},
    {0x04, 0x00, "logical unit not ready, cause not reportable"},
    {0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x04, 0x02, "logical unit not ready, initializing command required"},
    {0x08, 0x00, "logical unit communication failure"},
    {0x1A, 0x00, "parameter list length error"},
    {0x20, 0x00, "invalid command operation code"},
    {0x24, 0x00, "invalid field in CDB"},
    {0x25, 0x00, "logical unit not supported"},
    {0x26, 0x00, "invalid field in parameter list"},
    {0x29, 0x00, "power on, reset, or bus device reset occurred"},
    {0x2A, 0x01, "mode parameters changed"},
    {0x2C, 0x00, "command sequence error"},
    {0x3D, 0x00, "invalid bits in identify message"},
    {0x44, 0x00, "internal target failure"},
    {0x47, 0x00, "SCSI parity error"},
    {0x48, 0x00, "initiator detected error message received"},
    {0x4E, 0x00, "overlapped commands attempted"},
};

}  // namespace tarnscsi::sense
