// Opening the simulator's files in the shared directory (claim locks, cooler
// state): regular files only. Anyone who may write the directory may put a
// named pipe, a device, a directory or a link where a file is expected; an
// open must neither wait for a pipe's other end nor follow a link, and what
// is not a plain file is refused with what it is instead.
#pragma once

#include <filesystem>
#include <string>

namespace tarnscsi::sim {

#if !defined(_WIN32)
struct OpenedFile {
    int descriptor = -1;    // -1: not opened
    bool notAFile = false;  // something other than a plain file sits there
    std::string problem;    // why not: "is a directory, not a file", ..., or the system's reason
};

// The regular file `file` opened with `flags` (O_CLOEXEC, O_NOFOLLOW and
// O_NONBLOCK are added).
OpenedFile OpenSharedFile(const std::filesystem::path& file, int flags);
#endif

}  // namespace tarnscsi::sim
