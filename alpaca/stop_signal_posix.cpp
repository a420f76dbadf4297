#include "stop_signal.h"

#include <pthread.h>

#include <csignal>

namespace tarnscsi::alpaca {
namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

StopRequests::StopRequests() {
    // Blocked, they stay pending until sigwait takes them: never handled
    // by another thread, never lost before Wait.
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// The signals stay blocked: one that comes while the program ends is not
// taken for a second request.
StopRequests::~StopRequests() = default;

void StopRequests::Wait() {
    const sigset_t signals = StopSignals();
    int received = 0;
    sigwait(&signals, &received);
}

}  // namespace tarnscsi::alpaca
