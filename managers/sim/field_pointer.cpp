#include "sim/field_pointer.h"

#include <bit>

#include "big_endian.h"

namespace tarnscsi::sim {

void SetFieldPointer(tarnscsi::manager::ScsiOutcome& outcome, const FieldInError& field) {
    static_assert(kFieldPointerOffset + 2 <= std::tuple_size_v<decltype(outcome.sense)>);
    std::uint8_t flags = kSenseKeySpecificValid;
    if (field.where == FieldInError::Where::kCdb) {
        flags |= kFieldInCommand;
    }
    if (field.bit) {
        flags |= kBitPointerValid | (*field.bit & kBitPointerMask);
    }
    outcome.sense[kSenseKeySpecificOffset] = flags;
    PutBE16(outcome.sense.data() + kFieldPointerOffset, field.byte);
}

std::uint8_t HighestDifferingBit(std::uint8_t a, std::uint8_t b) {
    constexpr int kTopBit = 7;
    return static_cast<std::uint8_t>(kTopBit - std::countl_zero(static_cast<std::uint8_t>(a ^ b)));
}

}  // namespace tarnscsi::sim