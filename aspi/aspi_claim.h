/* Exclusive access to a target: an optional extension of the contract
 * between the module and an ASPI manager. Besides GetASPI32SupportInfo and
 * SendASPI32Command a manager MAY export these two C functions (cdecl, like
 * the others). The module looks them up by name; a manager without them
 * (the Windows ASPI layer, Wine's built-in manager, anyone else's) gives no
 * exclusive access of its own (on Windows the module then claims targets
 * itself, for the user's session: src/transport/session_claims.h), and
 * nothing else about the contract changes: the request blocks and their
 * rules stay as published.
 *
 * AspiClaimTarget(adapter, target, holder, capacity)
 *   Claims (adapter, target, lun 0) for this process, across processes.
 *   Returns kAspiClaimed (1) when this process now holds it. Returns
 *   kAspiClaimHeld (0) when another process holds it; then `holder` gets
 *   "NAME, PID N" (or what the manager knows of the holder), at most
 *   `capacity` - 1 bytes and a terminating NUL; nothing when `holder` is null
 *   or `capacity` is 0. A target claimed twice without a release in between
 *   is held: one process connects to a camera once.
 * AspiReleaseTarget(adapter, target)
 *   Gives a claim back; does nothing for a target not claimed. A claim also
 *   ends when the process ends, however it ends: the managers hold it with a
 *   kernel lock (flock), never a lock file left behind.
 *
 * The module claims a scanner-type target before its INQUIRY, skips a
 * target another process holds (nothing is sent to it), releases a target
 * that turns out not to be the camera at once, and keeps the camera's claim
 * until the connection ends. */
#ifndef TARNSCSI_ASPI_CLAIM_H
#define TARNSCSI_ASPI_CLAIM_H

#include <stdint.h>

#include "aspi.h"

#define ASPI_CLAIM_TARGET_ENTRY "AspiClaimTarget"
#define ASPI_RELEASE_TARGET_ENTRY "AspiReleaseTarget"

#ifdef __cplusplus
namespace tarnscsi::aspi {
inline constexpr uint32_t kAspiClaimHeld = 0;
inline constexpr uint32_t kAspiClaimed = 1;
// Room for "NAME, PID N" with the longest process name Linux keeps.
inline constexpr uint32_t kHolderCapacity = 64;
}  // namespace tarnscsi::aspi
extern "C" {
#endif

typedef uint32_t(ASPI_CALL* AspiClaimTargetFn)(uint8_t adapter, uint8_t target, char* holder, uint32_t capacity);
typedef void(ASPI_CALL* AspiReleaseTargetFn)(uint8_t adapter, uint8_t target);

#ifdef __cplusplus
}
#endif

#endif
