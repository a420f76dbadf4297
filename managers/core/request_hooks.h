// What a manager tells an observer about the request blocks it handles, for
// instrumentation such as the simulator's request log and injected faults.
// A manager without hooks (the default) does nothing extra and keeps no
// record; the SCSI generic manager runs that way.
#pragma once

#include <cstdint>

#include "core/backend.h"

namespace tarnscsi::manager {

// A failure injected into one execute request.
enum class FaultKind {
    kNone,
    kRefuse,          // the manager rejects the block at once
    kCheckCondition,  // the target ends the command with CHECK CONDITION
    kUnitAttention,   // ... with UNIT ATTENTION, as after a reset
    kShortTransfer,   // a data-in command ends GOOD with half its data moved
    kCommandTimeout,  // the target never answers: the adapter ends the command when its time is up
    kNoFinalStatus,   // a broken manager: returns SS_PENDING, signals, and never sets a final status
};

// Called by AspiManager, from the caller's thread and (for pending
// completions) from the completion worker; calls about one request come in
// the order listed. Calls about different requests may overlap, so an
// implementation locks what it shares.
class RequestHooks {
public:
    // Names one request in the calls that follow its arrival.
    using RequestId = std::uint64_t;

    virtual ~RequestHooks() = default;

    // A non-null block arrived, untouched yet. Its SRB_Cmd byte says which
    // kind of block it is, and the block is as large as that kind (any other
    // command byte: the 8-byte header).
    virtual RequestId Arrived(const void* block) = 0;

    // An execute request is about to go to the bus: the failure to inject,
    // if any. Not called for blocks refused before that (no such adapter,
    // no command bytes).
    virtual FaultKind FaultFor(RequestId id, std::uint8_t opcode) = 0;

    // SendASPI32Command returns `status` for the request.
    virtual void Returned(RequestId id, std::uint8_t status) = 0;

    // The request is finished with `status` in SRB_Status; `outcome` is how
    // the command ended on the bus, null when it never got there.
    virtual void Finished(RequestId id, std::uint8_t status, const ScsiOutcome* outcome) = 0;
};

}  // namespace tarnscsi::manager