#include "core/platform.h"

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>
#endif

namespace tarnscsi::manager {
namespace {

// Any address inside this library identifies it to the loader.
const char kModuleAnchor = 0;

}  // namespace

#if defined(_WIN32)

void SignalCompletionEvent(void* postProc) {
    if (postProc != nullptr) {
        SetEvent(static_cast<HANDLE>(postProc));
    }
}

bool PinThisModule() {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, &kModuleAnchor,
                              &module) != 0;
}

#else

void SignalCompletionEvent(void* postProc) {
    if (postProc == nullptr) {
        return;
    }
    const int descriptor = static_cast<int>(reinterpret_cast<std::intptr_t>(postProc));
    const std::uint64_t increment = 1;
    while (write(descriptor, &increment, sizeof increment) < 0 && errno == EINTR) {}
}

bool PinThisModule() {
    Dl_info info{};
    if (dladdr(&kModuleAnchor, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    // The handle is deliberately never closed: with RTLD_NODELETE the
    // library stays mapped even if every other reference goes away.
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NODELETE) != nullptr;
}

#endif

}  // namespace tarnscsi::manager