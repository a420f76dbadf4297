// The unload on POSIX systems: the library's destructor function runs both
// at dlclose and at exit. They are told apart by a static object that the
// first Connect makes (so after the program's start), whose destructor is
// an exit handler of this library: exit() runs the exit handlers before any
// library's destructor function, while dlclose runs this library's
// destructor functions before its exit handlers.
#include <atomic>

#include "api/module_unload.h"

namespace {

std::atomic<bool> exiting{false};

struct ExitWatch {
    ExitWatch() = default;
    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;
    ~ExitWatch() { exiting = true; }
};

[[gnu::destructor]] void ReleaseOnUnload() {
    if (!exiting) tarnscsi::ReleaseClaimsOnUnload();
}

}  // namespace

void tarnscsi::WatchForExit() { [[maybe_unused]] static const ExitWatch watch; }
