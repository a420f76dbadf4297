#include "sim/scripted_replies.h"

#include <algorithm>

namespace tarnscsi::sim {

void ScriptedReplies::Add(std::uint8_t opcode, const std::uint8_t* data, std::uint32_t length, std::uint32_t times) {
    if (times == 0) {
        return;
    }
    std::vector<std::uint8_t> bytes;
    if (data != nullptr) {
        bytes.assign(data, data + std::min(length, kMaxLength));
    }
    scripts.push_back({opcode, std::move(bytes), times});
}

std::optional<std::vector<std::uint8_t>> ScriptedReplies::Take(std::uint8_t opcode) {
    const auto script =
        std::find_if(scripts.begin(), scripts.end(), [opcode](const Script& s) { return s.opcode == opcode; });
    if (script == scripts.end()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data = script->data;
    if (--script->timesLeft == 0) {
        scripts.erase(script);
    }
    return data;
}

}  // namespace tarnscsi::sim