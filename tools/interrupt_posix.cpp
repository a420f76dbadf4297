// Ctrl-C on POSIX systems: the stop signals set the flag; a second one
// removes the temporary files and ends the process.
#include <unistd.h>

#include <array>
#include <csignal>

#include "interrupt.h"
#include "interrupt_system.h"

namespace tarnscsi::tool {

namespace {

// The shell's code for a process ended by a signal.
constexpr int kSignalExitBase = 128;
// Every signal that would end the tool by default and may come from outside:
// Ctrl-C, kill, a closed terminal (SIGHUP), Ctrl-\ (SIGQUIT). Each stops the
// tool the same way, so none leaves a temporary file behind. (SIGPIPE is
// ignored: a closed pipe is a failed write.)
constexpr std::array kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RemovePath(const char* path) { unlink(path); }

extern "C" void OnInterruptSignal(int signal) {
    if (interrupt_detail::MarkInterrupted()) {
        // Nothing to do if standard error is gone; the result is of no use here.
        const ssize_t ignored =
            write(STDERR_FILENO, interrupt_detail::kFirstInterruptNote, interrupt_detail::kFirstInterruptNoteSize);
        (void)ignored;
        return;
    }
    interrupt_detail::ForEachTemporary(RemovePath);
    _exit(kSignalExitBase + signal);
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
    for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
    // A file-size limit makes the write fail (EFBIG), so the temporary file
    // is removed as after any failed write, instead of the process dying.
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace tarnscsi::tool
