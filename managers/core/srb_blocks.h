// Request blocks a manager reads besides the two the module uses
// (aspi/aspi.h): the common header, to tell blocks apart, and the
// host-adapter inquiry block, answered minimally.
#pragma once

#include <cstddef>

#include "aspi.h"

namespace tarnscsi::manager {

#pragma pack(push, 1)

// The eight bytes every request block starts with.
struct SrbHeader {
    tarnscsi::aspi::BYTE SRB_Cmd;
    tarnscsi::aspi::BYTE SRB_Status;
    tarnscsi::aspi::BYTE SRB_HaId;
    tarnscsi::aspi::BYTE SRB_Flags;
    tarnscsi::aspi::DWORD SRB_Hdr_Rsvd;
};

// SC_HA_INQUIRY: describe one host adapter and count them all.
struct SrbHaInquiry {
    tarnscsi::aspi::BYTE SRB_Cmd;
    tarnscsi::aspi::BYTE SRB_Status;
    tarnscsi::aspi::BYTE SRB_HaId;
    tarnscsi::aspi::BYTE SRB_Flags;
    tarnscsi::aspi::DWORD SRB_Hdr_Rsvd;
    tarnscsi::aspi::BYTE HA_Count;
    tarnscsi::aspi::BYTE HA_SCSI_ID;
    tarnscsi::aspi::BYTE HA_ManagerId[16];
    tarnscsi::aspi::BYTE HA_Identifier[16];
    tarnscsi::aspi::BYTE HA_Unique[16];
    tarnscsi::aspi::WORD HA_Rsvd1;
};

#pragma pack(pop)

static_assert(sizeof(SrbHeader) == 8);
static_assert(sizeof(SrbHaInquiry) == 60);
static_assert(offsetof(SrbHaInquiry, HA_Count) == 8);
static_assert(offsetof(SrbHaInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SrbHaInquiry, HA_Unique) == 42);

// Fields of the host-adapter inquiry answer.
inline constexpr tarnscsi::aspi::BYTE kHostAdapterScsiId = 7;
inline constexpr std::size_t kHaUniqueMaxTargets = 3;         // HA_Unique byte: targets per bus
inline constexpr tarnscsi::aspi::BYTE kHaTargetsPerBus = 16;  // a wide bus
inline constexpr char kManagerIdentifier[] = "ASPI for WIN32";

}  // namespace tarnscsi::manager