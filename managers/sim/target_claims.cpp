#include "sim/target_claims.h"

#include <array>
#include <fstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "sim/shared_file.h"
#else
#include <process.h>
#endif

namespace tarnscsi::sim {
namespace {

constexpr unsigned kKeyAdapterShift = 8;
constexpr std::size_t kHolderTextLimit = 128;

#if !defined(_WIN32)
constexpr int kLockFileFlags = O_RDWR | O_CREAT;

std::string ReadHolder(int descriptor) {
    std::array<char, kHolderTextLimit> text{};
    const ssize_t length = ::pread(descriptor, text.data(), text.size() - 1, 0);
    std::string holder(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
    return holder;
}

void WriteHolder(int descriptor) {
    const std::string text = ThisProcess() + "\n";
    if (::ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(descriptor, text.data(), text.size(), 0);
    }
}

// Empties the lock file first, so that nobody is named after the lock is gone.
void LetGo(int descriptor) {
    if (descriptor < 0) return;
    [[maybe_unused]] const int emptied = ::ftruncate(descriptor, 0);
    ::close(descriptor);
}
#endif

}  // namespace

std::string ThisProcess() {
#if defined(_WIN32)
    return "this program, PID " + std::to_string(_getpid());
#else
    std::string name;
    std::ifstream comm("/proc/self/comm");
    std::getline(comm, name);
    if (name.empty()) name = "unknown program";
    return name + ", PID " + std::to_string(::getpid());
#endif
}

TargetClaims::TargetClaims(std::optional<std::filesystem::path> sharedDirectory)
    : directory(std::move(sharedDirectory)) {}

TargetClaims::~TargetClaims() {
#if !defined(_WIN32)
    for (const auto& [key, descriptor] : held) LetGo(descriptor);
#endif
}

bool TargetClaims::AnyHeld() {
    std::lock_guard lock(mutex);
    return !held.empty();
}

TargetClaims::Key TargetClaims::KeyOf(std::uint8_t adapter, std::uint8_t target) {
    return static_cast<Key>((adapter << kKeyAdapterShift) | target);
}

std::string TargetClaims::LockFileName(std::uint8_t adapter, std::uint8_t target) {
    return "target-" + std::to_string(adapter) + "-" + std::to_string(target) + ".lock";
}

bool TargetClaims::Claim(std::uint8_t adapter, std::uint8_t target, std::string& holder) {
    std::lock_guard lock(mutex);
    const Key key = KeyOf(adapter, target);
    if (held.contains(key)) {
        holder = ThisProcess();
        return false;
    }
    int descriptor = -1;
#if !defined(_WIN32)
    if (directory) {
        const std::string name = LockFileName(adapter, target);
        const std::filesystem::path file = *directory / name;
        const OpenedFile opened = OpenSharedFile(file, kLockFileFlags);
        descriptor = opened.descriptor;
        if (descriptor < 0) {
            // The whole story on stderr; the holder text is short enough
            // to reach the user whole in the module's message.
            std::fprintf(
                stderr, "tarnscsi simulator: the camera at adapter %u, target %u cannot be claimed: %s %s; %s\n",
                static_cast<unsigned>(adapter), static_cast<unsigned>(target), file.c_str(), opened.problem.c_str(),
                opened.notAFile ? "remove it" : "check the folder's permissions and free space");
            holder = "nobody; its lock " + name + (opened.notAFile ? " is not a file: remove it" : " cannot be opened");
            return false;
        }
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            holder = ReadHolder(descriptor);
            ::close(descriptor);
            return false;
        }
        try {
            WriteHolder(descriptor);
            held.emplace(key, descriptor);
        } catch (...) {
            // Out of memory: no lock is kept that nothing would give back.
            LetGo(descriptor);
            throw;
        }
        return true;
    }
#endif
    held.emplace(key, descriptor);
    return true;
}

void TargetClaims::Release(std::uint8_t adapter, std::uint8_t target) {
    std::lock_guard lock(mutex);
    const auto found = held.find(KeyOf(adapter, target));
    if (found == held.end()) return;
#if !defined(_WIN32)
    LetGo(found->second);
#endif
    held.erase(found);
}

}  // namespace tarnscsi::sim
