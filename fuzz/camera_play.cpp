#include "camera_play.h"

#include <cstdio>
#include <cstdlib>

#include "sim/sim_control.h"

namespace tarnscsi::fuzz {

void ResetSimulator(FuzzedDataProvider& input) {
    SimReset();
    // The manager passes a reply shorter than asked as complete, as a
    // foreign ASPI manager may: what is fuzzed is the module's own reading
    // of short replies. Our managers refuse them, which tests of their own
    // cover.
    SimPassShortTransfers(1);
    SimSetCompletion(input.ConsumeBool() ? SIM_PENDING : SIM_IMMEDIATE, 0);
}

Fault ChooseFault(FuzzedDataProvider& input, std::uint8_t opcode, std::uint32_t skip) {
    const auto fault = static_cast<Fault>(input.ConsumeIntegralInRange<int>(0, 2));
    if (fault != Fault::kNone) {
        SimAddFault(opcode, skip, 1, fault == Fault::kRefused ? SIM_FAULT_REFUSE : SIM_FAULT_CHECK_CONDITION);
    }
    return fault;
}

std::vector<std::uint8_t> ReplyBytes(FuzzedDataProvider& input, bool rest) {
    if (rest) {
        std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
        if (bytes.size() > kMaxReply) bytes.resize(kMaxReply);
        return bytes;
    }
    return input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, kMaxReply));
}

void Broken(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

}  // namespace tarnscsi::fuzz