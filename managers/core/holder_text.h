// Copies the holder's description into the caller's buffer as the claim
// export promises: at most capacity - 1 bytes and a NUL, nothing for a null
// buffer or no room.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace tarnscsi::manager {

inline void CopyHolder(const std::string& holder, char* out, std::uint32_t capacity) {
    if (out == nullptr || capacity == 0) return;
    const std::size_t length = holder.size() < capacity - 1 ? holder.size() : capacity - 1;
    std::memcpy(out, holder.data(), length);
    out[length] = '\0';
}

}  // namespace tarnscsi::manager
