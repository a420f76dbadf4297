// The module's claims for managers without any (session_claims.h): named
// file mappings in the session's namespace.
#include "transport/session_claims.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "common/module_lock.h"
#include "platform/kernel.h"

namespace tarnscsi::session_claims {
namespace {

constexpr unsigned kKeyAdapterShift = 8;
// The mapping holds the holder's text and its terminating NUL.
constexpr DWORD kMappingBytes = tarnscsi::aspi::kHolderCapacity;

constinit ModuleLock claimsLock;

// This process's claims: the mapping's handle per (adapter, target). Never
// destroyed, so that a connection ended as the program exits still finds it;
// the system closes what is left when the process ends. (A module unloaded
// without Disconnect gives its connection's claim back: module_unload.h.)
std::map<std::uint16_t, HANDLE>& Held() {
    static auto* const held = new std::map<std::uint16_t, HANDLE>;
    return *held;
}

std::uint16_t KeyOf(std::uint8_t adapter, std::uint8_t target) {
    return static_cast<std::uint16_t>((adapter << kKeyAdapterShift) | target);
}

std::string MappingName(std::uint8_t adapter, std::uint8_t target) {
    return "Local\\TARNSCSI.target." + std::to_string(adapter) + "." + std::to_string(target);
}

// "NAME, PID N": the program's file name, as the Linux managers name a holder.
std::string ThisProcess() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name(path, length < sizeof path ? length : 0);
    if (const std::size_t slash = name.find_last_of("\\/"); slash != std::string::npos) name.erase(0, slash + 1);
    if (name.empty()) name = "unknown program";
    return name + ", PID " + std::to_string(GetCurrentProcessId());
}

// The holder's text into the mapping (at most kMappingBytes - 1 bytes; the
// page file's pages start zeroed), and out of it.
void WriteHolder(HANDLE mapping, const std::string& text) {
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kMappingBytes);
    if (view == nullptr) return;
    std::memcpy(view, text.data(), text.size() < kMappingBytes ? text.size() : kMappingBytes - 1);
    UnmapViewOfFile(view);
}

std::string ReadHolder(HANDLE mapping) {
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kMappingBytes);
    if (view == nullptr) return {};
    const char* text = static_cast<const char*>(view);
    const void* end = std::memchr(text, '\0', kMappingBytes - 1);
    const std::string holder(text, end != nullptr ? static_cast<const char*>(end) : text + kMappingBytes - 1);
    UnmapViewOfFile(view);
    return holder;
}

void CopyHolder(const std::string& text, char* holder, std::uint32_t capacity) {
    if (holder == nullptr || capacity == 0) return;
    const std::size_t length = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(holder, text.data(), length);
    holder[length] = '\0';
}

// The claim when its mapping can be neither made nor opened, by the reason.
uint32_t WithoutMapping(DWORD error, char* holder, std::uint32_t capacity) {
    switch (error) {
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_COMMITMENT_LIMIT:
        case ERROR_NO_SYSTEM_RESOURCES:
            // Memory or the page file exhausted: Connect says "Out of memory".
            throw std::bad_alloc();
        case ERROR_ACCESS_DENIED:
            // It exists, made by a process whose rights keep this one out.
            CopyHolder("a program running with other rights (as administrator, or as another user)", holder, capacity);
            return tarnscsi::aspi::kAspiClaimHeld;
        default:
            // The name is taken by something other than a claim (an object
            // of another kind): nothing says the camera is in use, so it is
            // used unclaimed, as with a manager without claims where the
            // module has none of its own.
            return tarnscsi::aspi::kAspiClaimed;
    }
}

}  // namespace

uint32_t ASPI_CALL ClaimTarget(uint8_t adapter, uint8_t target, char* holder, uint32_t capacity) {
    std::lock_guard lock(claimsLock);
    const std::string name = MappingName(adapter, target);
    // Not inheritable: a program this one starts holds nothing of it.
    SetLastError(ERROR_SUCCESS);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMappingBytes, name.c_str());
    const DWORD error = GetLastError();
    if (mapping == nullptr) return WithoutMapping(error, holder, capacity);
    if (error == ERROR_ALREADY_EXISTS) {
        // Held elsewhere, or in this process by another connection (another
        // copy of the module, too): a camera serves one connection at a
        // time. A holder still writing its name leaves the text empty.
        CopyHolder(ReadHolder(mapping), holder, capacity);
        CloseHandle(mapping);
        return tarnscsi::aspi::kAspiClaimHeld;
    }
    try {
        WriteHolder(mapping, ThisProcess());
        Held()[KeyOf(adapter, target)] = mapping;
    } catch (...) {
        // Out of memory: no claim is kept that nothing would give back.
        CloseHandle(mapping);
        throw;
    }
    return tarnscsi::aspi::kAspiClaimed;
}

void ASPI_CALL ReleaseTarget(uint8_t adapter, uint8_t target) {
    std::lock_guard lock(claimsLock);
    const auto found = Held().find(KeyOf(adapter, target));
    if (found == Held().end()) return;
    CloseHandle(found->second);
    Held().erase(found);
}

}  // namespace tarnscsi::session_claims
