// The two entry points every ASPI for Win32 manager exports, for the managers
// we build ourselves. Each manager library defines them in its own sources
// and forwards to an AspiManager; this header only fixes their names, C
// linkage and export attribute in one place (the calling convention is
// aspi/aspi.h's, shared with the module that calls them).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
#include <type_traits>
#endif

#include "aspi.h"
#include "aspi_claim.h"

#if defined(_WIN32)
#if defined(ASPI_MANAGER_BUILDING)
#define ASPI_EXPORT __declspec(dllexport)
#else
#define ASPI_EXPORT __declspec(dllimport)
#endif
#else
#define ASPI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Status in bits 8..15, number of host adapters in bits 0..7.
ASPI_EXPORT uint32_t ASPI_CALL GetASPI32SupportInfo(void);

// Carries out one request block; returns its status (SS_PENDING while a
// request is still being worked on).
ASPI_EXPORT uint32_t ASPI_CALL SendASPI32Command(void* srb);

// Exclusive access to a target (aspi/aspi_claim.h); optional, defined
// by the managers that offer it.
ASPI_EXPORT uint32_t ASPI_CALL AspiClaimTarget(uint8_t adapter, uint8_t target, char* holder, uint32_t capacity);
ASPI_EXPORT void ASPI_CALL AspiReleaseTarget(uint8_t adapter, uint8_t target);

#ifdef __cplusplus
}

// The types the module looks these up as (aspi.h, aspi_claim.h).
static_assert(std::is_same_v<decltype(&GetASPI32SupportInfo), tarnscsi::aspi::SupportInfoFn>);
static_assert(std::is_same_v<decltype(&SendASPI32Command), tarnscsi::aspi::SendCommandFn>);
static_assert(std::is_same_v<decltype(&AspiClaimTarget), AspiClaimTargetFn>);
static_assert(std::is_same_v<decltype(&AspiReleaseTarget), AspiReleaseTargetFn>);
#endif
