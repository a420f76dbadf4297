#include "pending_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "errors.h"

namespace tarnscsi::tool {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> tempCounter{0};

fs::path FolderOf(const fs::path& target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }

// Hidden, and unique to this process and call; a stale file of the same name
// (from a process that crashed with the same id) is stepped over.
fs::path ChooseTempName(const fs::path& target) {
    for (;;) {
        // Appended piece by piece: "..." + std::string&& trips GCC 12's -Wrestrict at -O2 (a false positive).
        std::string name = ".";
        name += target.filename().string();
        name += ".part-";
        name += std::to_string(getpid());
        name += '-';
        name += std::to_string(tempCounter++);
        const fs::path candidate = FolderOf(target) / name;
        std::error_code ignored;
        if (!fs::exists(fs::symlink_status(candidate, ignored))) return candidate;
    }
}

void SyncPath(const fs::path& path, int flags, const char* what) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) throw ToolError(std::string("cannot open ") + what + " " + path.string() + ": " + ErrnoText(errno));
    const int result = fsync(fd);
    const int error = errno;
    close(fd);
    if (result != 0) {
        throw ToolError(std::string("cannot flush ") + what + " " + path.string() + " to disk: " + ErrnoText(error));
    }
}

// rename(2) that fails with EEXIST instead of replacing the target. Falls
// back to link + unlink where the filesystem lacks RENAME_NOREPLACE.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
    if (link(from.c_str(), to.c_str()) != 0) return -1;
    unlink(from.c_str());
    return 0;
}

}  // namespace

std::string ErrnoText(int error) { return std::strerror(error); }

PendingFile::PendingFile(fs::path finalPath, bool replace)
    : target(std::move(finalPath)), temp(ChooseTempName(target)), overwrite(replace) {}

PendingFile::~PendingFile() {
    if (!committed) unlink(temp.c_str());
}

void PendingFile::Commit() {
    SyncPath(temp, O_RDONLY, "file");
    const int result = overwrite ? std::rename(temp.c_str(), target.c_str()) : RenameNoReplace(temp, target);
    if (result != 0) {
        const int error = errno;
        if (error == EEXIST) {
            throw ToolError(target.string() + " already exists; use --overwrite to replace it");
        }
        throw ToolError("cannot rename " + temp.string() + " to " + target.string() + ": " + ErrnoText(error));
    }
    committed = true;
    // Makes the new name itself durable. The file is in place either way, and
    // some filesystems refuse to sync a folder, so a failure here is ignored.
    try {
        SyncPath(FolderOf(target), O_RDONLY | O_DIRECTORY, "folder");
    } catch (const ToolError&) {}
}

void CheckWritable(const fs::path& target, bool overwrite) {
    const fs::path folder = FolderOf(target);
    std::error_code error;
    const auto folderStatus = fs::status(folder, error);
    if (!fs::exists(folderStatus)) throw ToolError("folder " + folder.string() + " does not exist");
    if (!fs::is_directory(folderStatus)) throw ToolError(folder.string() + " is not a folder");
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw ToolError("folder " + folder.string() + " is not writable: " + ErrnoText(errno));
    }
    const auto targetStatus = fs::symlink_status(target, error);
    if (fs::is_directory(fs::status(target, error))) throw ToolError(target.string() + " is a folder");
    if (fs::exists(targetStatus) && !overwrite) {
        throw ToolError(target.string() + " already exists; use --overwrite to replace it");
    }
}

}  // namespace tarnscsi::tool
