// Canned answers that replace the camera model for chosen data-in commands,
// so tests can make the camera say what a well-behaved one never would.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tarnscsi::sim {

class ScriptedReplies {
public:
    static constexpr std::uint32_t kMaxLength = 256;

    // The next `times` commands with this opcode answer `data` (cut to
    // kMaxLength). Scripts for one opcode are used in the order added.
    void Add(std::uint8_t opcode, const std::uint8_t* data, std::uint32_t length, std::uint32_t times);

    // Uses up one answer for this opcode, if any is scripted.
    std::optional<std::vector<std::uint8_t>> Take(std::uint8_t opcode);

    void Clear() { scripts.clear(); }

private:
    struct Script {
        std::uint8_t opcode;
        std::vector<std::uint8_t> data;
        std::uint32_t timesLeft;
    };
    std::deque<Script> scripts;
};

}  // namespace tarnscsi::sim