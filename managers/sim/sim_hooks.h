// The simulator's instrumentation of its manager: every request block goes
// into the request log, and the fault rules decide which execute requests
// fail. Installed by the simulator only (sim_state.h).
#pragma once

#include "core/request_hooks.h"
#include "sim/fault_rules.h"
#include "sim/request_log.h"

namespace tarnscsi::sim {

class SimHooks : public tarnscsi::manager::RequestHooks {
public:
    RequestId Arrived(const void* block) override;
    tarnscsi::manager::FaultKind FaultFor(RequestId id, std::uint8_t opcode) override;
    void Returned(RequestId id, std::uint8_t status) override;
    void Finished(RequestId id, std::uint8_t status, const tarnscsi::manager::ScsiOutcome* outcome) override;

    // No faults, an empty log.
    void Clear();

    FaultRules faults;
    RequestLog log;

private:
    // Ids are log tickets plus one; 0 stands for a request the full log dropped.
    static RequestId IdOf(std::optional<RequestLog::Ticket> ticket);
    static std::optional<RequestLog::Ticket> TicketOf(RequestId id);
};

}  // namespace tarnscsi::sim