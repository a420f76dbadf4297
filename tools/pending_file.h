// Files that appear complete or not at all. The content is written under a
// hidden temporary name in the destination folder; Commit flushes it to disk
// and renames it into place in one step. A PendingFile destroyed without a
// successful Commit removes its temporary file, so a failed write (disk
// full, an error in between, an exception) leaves nothing behind. A file
// replaced keeps its mode (and, for root, its owner); only regular files are
// ever replaced.
#pragma once

#include <filesystem>
#include <string>

#include "imaging/imaging_error.h"

namespace tarnscsi::tool {

class PendingFile {
public:
    // Chooses the temporary name; creates nothing yet.
    PendingFile(std::filesystem::path target, bool overwrite);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::filesystem::path& TempPath() const { return temp; }
    // The temporary file's path as fopen() and cfitsio take it (a narrow
    // string; on Windows only ASCII paths get this far, UnsupportedPathName).
    const std::string& TempName() const { return tempName; }
    const std::filesystem::path& Target() const { return target; }

    // Flushes the temporary file to disk and renames it to the target. Without
    // `overwrite` an existing target is never replaced, not even one that
    // appeared after the pre-flight check. Throws ToolError.
    void Commit();

private:
    std::filesystem::path target;
    std::filesystem::path temp;
    std::string tempName;
    bool overwrite;
    bool committed = false;
    int signalSlot = -1;  // for the second-signal clean-up (interrupt.h)
};

// Checks before the camera is touched that `target` can be written: a file
// published there gets that very name (on Windows: no device name such as
// CON or NUL, no name ending in a dot or a space, in any part of the path),
// its folder exists and is writable; the target does not exist or, with
// `overwrite`, is a regular file the user may write. Throws UsageError
// naming the path: nothing has been done yet.
void CheckWritable(const std::filesystem::path& target, bool overwrite);

// "" when the writers can open files named `path` (UTF-8, as given on the
// command line) on this system; else why not and what to do (on Windows:
// letters outside ASCII).
std::string UnsupportedPathName(const std::string& path);

// Removes the temporary files of earlier runs in `folder` whose process is
// gone (killed before it could clean up). Returns how many it removed.
int RemoveStaleTemporaries(const std::filesystem::path& folder);

// "strerror(errno)" for messages; a closed pipe explained.
using imaging::ErrnoText;

}  // namespace tarnscsi::tool
