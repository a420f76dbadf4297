#include "transport/aspi_transport.h"

#include <atomic>
#include <cstring>

#include "common/monotonic_clock.h"
#include "transport/command_trace.h"
#include "transport/session_claims.h"

namespace tarnscsi {

namespace {

// GetProcAddress gives a generic function pointer; the entry points have the
// signatures of the published interface.
template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    FARPROC raw = GetProcAddress(module, name);
    Fn function = nullptr;
    static_assert(sizeof function == sizeof raw);
    std::memcpy(&function, &raw, sizeof function);
    return function;
}

// What the caller asked for, before the manager sees the block.
void RecordRequest(const tarnscsi::aspi::SRB_ExecSCSICmd& block, CommandResult& result) {
    // Field by field and the whole command area at once: this runs for every
    // command, so it must cost next to nothing.
    static_assert(sizeof result.cdb == sizeof block.CDBByte);
    result.adapter = block.SRB_HaId;
    result.target = block.SRB_Target;
    std::memcpy(result.cdb, block.CDBByte, sizeof result.cdb);
    result.cdbLength = block.SRB_CDBLen <= sizeof block.CDBByte ? block.SRB_CDBLen : sizeof block.CDBByte;
    result.dataIn = (block.SRB_Flags & tarnscsi::aspi::SRB_DIR_IN) != 0;
    result.length = block.SRB_BufLen;
    result.sent = false;
    result.pending = false;
    result.returned = 0;
    result.srbStatus = 0;
    result.hostStatus = 0;
    result.targetStatus = 0;
    result.sense = Sense{};
}

// What the manager and the camera made of it.
void RecordOutcome(const tarnscsi::aspi::SRB_ExecSCSICmd& block, tarnscsi::aspi::BYTE status, CommandResult& result) {
    result.srbStatus = status;
    result.hostStatus = block.SRB_HaStat;
    result.targetStatus = block.SRB_TargStat;
    if (result.targetStatus == tarnscsi::aspi::STATUS_CHKCOND) {
        result.sense = DecodeSense(block.SenseArea, block.SRB_SenseLen);
    }
}

// The manager writes SRB_Status last, from its own thread, and lets go of
// the block and the data buffer with it.
tarnscsi::aspi::BYTE StatusOf(tarnscsi::aspi::SRB_ExecSCSICmd& block) {
    return std::atomic_ref<tarnscsi::aspi::BYTE>(block.SRB_Status).load(std::memory_order_acquire);
}

// The request's status did not read final when the wait ended: the wait
// failed (the event closed or otherwise unusable), or a signal came that
// was not this request's end (a stray one, a manager that signals too
// soon). The request may still be with the manager, which will still write
// into the block and the buffer: both belong to the caller, who may reuse or
// free them the moment this returns. So the status is polled, as ASPI's
// polling mode does, first yielding, then a millisecond at a time: after a
// failed wait for as long as the wait would have taken (the kernel's time
// limit ends any command), after a signal for `limitMicroseconds` at most.
// True when the status is final.
constexpr std::int64_t kNoLimit = -1;

bool AwaitFinalStatus(tarnscsi::aspi::SRB_ExecSCSICmd& block, std::int64_t limitMicroseconds) {
    constexpr unsigned kYieldRounds = 16;
    const std::int64_t start = MonotonicMicroseconds();
    for (unsigned round = 0; StatusOf(block) == tarnscsi::aspi::SS_PENDING; ++round) {
        if (limitMicroseconds != kNoLimit && MonotonicMicroseconds() - start >= limitMicroseconds) return false;
        Sleep(round < kYieldRounds ? 0 : 1);
    }
    return true;
}

// How long the status is looked at after a signal: a manager publishes it
// before it signals, so this is only a grace for one that gets the order
// wrong; a manager that signals without a final status fails the command,
// as the wait's end does by design.
constexpr std::int64_t kSignalledStatusMicroseconds = 100'000;

// The manager signals the event just after it publishes the status; how
// long a signal still to come is waited for before the event is closed.
constexpr DWORD kLateSignalMilliseconds = 1000;

}  // namespace

AspiTransport::AspiTransport() {
    trace::ConfigureFromEnvironment();
    module = LoadLibraryA(tarnscsi::aspi::kManagerLibrary);
    if (module != nullptr) {
        getSupportInfo = Resolve<tarnscsi::aspi::SupportInfoFn>(module, tarnscsi::aspi::kSupportInfoEntry);
        sendCommand = Resolve<tarnscsi::aspi::SendCommandFn>(module, tarnscsi::aspi::kSendCommandEntry);
        // Both or neither: a claim that could not be given back is no use.
        // A manager without them gets the module's own claims where the
        // system has them (Windows); elsewhere none.
        claimTarget = Resolve<AspiClaimTargetFn>(module, ASPI_CLAIM_TARGET_ENTRY);
        releaseTarget = Resolve<AspiReleaseTargetFn>(module, ASPI_RELEASE_TARGET_ENTRY);
        if (claimTarget == nullptr || releaseTarget == nullptr) {
            claimTarget = session_claims::kClaimTarget;
            releaseTarget = session_claims::kReleaseTarget;
        }
    }
    // Created whether or not the library was found: manual reset, not signalled.
    completionEvent = CreateEventA(nullptr, 1, 0, nullptr);
}

AspiTransport::~AspiTransport() {
    // A request whose signal may still come keeps the event and the
    // manager, deliberately: the event's handle (on Linux a descriptor
    // number) could by then name something else, which the signal would
    // write to, and the manager's code may still run to complete it.
    if (AbsorbLateSignal()) return;
    if (completionEvent != nullptr) CloseHandle(completionEvent);
    if (module != nullptr) FreeLibrary(module);
}

bool AspiTransport::IsValid() const {
    return module != nullptr && getSupportInfo != nullptr && sendCommand != nullptr && completionEvent != nullptr;
}

ConnectError AspiTransport::Error() const {
    if (module == nullptr) return ConnectError::kMissingManager;
    if (getSupportInfo == nullptr || sendCommand == nullptr) return ConnectError::kCorruptManager;
    if (completionEvent == nullptr) return ConnectError::kNoEvent;
    return ConnectError::kNone;
}

bool AspiTransport::AbsorbLateSignal() {
    if (signalOutstanding)
        signalOutstanding = WaitForSingleObject(completionEvent, kLateSignalMilliseconds) != WAIT_OBJECT_0;
    return signalOutstanding;
}

tarnscsi::aspi::DWORD AspiTransport::GetSupportInfo() const { return getSupportInfo != nullptr ? getSupportInfo() : 0; }

tarnscsi::aspi::DWORD AspiTransport::SendRequest(void* block) const {
    return sendCommand != nullptr ? sendCommand(block) : 0;
}

AspiTransport::Claim AspiTransport::ClaimTarget(std::uint8_t adapter, std::uint8_t target, std::string& holder) const {
    holder.clear();
    if (claimTarget == nullptr) return Claim::kUnsupported;
    char text[tarnscsi::aspi::kHolderCapacity] = {};
    if (claimTarget(adapter, target, text, sizeof text) == tarnscsi::aspi::kAspiClaimed) return Claim::kClaimed;
    text[sizeof text - 1] = '\0';
    holder = text[0] != '\0' ? text : "another program";
    return Claim::kHeld;
}

void AspiTransport::ReleaseTarget(std::uint8_t adapter, std::uint8_t target) const {
    if (releaseTarget != nullptr) releaseTarget(adapter, target);
}

bool AspiTransport::Execute(tarnscsi::aspi::SRB_ExecSCSICmd& block) {
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_Flags = static_cast<tarnscsi::aspi::BYTE>(block.SRB_Flags | tarnscsi::aspi::SRB_EVENT_NOTIFY);
    block.SRB_PostProc = completionEvent;
    RecordRequest(block, lastResult);
    // Without an event nothing could hold us until the manager lets go of
    // the block, so such a request is never submitted.
    if (sendCommand == nullptr || completionEvent == nullptr) {
        if (trace::Active()) trace::Emit(lastResult, 0);
        return false;
    }

    // The clock is read only while tracing, so an untraced command costs
    // nothing more than before.
    const bool tracing = trace::Active();
    const std::int64_t started = tracing ? MonotonicMicroseconds() : 0;
    AbsorbLateSignal();
    ResetEvent(completionEvent);
    const tarnscsi::aspi::DWORD returned = sendCommand(&block);
    if (returned == tarnscsi::aspi::SS_PENDING) {
        const bool signalled = WaitForSingleObject(completionEvent, INFINITE) == WAIT_OBJECT_0;
        if (!signalled || StatusOf(block) == tarnscsi::aspi::SS_PENDING) {
            // This request's own signal may be still to come.
            signalOutstanding = true;
            AwaitFinalStatus(block, signalled ? kSignalledStatusMicroseconds : kNoLimit);
        }
    }
    const tarnscsi::aspi::BYTE status = StatusOf(block);
    lastResult.sent = true;
    lastResult.pending = returned == tarnscsi::aspi::SS_PENDING;
    lastResult.returned = static_cast<std::uint8_t>(returned);
    RecordOutcome(block, status, lastResult);
    if (tracing) {
        trace::Emit(lastResult, MonotonicMicroseconds() - started);
    }
    return status == tarnscsi::aspi::SS_COMP;
}

}  // namespace tarnscsi
