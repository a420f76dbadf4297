// The camera sends each 16-bit pixel most significant byte first; INDI
// writes the frame buffer to FITS as the host's unsigned shorts.
#pragma once

#include <cstdint>
#include <span>

namespace tarnscsi::indi {

// Rewrites big-endian 16-bit pixels as host-order ones, in place. An odd
// trailing byte is left alone.
void BigEndianToHost16(std::span<std::uint8_t> pixels);

}  // namespace tarnscsi::indi
