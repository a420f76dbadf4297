#include "sg/lock_holder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

namespace tarnscsi::sg {
namespace {

constexpr char kLockTable[] = "/proc/locks";
constexpr char kFlockKind[] = "FLOCK";
constexpr int kHexadecimal = 16;

}  // namespace

long FlockHolderPid(std::string_view locksText, unsigned major, unsigned minor, std::uint64_t inode) {
    // "1: FLOCK  ADVISORY  WRITE 4242 00:05:1234 0 EOF"; lines of waiters
    // start "1: -> FLOCK ..." and are skipped by the kind check.
    std::istringstream lines{std::string(locksText)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind >> mode >> access >> pid >> file) || kind != kFlockKind) continue;
        const auto first = file.find(':');
        const auto second = file.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        try {
            if (std::stoul(file.substr(0, first), nullptr, kHexadecimal) == major &&
                std::stoul(file.substr(first + 1, second - first - 1), nullptr, kHexadecimal) == minor &&
                std::stoull(file.substr(second + 1)) == inode) {
                return std::stol(pid);
            }
        } catch (const std::exception&) {
            continue;  // a line this reader does not understand
        }
    }
    return 0;
}

std::string FlockHolder(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    std::ifstream table(kLockTable);
    std::stringstream text;
    text << table.rdbuf();
    const long pid = FlockHolderPid(text.str(), ::major(info.st_dev), ::minor(info.st_dev), info.st_ino);
    if (pid <= 0) return {};
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
    return (name.empty() ? std::string("a program") : name) + ", PID " + std::to_string(pid);
}

}  // namespace tarnscsi::sg
