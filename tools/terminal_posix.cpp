#include <unistd.h>

#include "terminal.h"

namespace tarnscsi::tool {

namespace {
// Carriage return, then "erase to the end of the line".
constexpr char kEraseLine[] = "\r\033[K";
}  // namespace

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void EraseLine(std::FILE* stream, std::size_t /*width*/) { std::fputs(kEraseLine, stream); }

}  // namespace tarnscsi::tool
