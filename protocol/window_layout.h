// The window parameter list that SET WINDOW sends and GET WINDOW reads back:
// a 6-byte header and one 70-byte window descriptor plus two bytes of tail,
// 78 bytes in all. Multi-byte fields are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnscsi::camera::window {

inline constexpr std::size_t kLength = 78;

// Offsets from the start of the list.
inline constexpr std::size_t kDescriptorLength = 6;  // 2 bytes
inline constexpr std::size_t kWindowId = 8;
inline constexpr std::size_t kXResolution = 10;  // 2 bytes
inline constexpr std::size_t kYResolution = 12;  // 2 bytes
inline constexpr std::size_t kOriginX = 14;      // 4 bytes
inline constexpr std::size_t kOriginY = 18;      // 4 bytes
inline constexpr std::size_t kWidth = 22;        // 4 bytes
inline constexpr std::size_t kHeight = 26;       // 4 bytes
inline constexpr std::size_t kImageComposition = 33;
inline constexpr std::size_t kExposureTime = 44;  // 4 bytes
// What the module reads of a GET WINDOW reply: offsets 0..47, through the
// exposure time.
inline constexpr std::size_t kBytesRead = kExposureTime + sizeof(std::uint32_t);

// Fixed bytes of the descriptor tail, written as the camera expects them.
struct FixedByte {
    std::size_t offset;
    std::uint8_t value;
};
inline constexpr FixedByte kFixedBytes[] = {{58, 0x7F}, {59, 0xFE}, {62, 0x2F}, {63, 0x03}};

// Values.
inline constexpr std::uint16_t kDescriptorLengthValue = 70;
inline constexpr std::uint8_t kWindowIdValue = 1;
inline constexpr std::uint8_t kImageCompositionValue = 2;
inline constexpr std::uint16_t kResolutionUnbinned = 2822;  // 0x0B06 per inch: 9 um pixels
inline constexpr std::uint16_t kResolutionBinned = 1411;    // 0x0583: 2 x 2 binned

// Image data: each pixel two bytes, most significant first.
inline constexpr std::uint32_t kBytesPerPixel = 2;

}  // namespace tarnscsi::camera::window