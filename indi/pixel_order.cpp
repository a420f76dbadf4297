#include "pixel_order.h"

#include <cstring>

#include "common/big_endian.h"

namespace tarnscsi::indi {

void BigEndianToHost16(std::span<std::uint8_t> pixels) {
    constexpr std::size_t kPixelBytes = sizeof(std::uint16_t);
    for (std::size_t offset = 0; offset + kPixelBytes <= pixels.size(); offset += kPixelBytes) {
        const std::uint16_t value = GetBE16(pixels.data() + offset);
        std::memcpy(pixels.data() + offset, &value, kPixelBytes);
    }
}

}  // namespace tarnscsi::indi
