#include "sim/fault_rules.h"

#include "sim/sim_control.h"

namespace tarnscsi::sim {

FaultKind FaultKindOf(int simKind) {
    switch (simKind) {
        case SIM_FAULT_REFUSE: return FaultKind::kRefuse;
        case SIM_FAULT_CHECK_CONDITION: return FaultKind::kCheckCondition;
        case SIM_FAULT_UNIT_ATTENTION: return FaultKind::kUnitAttention;
        case SIM_FAULT_SHORT_TRANSFER: return FaultKind::kShortTransfer;
        case SIM_FAULT_COMMAND_TIMEOUT: return FaultKind::kCommandTimeout;
        case SIM_FAULT_NO_FINAL_STATUS: return FaultKind::kNoFinalStatus;
        default: return FaultKind::kNone;
    }
}

void FaultRules::Add(int opcode, std::uint32_t skip, std::uint32_t count, FaultKind kind) {
    if (count == 0 || kind == FaultKind::kNone) {
        return;
    }
    std::lock_guard lock(mutex);
    const std::uint64_t first = std::uint64_t{skip} + 1;
    rules.push_back(Rule{opcode, first, first + count - 1, kind});
}

FaultKind FaultRules::Next(std::uint8_t opcode) {
    std::lock_guard lock(mutex);
    FaultKind result = FaultKind::kNone;
    for (Rule& rule : rules) {
        if (rule.opcode != kAnyOpcode && rule.opcode != opcode) {
            continue;
        }
        ++rule.seen;
        if (result == FaultKind::kNone && rule.seen >= rule.first && rule.seen <= rule.last) {
            result = rule.kind;
        }
    }
    return result;
}

void FaultRules::Clear() {
    std::lock_guard lock(mutex);
    rules.clear();
}

}  // namespace tarnscsi::sim