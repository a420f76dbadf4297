// The request handling shared by our ASPI managers: the support word, the
// dispatch of request blocks, their checks, immediate or pending completion,
// event signalling. The bus itself is a Backend; instrumentation (the
// simulator's request log and injected faults) comes in as RequestHooks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/backend.h"
#include "core/completion_worker.h"
#include "core/request_hooks.h"
#include "core/srb_blocks.h"
#include "aspi.h"

namespace tarnscsi::manager {

enum class CompletionMode {
    // SendASPI32Command finishes the request before it returns and returns
    // the final status; the event is not signalled.
    kImmediate,
    // SendASPI32Command returns SS_PENDING; the worker finishes the request
    // after the delay, sets SRB_Status, then signals the event. When the
    // worker cannot start, the request ends at once with
    // SS_INSUFFICIENT_RESOURCES, signalled the same way.
    kPending,
};

class AspiManager {
public:
    // `adapterIdentifier` is reported in HA_Identifier (at most 16 bytes).
    AspiManager(Backend& backend, std::string adapterIdentifier);
    // Waits for requests still pending: their blocks and the backend are in use.
    ~AspiManager();
    AspiManager(const AspiManager&) = delete;
    AspiManager& operator=(const AspiManager&) = delete;

    // GetASPI32SupportInfo: SS_COMP and the adapter count, SS_NO_ADAPTERS
    // when there is none, or the word set by OverrideSupportWord.
    std::uint32_t SupportInfo();

    // SendASPI32Command. Never throws: the entry points are C functions, so
    // a failure inside (memory, a backend's error) ends the request with
    // SS_ERR rather than unwinding into the caller.
    std::uint32_t Send(void* srb) noexcept;

    void SetCompletion(CompletionMode mode, std::chrono::microseconds delay);
    void OverrideSupportWord(std::optional<std::uint32_t> word);
    // Off: a transfer shorter than asked passes as complete, as with a
    // manager that ignores the residual; for tests of what the module does
    // with such a manager. On (the default): it is an error (srb_io.h).
    void ReportShortTransfers(bool on);
    // Installs the hooks told about every request (null: none, the
    // default). Set before the first request; they must outlive this object.
    void SetHooks(RequestHooks* installed) { hooks = installed; }

    // Blocks until no request is pending.
    void WaitIdle();

    // Waits until idle, then: immediate completion, the support word derived
    // from the bus, short transfers reported. Hooks keep their state: their owner resets it.
    void Reset();

    // The worker runs, so the library is pinned and this object must never
    // be destroyed.
    bool WorkerStarted() const { return worker.Started(); }

private:
    std::uint32_t Dispatch(void* srb);
    std::uint8_t GetDeviceType(tarnscsi::aspi::SRB_GDEVBlock& block);
    std::uint8_t Execute(tarnscsi::aspi::SRB_ExecSCSICmd& block);
    std::uint8_t HostAdapterInquiry(SrbHaInquiry& block);
    bool AdapterExists(tarnscsi::aspi::BYTE adapter);

    // Runs the command (or its injected failure) and writes the outcome.
    ScsiOutcome Complete(tarnscsi::aspi::SRB_ExecSCSICmd& block, FaultKind fault);
    void FinishPending(tarnscsi::aspi::SRB_ExecSCSICmd& block, FaultKind fault, RequestHooks::RequestId id);
    // Ends a pending request that no worker took: SS_INSUFFICIENT_RESOURCES,
    // signalled as a pending request is.
    void FailPending(tarnscsi::aspi::SRB_ExecSCSICmd& block, RequestHooks::RequestId id);

    // Forwarded to the hooks, if any.
    RequestHooks::RequestId NoteArrival(const void* block);
    void NoteReturned(RequestHooks::RequestId id, std::uint8_t status);
    void NoteFinished(RequestHooks::RequestId id, std::uint8_t status, const ScsiOutcome* outcome);
    // Returns and finishes at once.
    void NoteDone(RequestHooks::RequestId id, std::uint8_t status, const ScsiOutcome* outcome = nullptr);

    Backend& backend;
    const std::string adapterIdentifier;
    RequestHooks* hooks = nullptr;
    CompletionWorker worker;

    std::mutex settingsMutex;
    CompletionMode mode = CompletionMode::kImmediate;
    std::chrono::microseconds delay{0};
    std::optional<std::uint32_t> supportWord;
    bool shortTransfersReported = true;

    std::mutex idleMutex;
    std::condition_variable idle;
    unsigned pending = 0;
};

}  // namespace tarnscsi::manager