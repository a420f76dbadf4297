// Reading command-descriptor blocks: the length an opcode's group implies and
// the length fields of the commands our simulated targets answer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnscsi::sim::cdb {

inline constexpr std::size_t kOpcode = 0;

// Command group (top three bits of the opcode) and the CDB length it implies.
inline constexpr unsigned kGroupShift = 5;
inline constexpr std::uint8_t kGroup6Byte = 0;
inline constexpr std::uint8_t kGroup10ByteFirst = 1;
inline constexpr std::uint8_t kGroup10ByteLast = 2;
inline constexpr std::uint8_t kLength6 = 6;
inline constexpr std::uint8_t kLength10 = 10;

// The CDB length a target expects for this opcode; 0 for groups it does not
// implement.
constexpr std::uint8_t ExpectedLength(std::uint8_t opcode) {
    const std::uint8_t group = static_cast<std::uint8_t>(opcode >> kGroupShift);
    if (group == kGroup6Byte) {
        return kLength6;
    }
    if (group >= kGroup10ByteFirst && group <= kGroup10ByteLast) {
        return kLength10;
    }
    return 0;
}

// A big-endian field of the CDB.
struct Field {
    std::size_t offset;
    std::size_t length;
};

inline constexpr Field kNoField{0, 0};
// Allocation or parameter list length of a 6-byte command.
inline constexpr Field kLengthOf6Byte{4, 1};
// Transfer length of the scanner's 10-byte commands (SET WINDOW, GET WINDOW,
// READ): three bytes, 6 to 8.
inline constexpr Field kLengthOf10Byte{6, 3};

constexpr std::uint32_t Read(const std::uint8_t* cdb, Field field) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.length; ++i) {
        value = (value << 8) | cdb[field.offset + i];
    }
    return value;
}

constexpr bool Contains(Field field, std::size_t offset) {
    return offset >= field.offset && offset < field.offset + field.length;
}

// The allocation or transfer length of a command in either group.
constexpr std::uint32_t AllocationLength(const std::uint8_t* cdb) {
    return ExpectedLength(cdb[kOpcode]) == kLength6 ? Read(cdb, kLengthOf6Byte) : Read(cdb, kLengthOf10Byte);
}

}  // namespace tarnscsi::sim::cdb