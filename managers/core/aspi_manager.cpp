#include "core/aspi_manager.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "core/platform.h"
#include "core/scsi_outcome.h"
#include "core/srb_io.h"

namespace tarnscsi::manager {
namespace {

constexpr unsigned kSupportStatusShift = 8;

void CopyPadded(tarnscsi::aspi::BYTE (&field)[16], const char* text) {
    std::memset(field, ' ', sizeof field);
    std::memcpy(field, text, std::min(std::strlen(text), sizeof field));
}

}  // namespace

AspiManager::AspiManager(Backend& bus, std::string identifier)
    : backend(bus), adapterIdentifier(std::move(identifier)) {}

AspiManager::~AspiManager() { WaitIdle(); }

std::uint32_t AspiManager::SupportInfo() {
    {
        std::lock_guard lock(settingsMutex);
        if (supportWord) {
            return *supportWord;
        }
    }
    const std::uint8_t count = backend.AdapterCount();
    if (count == 0) {
        return std::uint32_t{tarnscsi::aspi::SS_NO_ADAPTERS} << kSupportStatusShift;
    }
    return (std::uint32_t{tarnscsi::aspi::SS_COMP} << kSupportStatusShift) | count;
}

std::uint32_t AspiManager::Send(void* srb) noexcept {
    if (srb == nullptr) {
        return tarnscsi::aspi::SS_INVALID_SRB;
    }
    try {
        return Dispatch(srb);
    } catch (...) {
        // Every block has its status at the same place as the header's.
        PublishStatus(static_cast<tarnscsi::aspi::BYTE*>(srb)[offsetof(SrbHeader, SRB_Status)], tarnscsi::aspi::SS_ERR);
        return tarnscsi::aspi::SS_ERR;
    }
}

std::uint32_t AspiManager::Dispatch(void* srb) {
    auto* const bytes = static_cast<tarnscsi::aspi::BYTE*>(srb);
    switch (bytes[offsetof(SrbHeader, SRB_Cmd)]) {
        case tarnscsi::aspi::SC_GET_DEV_TYPE: return GetDeviceType(*static_cast<tarnscsi::aspi::SRB_GDEVBlock*>(srb));
        case tarnscsi::aspi::SC_EXEC_SCSI_CMD: return Execute(*static_cast<tarnscsi::aspi::SRB_ExecSCSICmd*>(srb));
        case tarnscsi::aspi::SC_HA_INQUIRY: return HostAdapterInquiry(*static_cast<SrbHaInquiry*>(srb));
        default: {
            const auto id = NoteArrival(srb);
            PublishStatus(bytes[offsetof(SrbHeader, SRB_Status)], tarnscsi::aspi::SS_INVALID_CMD);
            NoteDone(id, tarnscsi::aspi::SS_INVALID_CMD);
            return tarnscsi::aspi::SS_INVALID_CMD;
        }
    }
}

bool AspiManager::AdapterExists(tarnscsi::aspi::BYTE adapter) { return adapter < backend.AdapterCount(); }

std::uint8_t AspiManager::GetDeviceType(tarnscsi::aspi::SRB_GDEVBlock& block) {
    const auto id = NoteArrival(&block);
    std::uint8_t status = tarnscsi::aspi::SS_INVALID_HA;
    if (AdapterExists(block.SRB_HaId)) {
        // An empty address leaves SRB_DeviceType as it was, as real managers do.
        const auto type = backend.DeviceType(block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
        if (type) {
            block.SRB_DeviceType = *type;
            status = tarnscsi::aspi::SS_COMP;
        } else {
            status = tarnscsi::aspi::SS_NO_DEVICE;
        }
    }
    PublishStatus(block.SRB_Status, status);
    NoteDone(id, status);
    return status;
}

std::uint8_t AspiManager::HostAdapterInquiry(SrbHaInquiry& block) {
    const auto id = NoteArrival(&block);
    std::uint8_t status = tarnscsi::aspi::SS_INVALID_HA;
    if (AdapterExists(block.SRB_HaId)) {
        block.HA_Count = backend.AdapterCount();
        block.HA_SCSI_ID = kHostAdapterScsiId;
        CopyPadded(block.HA_ManagerId, kManagerIdentifier);
        CopyPadded(block.HA_Identifier, adapterIdentifier.c_str());
        std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
        block.HA_Unique[kHaUniqueMaxTargets] = kHaTargetsPerBus;
        status = tarnscsi::aspi::SS_COMP;
    }
    PublishStatus(block.SRB_Status, status);
    NoteDone(id, status);
    return status;
}

std::uint8_t AspiManager::Execute(tarnscsi::aspi::SRB_ExecSCSICmd& block) {
    const auto id = NoteArrival(&block);

    // Blocks that never reach the bus are not offered to the fault hook.
    std::optional<std::uint8_t> refusal;
    FaultKind fault = FaultKind::kNone;
    if (!AdapterExists(block.SRB_HaId)) {
        refusal = tarnscsi::aspi::SS_INVALID_HA;
    } else if (block.SRB_CDBLen == 0 || block.SRB_CDBLen > kMaxCdbLength) {
        refusal = tarnscsi::aspi::SS_INVALID_SRB;
    } else if (hooks != nullptr) {
        fault = hooks->FaultFor(id, block.CDBByte[0]);
        if (fault == FaultKind::kRefuse) {
            refusal = tarnscsi::aspi::SS_ERR;
        }
    }
    if (refusal) {
        PublishStatus(block.SRB_Status, *refusal);
        NoteDone(id, *refusal);
        return *refusal;
    }
    if (fault == FaultKind::kNoFinalStatus) {
        PublishStatus(block.SRB_Status, tarnscsi::aspi::SS_PENDING);
        NoteReturned(id, tarnscsi::aspi::SS_PENDING);
        if ((block.SRB_Flags & tarnscsi::aspi::SRB_EVENT_NOTIFY) != 0) SignalCompletionEvent(block.SRB_PostProc);
        return tarnscsi::aspi::SS_PENDING;
    }

    CompletionMode currentMode;
    std::chrono::microseconds currentDelay;
    {
        std::lock_guard lock(settingsMutex);
        currentMode = mode;
        currentDelay = delay;
    }
    if (currentMode == CompletionMode::kImmediate) {
        const ScsiOutcome outcome = Complete(block, fault);
        NoteDone(id, outcome.srbStatus, &outcome);
        return outcome.srbStatus;
    }

    // Made first: the only step here that can throw (no memory), while
    // nothing is published yet.
    CompletionWorker::Job job = [this, &block, fault, id] { FinishPending(block, fault, id); };
    PublishStatus(block.SRB_Status, tarnscsi::aspi::SS_PENDING);
    NoteReturned(id, tarnscsi::aspi::SS_PENDING);
    {
        std::lock_guard lock(idleMutex);
        ++pending;
    }
    if (!worker.Post(CompletionWorker::Clock::now() + currentDelay, std::move(job))) {
        // No worker took it (its thread could not start, or memory ran
        // out): it ends now, failed, the way a pending request ends.
        FailPending(block, id);
    }
    return tarnscsi::aspi::SS_PENDING;
}

ScsiOutcome AspiManager::Complete(tarnscsi::aspi::SRB_ExecSCSICmd& block, FaultKind fault) {
    ScsiOutcome outcome;
    const ScsiCommand command = CommandOf(block);
    // Asked only for an injected fault: an empty address still times out.
    const bool present =
        fault != FaultKind::kNone && backend.DeviceType(command.adapter, command.target, command.lun).has_value();
    if (present && fault == FaultKind::kCheckCondition) {
        outcome = CheckConditionOutcome(tarnscsi::scsi::SenseKey::kAbortedCommand, tarnscsi::scsi::kNoAdditionalSense);
    } else if (present && fault == FaultKind::kUnitAttention) {
        outcome = CheckConditionOutcome(tarnscsi::scsi::SenseKey::kUnitAttention, tarnscsi::scsi::kPowerOnOrReset);
    } else if (present && fault == FaultKind::kShortTransfer) {
        outcome = ExecutedShort(backend, command);
    } else if (present && fault == FaultKind::kCommandTimeout) {
        outcome = CommandTimeoutOutcome();
    } else {
        outcome = backend.Execute(command);
    }
    bool judged = true;
    {
        std::lock_guard lock(settingsMutex);
        judged = shortTransfersReported;
    }
    if (judged) {
        outcome = Judged(command, outcome);
    }
    ApplyOutcome(block, outcome);
    return outcome;
}

void AspiManager::FinishPending(tarnscsi::aspi::SRB_ExecSCSICmd& block, FaultKind fault, RequestHooks::RequestId id) {
    // Read before completion: once SRB_Status is final the block is the
    // initiator's again and may already be reused.
    const bool notify = (block.SRB_Flags & tarnscsi::aspi::SRB_EVENT_NOTIFY) != 0;
    void* const event = block.SRB_PostProc;

    const ScsiOutcome outcome = Complete(block, fault);
    NoteFinished(id, outcome.srbStatus, &outcome);
    if (notify) {
        SignalCompletionEvent(event);
    }
    // Notified under the lock: once WaitIdle sees no request pending, the
    // manager may be destroyed, and this thread must be done with it.
    std::lock_guard lock(idleMutex);
    --pending;
    idle.notify_all();
}

void AspiManager::FailPending(tarnscsi::aspi::SRB_ExecSCSICmd& block, RequestHooks::RequestId id) {
    const bool notify = (block.SRB_Flags & tarnscsi::aspi::SRB_EVENT_NOTIFY) != 0;
    void* const event = block.SRB_PostProc;
    NoteFinished(id, tarnscsi::aspi::SS_INSUFFICIENT_RESOURCES, nullptr);
    PublishStatus(block.SRB_Status, tarnscsi::aspi::SS_INSUFFICIENT_RESOURCES);
    if (notify) {
        SignalCompletionEvent(event);
    }
    std::lock_guard lock(idleMutex);
    --pending;
    idle.notify_all();
}

void AspiManager::SetCompletion(CompletionMode newMode, std::chrono::microseconds newDelay) {
    std::lock_guard lock(settingsMutex);
    mode = newMode;
    delay = newDelay;
}

void AspiManager::OverrideSupportWord(std::optional<std::uint32_t> word) {
    std::lock_guard lock(settingsMutex);
    supportWord = word;
}

void AspiManager::ReportShortTransfers(bool on) {
    std::lock_guard lock(settingsMutex);
    shortTransfersReported = on;
}

void AspiManager::WaitIdle() {
    std::unique_lock lock(idleMutex);
    idle.wait(lock, [this] { return pending == 0; });
}

void AspiManager::Reset() {
    WaitIdle();
    SetCompletion(CompletionMode::kImmediate, std::chrono::microseconds{0});
    OverrideSupportWord(std::nullopt);
    ReportShortTransfers(true);
}

RequestHooks::RequestId AspiManager::NoteArrival(const void* block) {
    return hooks != nullptr ? hooks->Arrived(block) : RequestHooks::RequestId{0};
}

void AspiManager::NoteReturned(RequestHooks::RequestId id, std::uint8_t status) {
    if (hooks != nullptr) {
        hooks->Returned(id, status);
    }
}

void AspiManager::NoteFinished(RequestHooks::RequestId id, std::uint8_t status, const ScsiOutcome* outcome) {
    if (hooks != nullptr) {
        hooks->Finished(id, status, outcome);
    }
}

void AspiManager::NoteDone(RequestHooks::RequestId id, std::uint8_t status, const ScsiOutcome* outcome) {
    NoteReturned(id, status);
    NoteFinished(id, status, outcome);
}

}  // namespace tarnscsi::manager