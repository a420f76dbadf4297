#include "pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <limits>
#include <regex>
#include <system_error>

#include "errors.h"
#include "interrupt.h"

namespace tarnscsi::tool {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> tempCounter{0};

fs::path FolderOf(const fs::path& target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }

constexpr char kTempMarker[] = ".part-";
// ".NAME.part-PID-N": the process id in group 1.
const std::regex& TempNamePattern() {
    static const std::regex pattern(R"(\..+\.part-([0-9]+)-[0-9]+)");
    return pattern;
}

// Gives the temporary file the mode (and, when root, the owner) of the file
// it replaces, so that replacing a file changes nothing but its content.
void KeepModeAndOwner(const fs::path& temp, const fs::path& target) {
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

// The longest file name the folder takes.
std::size_t NameLimit(const fs::path& folder) {
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

// ".NAME.part-PID-N", hidden. NAME is cut short where the whole would be
// longer than the folder takes, so that any name the target may have, its
// temporary may have too.
fs::path TempNameFor(const fs::path& target, unsigned counter) {
    // Appended piece by piece: "..." + std::string&& trips GCC 12's -Wrestrict at -O2 (a false positive).
    std::string suffix = kTempMarker;
    suffix += std::to_string(getpid());
    suffix += '-';
    suffix += std::to_string(counter);
    std::string name = target.filename().string();
    const fs::path folder = FolderOf(target);
    const std::size_t limit = NameLimit(folder);
    const std::size_t room = limit > suffix.size() + 2 ? limit - suffix.size() - 1 : 1;
    if (name.size() > room) name.resize(room);
    return folder / ("." + name + suffix);
}

// Unique to this process and call; a stale file of the same name (from a
// process that crashed with the same id) is stepped over.
fs::path ChooseTempName(const fs::path& target) {
    for (;;) {
        const fs::path candidate = TempNameFor(target, tempCounter++);
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

PendingFile::PendingFile(fs::path finalPath, bool replace)
    : target(std::move(finalPath)),
      temp(ChooseTempName(target)),
      overwrite(replace),
      signalSlot(RememberTemporary(temp)) {}

PendingFile::~PendingFile() {
    if (!committed) unlink(temp.c_str());
    ForgetTemporary(signalSlot);
}

void PendingFile::Commit() {
    SyncPath(temp, O_RDONLY, "file");
    if (overwrite) KeepModeAndOwner(temp, target);
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
    if (!fs::exists(folderStatus)) throw UsageError("folder " + folder.string() + " does not exist");
    if (!fs::is_directory(folderStatus)) throw UsageError(folder.string() + " is not a folder");
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw UsageError("folder " + folder.string() + " is not writable: " + ErrnoText(errno));
    }
    const auto targetStatus = fs::symlink_status(target, error);
    if (error.value() == ENAMETOOLONG) {
        throw UsageError(target.string() + ": the name is too long (a file name takes at most " +
                         std::to_string(NameLimit(folder)) + " bytes, a path " + std::to_string(PATH_MAX - 1) + ")");
    }
    // The temporary file's path is longer than the target's by its marker.
    if (TempNameFor(target, std::numeric_limits<unsigned>::max()).native().size() >= PATH_MAX) {
        throw UsageError(target.string() + ": the path is too long to be written safely (at most " +
                         std::to_string(PATH_MAX - 1) + " bytes with its temporary file's marker)");
    }
    if (!fs::exists(targetStatus)) return;
    if (fs::is_directory(fs::status(target, error))) throw UsageError(target.string() + " is a folder");
    if (!overwrite) throw UsageError(target.string() + " already exists; use --overwrite to replace it");
    if (!fs::is_regular_file(targetStatus)) {
        throw UsageError(target.string() + " is not a regular file (a device, link or pipe); it is never replaced");
    }
    if (access(target.c_str(), W_OK) != 0) {
        throw UsageError(target.string() + " is not writable for you (" + ErrnoText(errno) + "); it is not replaced");
    }
}

int RemoveStaleTemporaries(const fs::path& folder) {
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::smatch match;
        if (!std::regex_match(name, match, TempNamePattern())) continue;
        const long pid = std::strtol(match[1].str().c_str(), nullptr, 10);
        // Only when the process is surely gone, and only regular files.
        if (pid <= 0 || pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        if (!it->is_symlink() && it->is_regular_file() && unlink(it->path().c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace tarnscsi::tool
