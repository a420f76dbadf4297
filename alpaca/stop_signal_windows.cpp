#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "stop_signal.h"

namespace tarnscsi::alpaca {
namespace {

// The handler runs on a thread the system starts for it, and may still run
// while the program ends: it reaches the one StopRequests through two
// manual-reset events that are never closed (nothing of theirs is torn
// down at exit under it).
HANDLE asked = nullptr;
HANDLE finished = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: SetEvent(asked); return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends when this returns: not before the program
            // has stopped (the system ends it anyway after its time limit).
            SetEvent(asked);
            WaitForSingleObject(finished, INFINITE);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

StopRequests::StopRequests() {
    if (!asked) asked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!finished) finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(asked);
    ResetEvent(finished);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// The handler stays: a Ctrl-C from here to the end of the program is taken
// for the stop already under way, instead of ending the process half-way.
StopRequests::~StopRequests() { SetEvent(finished); }

void StopRequests::Wait() { WaitForSingleObject(asked, INFINITE); }

}  // namespace tarnscsi::alpaca
