// The unload on POSIX systems: the library's destructor function runs both
// at dlclose and at exit. They are told apart by an exit handler that the
// first Connect registers (so after the program's start): exit() runs the
// exit handlers before any library's destructor function, while dlclose
// runs this library's destructor functions before its exit handlers.
#include <atomic>
#include <cstdlib>

#include "api/module_unload.h"

namespace {

std::atomic<bool> exiting{false};

void NoteExit() { exiting = true; }

[[gnu::destructor]] void ReleaseOnUnload() {
    if (!exiting) tarnscsi::ReleaseClaimsOnUnload();
}

}  // namespace

void tarnscsi::WatchForExit() {
    // Once per load; a handler that cannot be registered leaves the
    // release at exit, which our managers allow for.
    [[maybe_unused]] static const bool registered = std::atexit(NoteExit) == 0;
}
