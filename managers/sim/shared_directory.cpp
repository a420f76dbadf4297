#include "sim/shared_directory.h"

#include <cstdlib>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#endif

namespace tarnscsi::sim {
namespace {

#if !defined(_WIN32)
constexpr char kRuntimeVariable[] = "XDG_RUNTIME_DIR";
constexpr char kRuntimeSubdirectory[] = "tarnscsi";
constexpr char kTemporaryPrefix[] = "/tmp/tarnscsi-";
constexpr mode_t kOwnerOnly = S_IRWXU;
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

std::filesystem::path DefaultDirectory() {
    const char* runtime = std::getenv(kRuntimeVariable);
    if (runtime != nullptr && runtime[0] == '/') return std::filesystem::path(runtime) / kRuntimeSubdirectory;
    return kTemporaryPrefix + std::to_string(::getuid());
}

// "" when `path` is a directory of ours that nobody else may write to.
std::string Check(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return path.string() + ": " + std::generic_category().message(errno);
    if (!S_ISDIR(info.st_mode)) return path.string() + " is not a directory";
    if (info.st_uid != ::getuid()) return path.string() + " belongs to another user";
    if ((info.st_mode & kOthersWrite) != 0) return path.string() + " may be written by others";
    return {};
}
#endif

}  // namespace

SharedDirectory ChooseSharedDirectory() {
    SharedDirectory chosen;
#if !defined(_WIN32)
    const char* setting = std::getenv(kStateVariable);
    if (setting != nullptr && std::string(setting) == kPrivateState) return chosen;
    const std::filesystem::path path =
        setting != nullptr && setting[0] != '\0' ? std::filesystem::path(setting) : DefaultDirectory();
    if (::mkdir(path.c_str(), kOwnerOnly) != 0 && errno != EEXIST) {
        chosen.problem = path.string() + ": " + std::generic_category().message(errno);
        return chosen;
    }
    chosen.problem = Check(path);
    if (chosen.problem.empty()) chosen.path = path;
#endif
    return chosen;
}

}  // namespace tarnscsi::sim
