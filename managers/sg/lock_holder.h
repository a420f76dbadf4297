// Who holds an flock on a file, from the kernel's lock table (/proc/locks:
// the holder's PID by the file's device and inode) and the holder's name
// (/proc/PID/comm). Nothing is left on disk: the kernel drops the lock, and
// so the entry, when the holder closes the file or dies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnscsi::sg {

// The PID of the first FLOCK entry of `locksText` (the text of /proc/locks)
// on the file with this device (major, minor) and inode; 0 when none.
long FlockHolderPid(std::string_view locksText, unsigned major, unsigned minor, std::uint64_t inode);

// "NAME, PID N" of the process holding an flock on `path`; "" when nobody
// does or it cannot be told.
std::string FlockHolder(const std::string& path);

}  // namespace tarnscsi::sg
