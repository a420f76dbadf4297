// The terminal, as far as the tool draws on it: whether a stream is one, and
// how a status line is erased. One implementation per system
// (terminal_posix.cpp, terminal_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdio>

namespace tarnscsi::tool {

// Whether `stream` is a terminal (a console window on Windows) a person
// reads, rather than a file, a pipe or the null device.
bool IsTerminal(std::FILE* stream);

// Erases the line the cursor is on, `width` characters long, and puts the
// cursor back at its start.
void EraseLine(std::FILE* stream, std::size_t width);

}  // namespace tarnscsi::tool
