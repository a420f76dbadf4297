// Which ASPI manager the module loads. The module asks for "libwnaspi32.so"
// by the ordinary library search, so by default it gets the installed
// manager: the one for real cameras. The simulated camera is only ever
// chosen explicitly: by a program option, by TARNSCSI_SIMULATOR naming the
// simulator's library, or by a library path that puts the simulator first.
// It is never a fallback for a camera that does not answer.
//
// Choosing the simulator loads it by its full path before the module looks;
// the module's load by name then finds that library already in the process
// (by its soname) and uses it.
#pragma once

#include <optional>
#include <string>

namespace tarnscsi::manager_choice {

inline constexpr char kSimulatorVariable[] = "TARNSCSI_SIMULATOR";
// The file name the module loads the manager by.
inline constexpr char kManagerFile[] = "libwnaspi32.so";

// The simulator asked for, if any: the variable's value when it is set and
// not empty (it names the library), else `builtIn` when `simulateOption` is
// given, else nothing (the installed manager).
std::optional<std::string> RequestedSimulator(bool simulateOption, const char* variable, const std::string& builtIn);

// Loads the simulator at `path` for the rest of the process. Returns "" on
// success, else what went wrong; then nothing was changed, and the caller
// must stop rather than go on with another manager.
std::string LoadSimulator(const std::string& path);

// For programs without an option of their own (the INDI driver): the
// simulator when TARNSCSI_SIMULATOR names one. Returns "" when nothing was
// asked for or the simulator was loaded, else the error.
std::string ApplyEnvironment();

}  // namespace tarnscsi::manager_choice
