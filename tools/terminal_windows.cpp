#include <io.h>
#include <windows.h>

#include <string>

#include "terminal.h"

namespace tarnscsi::tool {

// _isatty() is true for any character device, the null device too: only a
// handle that has a console mode is a console window.
bool IsTerminal(std::FILE* stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) return false;
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}

// Windows 7's console knows no escape sequences: the line is overwritten
// with blanks.
void EraseLine(std::FILE* stream, std::size_t width) {
    std::string blank = "\r";
    blank.append(width, ' ');
    blank += '\r';
    std::fputs(blank.c_str(), stream);
}

}  // namespace tarnscsi::tool
