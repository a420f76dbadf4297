// What a simulated target makes of a parameter list: the value it describes,
// or the offset of the first field it cannot take (for the sense data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace tarnscsi::sim {

template <typename T>
struct ParsedList {
    std::optional<T> value;
    std::size_t fieldInError = 0;

    static ParsedList Accept(T accepted) { return {std::move(accepted), 0}; }
    static ParsedList Reject(std::size_t offset) { return {std::nullopt, offset}; }
};

}  // namespace tarnscsi::sim