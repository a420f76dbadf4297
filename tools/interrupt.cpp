#include "interrupt.h"

#include <csignal>
#include <thread>

#include "errors.h"

namespace tarnscsi::tool {

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

// How quickly a sleeping wait notices Ctrl-C.
constexpr auto kSleepSlice = std::chrono::milliseconds(20);

extern "C" void OnInterruptSignal(int) { interruptFlag = 1; }

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
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

}  // namespace tarnscsi::tool
