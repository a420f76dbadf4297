// Ctrl-C handling: SIGINT, SIGTERM, SIGHUP and SIGQUIT only set a flag,
// which every wait of the tool checks, so a command stops at a safe point,
// drops its frame and disconnects through the normal destructors. A second signal (a camera
// call that never returns, or an impatient user) removes the temporary
// files still open and ends the process at once.
#pragma once

#include <chrono>
#include <filesystem>

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

// Temporary files a second signal removes before the process ends. Returns
// a slot for ForgetTemporary, or -1 when every slot is taken (the file is
// then left to the next run's clean-up of stale temporaries).
int RememberTemporary(const std::filesystem::path& path);
void ForgetTemporary(int slot);

}  // namespace tarnscsi::tool
