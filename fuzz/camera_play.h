// What the fuzz targets share: each input plays the camera (and its
// manager). The first bytes choose how requests complete and how one command
// fails; the rest are the camera's reply. A finding is reported by Broken(),
// which stops the run like a sanitizer would.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

namespace tarnscsi::fuzz {

// Largest reply the simulator can script.
inline constexpr std::size_t kMaxReply = 256;

// How one command is made to fail, if at all.
enum class Fault { kNone, kRefused, kCheckCondition };

// The simulator back at its test baseline, passing short replies as
// complete, with the completion mode (and for pending, a delay of 0) chosen
// by the input.
void ResetSimulator(FuzzedDataProvider& input);

// Chooses a fault for the command `opcode` (after `skip` others of the same
// opcode) and installs it; returns what was chosen.
Fault ChooseFault(FuzzedDataProvider& input, std::uint8_t opcode, std::uint32_t skip = 0);

// Reply bytes: up to kMaxReply, as many as the input has left when `rest`.
std::vector<std::uint8_t> ReplyBytes(FuzzedDataProvider& input, bool rest);

// A property of the module did not hold: say which and abort.
[[noreturn]] void Broken(const char* what);

}  // namespace tarnscsi::fuzz