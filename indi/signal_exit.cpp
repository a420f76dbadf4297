#include "signal_exit.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <initializer_list>

#include <eventloop.h>

namespace tarnscsi::indi {
namespace {

// The pipe from the signal handler to the event loop.
int gSignalPipe[2] = {-1, -1};
void (*gStop)() = nullptr;

// Only what is safe in a signal handler: one byte, the signal's number.
void NoteSignal(int signal) {
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

void SignalArrived(int fd, void* /*unused*/) {
    unsigned char signal = 0;
    if (::read(fd, &signal, 1) != 1) return;
    if (gStop != nullptr) gStop();
    std::fflush(nullptr);
    // Ended by the signal, as the process that sent it expects.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void StopInOrderOnSignals(void (*stop)()) {
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    gStop = stop;
    addCallback(gSignalPipe[0], SignalArrived, nullptr);
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    // The second signal takes the default action: the process ends at once.
    action.sa_flags = SA_RESETHAND;
    for (const int signal : {SIGTERM, SIGINT}) sigaction(signal, &action, nullptr);
}

}  // namespace tarnscsi::indi
