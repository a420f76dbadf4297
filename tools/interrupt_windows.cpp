// Ctrl-C on Windows: the console calls the handler on a thread of its own.
// Ctrl-C and Ctrl-Break set the flag; a second one removes the temporary
// files and ends the process. Closing the console window, logging off and
// shutting down also set the flag, and the handler then gives the command
// the few seconds Windows allows to let the camera go and clean up.
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "interrupt.h"
#include "interrupt_system.h"

namespace tarnscsi::tool {

namespace {

// The exit code of a process stopped by a second Ctrl-C: as a POSIX shell
// reports SIGINT (128 + 2), so that scripts see the same code everywhere.
constexpr UINT kInterruptedExitCode = 130;
// Windows ends a process this long after it was told its console closes
// (5 s); the handler returns a little before, having removed what is left.
constexpr auto kCloseGrace = std::chrono::milliseconds(4500);
constexpr auto kCloseSlice = std::chrono::milliseconds(50);

void RemovePath(const char* path) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (size <= 0) return;
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
    DeleteFileW(wide.c_str());
}

void WriteNote() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        WriteFile(error, interrupt_detail::kFirstInterruptNote,
                  static_cast<DWORD>(interrupt_detail::kFirstInterruptNoteSize), &written, nullptr);
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        if (interrupt_detail::MarkInterrupted()) {
            WriteNote();
            return TRUE;
        }
        interrupt_detail::ForEachTemporary(RemovePath);
        TerminateProcess(GetCurrentProcess(), kInterruptedExitCode);
        return TRUE;
    }
    // The window closes, the user logs off, Windows shuts down: the process
    // ends when this returns, or when the command finishes first.
    interrupt_detail::MarkInterrupted();
    const auto until = std::chrono::steady_clock::now() + kCloseGrace;
    while (std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(kCloseSlice);
    interrupt_detail::ForEachTemporary(RemovePath);
    return FALSE;
}

}  // namespace

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace tarnscsi::tool
