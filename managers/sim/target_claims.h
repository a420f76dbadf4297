// Which targets of the simulated bus this process has claimed (see
// aspi/aspi_claim.h). Private: the claims are this process's alone,
// kept in memory. Shared: each claim is an flock on the address's lock file
// in the shared directory, so it holds against every other process of the
// user and ends with the process however it ends; the file records the
// holder's name and PID for whoever is refused, and is emptied as the claim
// ends. Only a plain file serves as a lock file (shared_file.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tarnscsi::sim {

// "NAME, PID N" of this process.
std::string ThisProcess();

class TargetClaims {
public:
    explicit TargetClaims(std::optional<std::filesystem::path> sharedDirectory);
    ~TargetClaims();
    TargetClaims(const TargetClaims&) = delete;
    TargetClaims& operator=(const TargetClaims&) = delete;

    // True when this process now holds (adapter, target); false when it is
    // held already (by another process, or by this one), with the holder.
    bool Claim(std::uint8_t adapter, std::uint8_t target, std::string& holder);
    // Does nothing for a target not claimed.
    void Release(std::uint8_t adapter, std::uint8_t target);
    // Whether this process holds any target: a connection that claimed it
    // will still call Release.
    bool AnyHeld();

    // "target-A-T.lock" in the shared directory.
    static std::string LockFileName(std::uint8_t adapter, std::uint8_t target);

private:
    using Key = std::uint16_t;
    static Key KeyOf(std::uint8_t adapter, std::uint8_t target);

    std::mutex mutex;
    const std::optional<std::filesystem::path> directory;
    std::map<Key, int> held;  // claimed keys, with the lock file's descriptor when shared (else -1)
};

}  // namespace tarnscsi::sim
