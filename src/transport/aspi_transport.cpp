#include "transport/aspi_transport.h"

#include <cstring>

namespace {

constexpr char kManagerLibrary[] = "wnaspi32";
constexpr char kSupportInfoEntry[] = "GetASPI32SupportInfo";
constexpr char kSendCommandEntry[] = "SendASPI32Command";

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

}  // namespace

AspiTransport::AspiTransport() {
    module = LoadLibraryA(kManagerLibrary);
    if (module != nullptr) {
        getSupportInfo = Resolve<SupportInfoFn>(module, kSupportInfoEntry);
        sendCommand = Resolve<SendCommandFn>(module, kSendCommandEntry);
    }
    // Created whether or not the library was found: manual reset, not signalled.
    completionEvent = CreateEventA(nullptr, 1, 0, nullptr);
}

AspiTransport::~AspiTransport() {
    if (completionEvent != nullptr) CloseHandle(completionEvent);
    if (module != nullptr) FreeLibrary(module);
}

bool AspiTransport::IsValid() const {
    return module != nullptr && getSupportInfo != nullptr && sendCommand != nullptr &&
           completionEvent != nullptr;
}

const char* AspiTransport::ErrorText() const {
    if (module == nullptr) return "Missing wnaspi32";
    if (getSupportInfo == nullptr || sendCommand == nullptr) return "Corrupt wnaspi32";
    if (completionEvent == nullptr) return "Error (no event)";
    return "";
}

aspi::DWORD AspiTransport::GetSupportInfo() const {
    return getSupportInfo != nullptr ? getSupportInfo() : 0;
}

aspi::DWORD AspiTransport::SendRequest(void* block) const {
    return sendCommand != nullptr ? sendCommand(block) : 0;
}

bool AspiTransport::Execute(aspi::SRB_ExecSCSICmd& block) const {
    block.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    block.SRB_SenseLen = aspi::SENSE_LEN;
    block.SRB_Flags = static_cast<aspi::BYTE>(block.SRB_Flags | aspi::SRB_EVENT_NOTIFY);
    block.SRB_PostProc = completionEvent;
    // Without an event nothing could hold us until the manager lets go of
    // the block, so such a request is never submitted.
    if (sendCommand == nullptr || completionEvent == nullptr) return false;

    ResetEvent(completionEvent);
    const aspi::DWORD status = sendCommand(&block);
    if (status == aspi::SS_PENDING) WaitForSingleObject(completionEvent, INFINITE);
    // The manager writes SRB_Status from another thread before it signals.
    return *static_cast<volatile aspi::BYTE*>(&block.SRB_Status) == aspi::SS_COMP;
}
