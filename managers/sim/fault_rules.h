// Injected failures: rules that make chosen execute requests fail, so tests
// can reach the module's error paths without a broken device. The
// simulator's request hooks (sim_hooks.h) consult them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "core/request_hooks.h"

namespace tarnscsi::sim {

using tarnscsi::manager::FaultKind;

// The failure a SimFaultKind (sim_control.h) stands for; kNone for others.
FaultKind FaultKindOf(int simKind);

class FaultRules {
public:
    static constexpr int kAnyOpcode = -1;

    // Requests with this first command byte (or any, for kAnyOpcode) are
    // counted from 1; numbers skip+1 .. skip+count fail as `kind` says.
    void Add(int opcode, std::uint32_t skip, std::uint32_t count, FaultKind kind);

    // Counts one arriving execute request against every rule that matches
    // its opcode and returns the failure of the first rule whose window
    // holds it.
    FaultKind Next(std::uint8_t opcode);

    void Clear();

private:
    struct Rule {
        int opcode;
        std::uint64_t first;  // 1-based number of the first failing request
        std::uint64_t last;   // ... and of the last
        FaultKind kind;
        std::uint64_t seen = 0;
    };

    std::mutex mutex;
    std::vector<Rule> rules;
};

}  // namespace tarnscsi::sim