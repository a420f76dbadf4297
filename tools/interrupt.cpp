#include "interrupt.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <thread>

#include "errors.h"

namespace tarnscsi::tool {

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

// How quickly a sleeping wait notices Ctrl-C.
constexpr auto kSleepSlice = std::chrono::milliseconds(20);
// The shell's code for a process ended by a signal.
constexpr int kSignalExitBase = 128;
constexpr std::size_t kTemporarySlots = 4;
// Every signal that would end the tool by default and may come from outside:
// Ctrl-C, kill, a closed terminal (SIGHUP), Ctrl-\ (SIGQUIT). Each stops the
// tool the same way, so none leaves a temporary file behind. (SIGPIPE is
// ignored: a closed pipe is a failed write.)
constexpr std::array kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Paths the signal handler may unlink: written before `used` is set, and
// only read by the handler while it is set.
struct TemporarySlot {
    std::atomic<bool> used{false};
    char path[PATH_MAX] = {};
};
std::array<TemporarySlot, kTemporarySlots> temporaries;

constexpr char kFirstSignalNote[] =
    "\ntarnscsi: stopping after the current camera command; press Ctrl-C again to quit at once\n";

void WriteNote(const char* text, std::size_t size) {
    // Nothing to do if standard error is gone; the result is of no use here.
    const ssize_t ignored = write(STDERR_FILENO, text, size);
    (void)ignored;
}

extern "C" void OnInterruptSignal(int signal) {
    if (interruptFlag == 0) {
        interruptFlag = 1;
        WriteNote(kFirstSignalNote, sizeof kFirstSignalNote - 1);
        return;
    }
    for (TemporarySlot& slot : temporaries) {
        if (slot.used.load()) unlink(slot.path);
    }
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

bool InterruptRequested() { return interruptFlag != 0; }

void ClearInterrupt() { interruptFlag = 0; }

void ThrowIfInterrupted() {
    if (InterruptRequested()) throw Interrupted();
}

void SleepOrThrowIfInterrupted(std::chrono::steady_clock::duration duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    for (;;) {
        ThrowIfInterrupted();
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kSleepSlice, until - now));
    }
}

int RememberTemporary(const std::filesystem::path& path) {
    const std::string text = path.string();
    if (text.size() >= PATH_MAX) return -1;
    for (std::size_t i = 0; i < temporaries.size(); ++i) {
        TemporarySlot& slot = temporaries[i];
        if (slot.used.load()) continue;
        std::memcpy(slot.path, text.c_str(), text.size() + 1);
        slot.used.store(true);
        return static_cast<int>(i);
    }
    return -1;
}

void ForgetTemporary(int slot) {
    if (slot >= 0 && static_cast<std::size_t>(slot) < temporaries.size()) temporaries[slot].used.store(false);
}

}  // namespace tarnscsi::tool
