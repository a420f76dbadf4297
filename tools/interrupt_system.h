// Between the interrupt handling every system shares (interrupt.cpp) and the
// system's own handler (interrupt_posix.cpp, interrupt_windows.cpp).
#pragma once

#include <cstddef>

namespace tarnscsi::tool::interrupt_detail {

// Said on standard error at the first interrupt.
extern const char kFirstInterruptNote[];
extern const std::size_t kFirstInterruptNoteSize;

// Records an interrupt; true for the first one. Safe in a signal handler.
bool MarkInterrupted();

// Calls `remove` with the path (UTF-8) of every temporary file still
// remembered. Safe in a signal handler when `remove` is.
void ForEachTemporary(void (*remove)(const char* path));

}  // namespace tarnscsi::tool::interrupt_detail
