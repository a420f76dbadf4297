// Ctrl-C handling: SIGINT and SIGTERM only set a flag, which every wait of
// the tool checks, so a command stops at a safe point, drops its frame and
// disconnects through the normal destructors. The handler is one-shot: a
// second Ctrl-C ends the process at once.
#pragma once

#include <chrono>

namespace tarnscsi::tool {

void InstallInterruptHandler();
bool InterruptRequested();
// For tests: forget an interrupt that was seen.
void ClearInterrupt();

// Sleeps for `duration` in short slices; throws Interrupted as soon as an
// interrupt is noticed.
void SleepOrThrowIfInterrupted(std::chrono::steady_clock::duration duration);
// Throws Interrupted when an interrupt has arrived.
void ThrowIfInterrupted();

}  // namespace tarnscsi::tool
