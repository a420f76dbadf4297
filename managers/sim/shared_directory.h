// Where the simulated camera shared by a user's programs keeps its files:
// the claim lock of each address and the cooler state. TARNSCSI_SIM_STATE
// decides: unset or empty, the user's runtime directory
// ($XDG_RUNTIME_DIR/tarnscsi, else /tmp/tarnscsi-<uid>); "private", no
// sharing at all (one camera in this process, no files, as tests want);
// anything else, that directory. Windows builds are always private.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tarnscsi::sim {

inline constexpr char kStateVariable[] = "TARNSCSI_SIM_STATE";
inline constexpr char kPrivateState[] = "private";

struct SharedDirectory {
    std::optional<std::filesystem::path> path;  // nothing: private
    std::string problem;                        // why sharing was given up, or ""
};

// Reads TARNSCSI_SIM_STATE and makes the directory (mode 0700) when it is
// not there. A directory that is not a directory, or belongs to someone
// else, or that others may write to, is not used: the camera is private and
// `problem` says why.
SharedDirectory ChooseSharedDirectory();

}  // namespace tarnscsi::sim
