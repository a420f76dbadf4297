// Publishing files on POSIX systems: fsync, renameat2 without replacing,
// the mode and owner of a replaced file kept.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>

#include "errors.h"
#include "pending_file.h"
#include "pending_file_system.h"

namespace tarnscsi::tool::pending_detail {

namespace fs = std::filesystem;

namespace {

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

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

bool ProcessIsGone(long id) { return kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH; }

std::size_t NameLimit(const fs::path& folder) {
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

std::size_t PathLimit() { return PATH_MAX; }

bool IsNameTooLong(const std::error_code& error) { return error.value() == ENAMETOOLONG; }

std::string FolderNotWritable(const fs::path& folder) {
    return access(folder.c_str(), W_OK | X_OK) == 0 ? std::string() : ErrnoText(errno);
}

std::string TargetNotWritable(const fs::path& target) {
    return access(target.c_str(), W_OK) == 0 ? std::string() : ErrnoText(errno);
}

std::string UnsupportedName(const std::string& /*path*/) { return {}; }

std::string UnpublishableName(const std::string& /*target*/) { return {}; }

void FlushToDisk(const fs::path& file) { SyncPath(file, O_RDONLY, "file"); }

void FlushFolder(const fs::path& folder) noexcept {
    try {
        SyncPath(folder, O_RDONLY | O_DIRECTORY, "folder");
    } catch (const ToolError&) {}
}

// Gives the temporary file the mode (and, when root, the owner) of the file
// it replaces, so that replacing a file changes nothing but its content.
void KeepAttributes(const fs::path& temp, const fs::path& target) {
    struct stat existing {};
    if (lstat(target.c_str(), &existing) != 0) return;  // nothing to replace
    if (!S_ISREG(existing.st_mode)) {
        throw ToolError(target.string() + " is not a regular file; it is never replaced");
    }
    if (chmod(temp.c_str(), existing.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO)) != 0) {
        throw ToolError("cannot give " + temp.string() + " the mode of " + target.string() + ": " + ErrnoText(errno));
    }
    if (geteuid() == 0 && chown(temp.c_str(), existing.st_uid, existing.st_gid) != 0) {
        throw ToolError("cannot give " + temp.string() + " the owner of " + target.string() + ": " + ErrnoText(errno));
    }
}

void Publish(const fs::path& temp, const fs::path& target, bool overwrite) {
    const int result = overwrite ? std::rename(temp.c_str(), target.c_str()) : RenameNoReplace(temp, target);
    if (result == 0) return;
    const int error = errno;
    if (error == EEXIST) throw ToolError(target.string() + " already exists; use --overwrite to replace it");
    throw ToolError("cannot rename " + temp.string() + " to " + target.string() + ": " + ErrnoText(error));
}

bool RemoveFile(const fs::path& path) noexcept { return unlink(path.c_str()) == 0; }

}  // namespace tarnscsi::tool::pending_detail
