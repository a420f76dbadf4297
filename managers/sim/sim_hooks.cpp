#include "sim/sim_hooks.h"

namespace tarnscsi::sim {

SimHooks::RequestId SimHooks::IdOf(std::optional<RequestLog::Ticket> ticket) {
    return ticket ? *ticket + 1 : RequestId{0};
}

std::optional<RequestLog::Ticket> SimHooks::TicketOf(RequestId id) {
    return id != 0 ? std::optional(RequestLog::Ticket{id - 1}) : std::nullopt;
}

SimHooks::RequestId SimHooks::Arrived(const void* block) { return IdOf(log.Append(RecordOf(block))); }

tarnscsi::manager::FaultKind SimHooks::FaultFor(RequestId, std::uint8_t opcode) { return faults.Next(opcode); }

void SimHooks::Returned(RequestId id, std::uint8_t status) {
    log.Update(TicketOf(id), [status](RequestRecord& record) { record.returned = status; });
}

void SimHooks::Finished(RequestId id, std::uint8_t status, const tarnscsi::manager::ScsiOutcome* outcome) {
    log.Update(TicketOf(id), [status, outcome](RequestRecord& record) {
        record.finalStatus = status;
        if (outcome != nullptr) {
            record.targetStatus = outcome->targetStatus;
            record.transferred = outcome->transferred;
        }
    });
}

void SimHooks::Clear() {
    faults.Clear();
    log.Clear();
}

}  // namespace tarnscsi::sim