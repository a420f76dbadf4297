// AspiTransport: the module's only road to the SCSI bus. It loads the ASPI
// manager library by name, resolves its two entry points, owns one
// manual-reset completion event and executes one request block at a time,
// blocking until the manager reports it finished. It knows nothing of cameras.
#pragma once

#include <tarnscsi/result.h>

#include <string>

#include "platform/kernel.h"
#include "aspi.h"
#include "aspi_claim.h"

namespace tarnscsi {

class AspiTransport {
public:
    // Never fails as such: what is missing shows in IsValid and Error.
    AspiTransport();
    // Releases the library and the event; keeps both when a request's
    // signal may still come (its wait failed, or ended without a final
    // status), as the manager's code may still run to complete it.
    virtual ~AspiTransport();
    AspiTransport(const AspiTransport&) = delete;
    AspiTransport& operator=(const AspiTransport&) = delete;

    // Library, both entry points and the event are all present.
    virtual bool IsValid() const;
    // The first missing resource (kMissingManager, kCorruptManager,
    // kNoEvent), or kNone.
    virtual ConnectError Error() const;

    // The manager's support word; 0 when the entry point is missing.
    tarnscsi::aspi::DWORD GetSupportInfo() const;
    // Hands a block to the manager as it is and returns its status; 0 when
    // the entry point is missing. No event, no wait: for requests the manager
    // answers before returning (get device type).
    tarnscsi::aspi::DWORD SendRequest(void* block) const;
    // Completes an execute-command block (command code, sense length, event
    // notification), submits it and waits for it; true when it completed
    // with SS_COMP. Refuses without submitting when there is no event to wait on.
    // How it ended is kept in LastResult() and, when tracing, written out.
    bool Execute(tarnscsi::aspi::SRB_ExecSCSICmd& block);

    // Exclusive access (aspi/aspi_claim.h), where the manager offers
    // it, else on Windows the module's own (session_claims.h). kClaimed:
    // this process now holds the target; kHeld: another one does, and
    // `holder` says who; kUnsupported: there are no claims (a manager
    // without them on Linux), so nothing stops the caller.
    enum class Claim { kClaimed, kHeld, kUnsupported };
    Claim ClaimTarget(std::uint8_t adapter, std::uint8_t target, std::string& holder) const;
    void ReleaseTarget(std::uint8_t adapter, std::uint8_t target) const;

    // The last execute request: its address, command bytes, the statuses
    // the manager and the camera returned, and the decoded sense.
    const CommandResult& LastResult() const { return lastResult; }

private:
    // Waits a little for a signal still to come (signalOutstanding); true
    // when it may come yet.
    bool AbsorbLateSignal();

    HMODULE module = nullptr;
    HANDLE completionEvent = nullptr;
    tarnscsi::aspi::SupportInfoFn getSupportInfo = nullptr;
    tarnscsi::aspi::SendCommandFn sendCommand = nullptr;
    AspiClaimTargetFn claimTarget = nullptr;
    AspiReleaseTargetFn releaseTarget = nullptr;
    CommandResult lastResult;
    // A request's wait failed or ended without a final status, so the
    // manager may signal the event still.
    bool signalOutstanding = false;
};

}  // namespace tarnscsi
