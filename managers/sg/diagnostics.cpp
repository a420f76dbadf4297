#include "sg/diagnostics.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnscsi::sg {

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t capacity) {
    if (out != nullptr && capacity > 0) {
        const std::size_t length = std::min<std::size_t>(text.size(), capacity - 1);
        std::memcpy(out, text.data(), length);
        out[length] = '\0';
    }
    return static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace tarnscsi::sg