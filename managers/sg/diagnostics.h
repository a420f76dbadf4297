// The report of SgDiagnostics as one text, and its copy into a caller's
// buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnscsi::sg {

std::string JoinLines(const std::vector<std::string>& lines);

// Copies at most capacity - 1 bytes and a NUL; returns the text's length.
std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t capacity);

}  // namespace tarnscsi::sg