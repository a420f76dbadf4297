// The Win32 kernel services the transport uses. On Windows they are the real
// ones; elsewhere this declares the small stand-ins of posix_kernel.cpp, with
// the same names and meanings, so the transport is one source everywhere.
// The stand-ins live in the module's namespace: code in it calls them by
// the Win32 names, and the libraries we install define no Win32 name.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

#include <cstdint>

namespace tarnscsi {

using BOOL = int;
using DWORD = std::uint32_t;
using LPCSTR = const char*;
using HANDLE = void*;
using HMODULE = void*;
using FARPROC = void (*)();

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Loads a library by its Windows base name: "wnaspi32" becomes
// dlopen("libwnaspi32.so") with the ordinary dynamic-linker search.
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// Events are Linux eventfds; the handle is the descriptor number cast to a
// pointer, which is how a manager finds it in SRB_PostProc. The descriptor is
// never 0, 1 or 2, so a valid handle is never null. Only unnamed events
// without security attributes exist here.
HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);
BOOL CloseHandle(HANDLE event);

// The calling thread's id (the kernel's thread id); never 0.
DWORD GetCurrentThreadId();
// Gives up the rest of the time slice (0) or sleeps that many milliseconds.
void Sleep(DWORD milliseconds);

}  // namespace tarnscsi

#endif
