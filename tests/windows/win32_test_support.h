// Small helpers for the Windows tests: typed GetProcAddress and the name of
// our simulator as it identifies itself.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace win32_test {

// The name the module loads the manager by, and what our simulator's
// SimIdentity returns (Wine's own manager has no such export).
inline constexpr char kManagerName[] = "wnaspi32";
inline constexpr char kSimIdentity[] = "tarnscsi-aspi-sim";

// GetProcAddress with the function's own type; null when absent. Goes
// through memcpy: a cast between unrelated function types is not portable.
template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
    FARPROC raw = GetProcAddress(module, name);
    Fn function = nullptr;
    static_assert(sizeof function == sizeof raw);
    std::memcpy(&function, &raw, sizeof function);
    return function;
}

// True when a wnaspi32 module is loaded in this process.
inline bool ManagerLoaded() { return GetModuleHandleA(kManagerName) != nullptr; }

}  // namespace win32_test
