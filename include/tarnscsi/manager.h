// Which ASPI manager the module loads. The module asks for "libwnaspi32.so"
// by the ordinary library search, so by default it gets the installed
// manager: the one for real cameras. The simulated camera is only ever
// chosen explicitly, never as a fallback for a camera that does not answer.
//
// Choosing a manager by path loads it before the module looks; the module's
// load by name then finds that library already in the process (by its
// soname; on Windows by its module name) and uses it. The choice holds for
// the rest of the process.
#pragma once

#include <string>
#include <vector>

namespace tarnscsi {

// Names the simulator's library; wins over every other way of choosing it.
inline constexpr char kSimulatorVariable[] = "TARNSCSI_SIMULATOR";
// The file name the module loads the manager by.
#if defined(_WIN32)
inline constexpr char kManagerFile[] = "wnaspi32.dll";
#else
inline constexpr char kManagerFile[] = "libwnaspi32.so";
#endif

enum class ManagerKind {
    kInstalled,  // the library search decides (real cameras)
    kSimulator,  // the simulated camera shipped with the library
    kPath,       // a manager library named by its path
};

struct ManagerChoice {
    ManagerKind kind = ManagerKind::kInstalled;
    std::string path;  // for kPath
};

// Where the simulator is looked for: TARNSCSI_SIMULATOR when set, then
// beside the program and the library that uses this API (the installed
// layout: <prefix>/lib/tarnscsi/, and the build tree's sim/ folder). On
// Windows only <program folder>\simulator\wnaspi32.dll, as the zip and the
// build tree's bin/ hold it.
std::vector<std::string> SimulatorCandidates();
// The first candidate that exists, or "" when none does.
std::string FindSimulator();

// Makes the module use the chosen manager. Returns "" on success, else what
// went wrong; then nothing was changed and the caller must stop rather than
// go on with another manager.
std::string UseManager(const ManagerChoice& choice);

// What is wrong with the settings the manager the module will load reads
// from the environment (the SCSI generic manager's TARNSCSI_SG_TIMEOUT), in
// the manager's own words, as it reports them; "" when they are fine or
// unset, or when the manager has no settings (the simulator). The manager
// then goes on with its defaults, so programs show this as a warning.
std::string ManagerSettingsProblem();

// For programs without an option of their own: the simulator when
// TARNSCSI_SIMULATOR names one. "" when nothing was asked for or it loaded.
std::string UseManagerFromEnvironment();

}  // namespace tarnscsi
