// tarnscsi.exe: the camera from the command line, on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <tarnscsi/standard_descriptors.h>

#include "cli.h"

namespace {

// UTF-8, the encoding the tool works in on every system: a path with letters
// outside the console's code page arrives whole.
std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

}  // namespace

// The arguments as Windows holds them (UTF-16), not as the ANSI code page
// would narrow them (linked with -municode).
int wmain(int argc, wchar_t** argv) {
    const tarnscsi::ClosedStandardDescriptors closed = tarnscsi::OpenClosedStandardDescriptors();
    // A FITS file on standard output (-o -) goes out byte for byte, without
    // the text mode's CR before every LF.
    _setmode(_fileno(stdout), _O_BINARY);
    // Each line reaches a log at once, in order with the errors on stderr
    // (msvcrt takes _IOLBF for full buffering).
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(Utf8(argv[i]));
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return tarnscsi::tool::Run(argc, pointers.data(), closed);
}
