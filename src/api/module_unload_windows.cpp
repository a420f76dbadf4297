// The unload on Windows: DllMain is told of it, and `reserved` says which
// it is, null for FreeLibrary, not null for the process's exit.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "api/module_unload.h"

void tarnscsi::WatchForExit() {}

// Creates nothing at load. What the release calls under the loader lock
// (closing the module's own claim, or the manager's release entry, which
// our managers offer) loads nothing and waits for no thread.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) tarnscsi::ReleaseClaimsOnUnload();
    return TRUE;
}
