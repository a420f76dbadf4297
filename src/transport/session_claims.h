// The module's own claims on targets, for a manager that offers none
// (aspi/aspi_claim.h): on Windows every ASPI manager but ours (Adaptec's
// wnaspi32, Wine's built-in). They have the manager entries' signatures and
// meaning, so AspiTransport uses them in the entries' place.
//
// Windows: one named file mapping on the page file per (adapter, target),
// "Local\TARNSCSI.target.A.T", in the namespace of the user's session. The
// process that creates it holds the target and writes "NAME, PID N" into
// it; a process that finds it already there (this one too) is refused and
// reads the holder from it. Releasing closes the handle, and the system
// closes it when the process ends, however it ends: no claim outlives its
// process. Elsewhere there are none: our Linux managers claim themselves.
#pragma once

#include "aspi_claim.h"

namespace tarnscsi::session_claims {

#if defined(_WIN32)
uint32_t ASPI_CALL ClaimTarget(uint8_t adapter, uint8_t target, char* holder, uint32_t capacity);
void ASPI_CALL ReleaseTarget(uint8_t adapter, uint8_t target);

inline constexpr AspiClaimTargetFn kClaimTarget = &ClaimTarget;
inline constexpr AspiReleaseTargetFn kReleaseTarget = &ReleaseTarget;
#else
inline constexpr AspiClaimTargetFn kClaimTarget = nullptr;
inline constexpr AspiReleaseTargetFn kReleaseTarget = nullptr;
#endif

}  // namespace tarnscsi::session_claims
