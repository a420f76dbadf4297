// Status values of a finished SG_IO request that the kernel's user-space
// headers do not name: the SCSI midlayer's host codes (DID_*) and driver
// codes (DRIVER_*). The ASPI host-adapter codes they become are aspi.h's.
#pragma once

#include <cstdint>

namespace tarnscsi::sg {

// sg_io_hdr_t::host_status.
inline constexpr std::uint16_t kDidOk = 0x00;
inline constexpr std::uint16_t kDidNoConnect = 0x01;  // nothing answered the selection
inline constexpr std::uint16_t kDidBusBusy = 0x02;
inline constexpr std::uint16_t kDidTimeOut = 0x03;  // the command ran out of time
inline constexpr std::uint16_t kDidBadTarget = 0x04;
inline constexpr std::uint16_t kDidAbort = 0x05;
inline constexpr std::uint16_t kDidParity = 0x06;
inline constexpr std::uint16_t kDidError = 0x07;
inline constexpr std::uint16_t kDidReset = 0x08;

// sg_io_hdr_t::driver_status: an error class in the low nibble, the "sense
// data valid" bit, and (older kernels) a suggestion in the high nibble.
inline constexpr std::uint16_t kDriverOk = 0x00;
inline constexpr std::uint16_t kDriverError = 0x04;
inline constexpr std::uint16_t kDriverTimeout = 0x06;
inline constexpr std::uint16_t kDriverSense = 0x08;
inline constexpr std::uint16_t kDriverClassMask = 0x07;

// The sg driver version from which SG_IO exists (3.0.0).
inline constexpr int kFirstSgIoVersion = 30000;

}  // namespace tarnscsi::sg