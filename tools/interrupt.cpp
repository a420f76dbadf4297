#include "interrupt.h"

#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "errors.h"
#include "interrupt_system.h"

namespace tarnscsi::tool {

namespace {

std::atomic<bool> interruptFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

// How quickly a sleeping wait notices Ctrl-C.
constexpr auto kSleepSlice = std::chrono::milliseconds(20);
constexpr std::size_t kTemporarySlots = 4;
// The longest path a slot holds, with its terminating zero.
constexpr std::size_t kTemporaryPathBytes = 4096;

// Paths the interrupt handler may remove: written before `used` is set, and
// only read by the handler while it is set.
struct TemporarySlot {
    std::atomic<bool> used{false};
    char path[kTemporaryPathBytes] = {};
};
std::array<TemporarySlot, kTemporarySlots> temporaries;

}  // namespace

namespace interrupt_detail {

const char kFirstInterruptNote[] =
    "\ntarnscsi: stopping after the current camera command; press Ctrl-C again to quit at once\n";
const std::size_t kFirstInterruptNoteSize = sizeof kFirstInterruptNote - 1;

bool MarkInterrupted() { return !interruptFlag.exchange(true); }

void ForEachTemporary(void (*remove)(const char* path)) {
    for (TemporarySlot& slot : temporaries) {
        if (slot.used.load()) remove(slot.path);
    }
}

}  // namespace interrupt_detail

bool InterruptRequested() { return interruptFlag.load(); }

void ClearInterrupt() { interruptFlag.store(false); }

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
    const std::u8string text = path.u8string();
    if (text.size() >= kTemporaryPathBytes) return -1;
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
