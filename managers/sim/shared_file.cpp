#include "sim/shared_file.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#endif

namespace tarnscsi::sim {

#if !defined(_WIN32)
namespace {

constexpr mode_t kFileMode = 0600;
constexpr int kAlwaysFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// What a node that is not a regular file is, for a message.
const char* Kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

std::string NotAFile(mode_t mode) { return std::string("is ") + Kind(mode) + ", not a file"; }

}  // namespace

OpenedFile OpenSharedFile(const std::filesystem::path& file, int flags) {
    OpenedFile opened;
    const int descriptor = ::open(file.c_str(), flags | kAlwaysFlags, kFileMode);
    struct stat info {};
    if (descriptor < 0) {
        const int error = errno;
        // A directory or a link makes the open itself fail: say which.
        opened.notAFile = ::lstat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
        opened.problem =
            opened.notAFile ? NotAFile(info.st_mode) : "cannot be opened: " + std::generic_category().message(error);
        return opened;
    }
    if (::fstat(descriptor, &info) != 0) {
        opened.problem = "cannot be examined: " + std::generic_category().message(errno);
    } else if (!S_ISREG(info.st_mode)) {
        opened.notAFile = true;
        opened.problem = NotAFile(info.st_mode);
    } else {
        opened.descriptor = descriptor;
        return opened;
    }
    ::close(descriptor);
    return opened;
}
#endif

}  // namespace tarnscsi::sim
