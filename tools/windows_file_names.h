// The names Windows takes for a file it will really create under that name.
// Each part of a path is checked: a device name (CON, NUL, COM1, ... in any
// case, with any extension, as a folder too) opens the device instead, and a
// name ending in a dot or a space is stored without it. A frame named so
// would be exposed and then lost, or land under another name. Compiled on
// every system, so that its rules are tested everywhere; the Windows tool
// applies it (pending_file_windows.cpp).
#pragma once

#include <string>

namespace tarnscsi::tool {

// "" when Windows creates a file of exactly this path; else why not.
std::string WindowsNameProblem(const std::string& path);

}  // namespace tarnscsi::tool
