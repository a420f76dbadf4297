// The ASPI for Win32 request blocks and constants, as the published interface
// defines them. Blocks are packed to one byte; pointer fields keep the native
// width, so a 32-bit build has the published 80-byte execute block and a
// 64-bit build the same field order with wider pointers (88 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The calling convention of the two entry points every manager exports, for
// the module that calls them and the managers that define them.
#if defined(_WIN32)
#define ASPI_CALL __cdecl
#else
#define ASPI_CALL
#endif

namespace tarnscsi::aspi {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;

// SRB_Cmd: what a request block asks for.
inline constexpr BYTE SC_HA_INQUIRY = 0x00;
inline constexpr BYTE SC_GET_DEV_TYPE = 0x01;
inline constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;

// Targets on each host adapter (narrow SCSI: IDs 0 to 7). A program that
// looks for a device asks each of them at logical unit 0.
inline constexpr int kTargetsPerAdapter = 8;

// SRB_Status, and the status byte of the support word.
inline constexpr BYTE SS_PENDING = 0x00;
inline constexpr BYTE SS_COMP = 0x01;
inline constexpr BYTE SS_ABORTED = 0x02;
inline constexpr BYTE SS_ABORT_FAIL = 0x03;
inline constexpr BYTE SS_ERR = 0x04;
inline constexpr BYTE SS_INVALID_CMD = 0x80;
inline constexpr BYTE SS_INVALID_HA = 0x81;
inline constexpr BYTE SS_NO_DEVICE = 0x82;
inline constexpr BYTE SS_INVALID_SRB = 0xE0;
inline constexpr BYTE SS_BUFFER_ALIGN = 0xE1;
inline constexpr BYTE SS_ILLEGAL_MODE = 0xE2;
inline constexpr BYTE SS_NO_ASPI = 0xE3;
inline constexpr BYTE SS_FAILED_INIT = 0xE4;
inline constexpr BYTE SS_ASPI_IS_BUSY = 0xE5;
inline constexpr BYTE SS_BUFFER_TO_BIG = 0xE6;
inline constexpr BYTE SS_MISMATCHED_COMPONENTS = 0xE7;
inline constexpr BYTE SS_NO_ADAPTERS = 0xE8;
inline constexpr BYTE SS_INSUFFICIENT_RESOURCES = 0xE9;
inline constexpr BYTE SS_ASPI_IS_SHUTDOWN = 0xEA;
inline constexpr BYTE SS_BAD_INSTALL = 0xEB;

// SRB_Flags.
inline constexpr BYTE SRB_POSTING = 0x01;
inline constexpr BYTE SRB_DIR_IN = 0x08;
inline constexpr BYTE SRB_DIR_OUT = 0x10;
inline constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

// SRB_HaStat: what the host adapter made of the request.
inline constexpr BYTE HASTAT_OK = 0x00;
inline constexpr BYTE HASTAT_TIMEOUT = 0x09;          // timed out waiting to be processed
inline constexpr BYTE HASTAT_COMMAND_TIMEOUT = 0x0B;  // the target did not answer within the time limit
inline constexpr BYTE HASTAT_MESSAGE_REJECT = 0x0D;
inline constexpr BYTE HASTAT_BUS_RESET = 0x0E;
inline constexpr BYTE HASTAT_PARITY_ERROR = 0x0F;
inline constexpr BYTE HASTAT_REQUEST_SENSE_FAILED = 0x10;
inline constexpr BYTE HASTAT_SEL_TO = 0x11;  // selection timeout: nothing answered at the address
inline constexpr BYTE HASTAT_DO_DU = 0x12;   // data overrun or underrun
inline constexpr BYTE HASTAT_BUS_FREE = 0x13;
inline constexpr BYTE HASTAT_PHASE_ERR = 0x14;

// SRB_TargStat: the SCSI status the target ended the command with.
inline constexpr BYTE STATUS_GOOD = 0x00;
inline constexpr BYTE STATUS_CHKCOND = 0x02;
inline constexpr BYTE STATUS_CONDMET = 0x04;
inline constexpr BYTE STATUS_BUSY = 0x08;
inline constexpr BYTE STATUS_INTERM = 0x10;
inline constexpr BYTE STATUS_RESCONF = 0x18;
inline constexpr BYTE STATUS_COMTERM = 0x22;
inline constexpr BYTE STATUS_QFULL = 0x28;  // task set full
inline constexpr BYTE STATUS_ACA_ACTIVE = 0x30;
inline constexpr BYTE STATUS_TASK_ABORTED = 0x40;

// Sense bytes requested with every command; the area holds two more.
inline constexpr BYTE SENSE_LEN = 14;

// Support word returned by GetASPI32SupportInfo: status in bits 8..15,
// number of host adapters in bits 0..7.
constexpr BYTE SupportStatus(DWORD word) { return static_cast<BYTE>((word >> 8) & 0xFF); }
constexpr BYTE SupportAdapterCount(DWORD word) { return static_cast<BYTE>(word & 0xFF); }

// The manager library, loaded by this name (wnaspi32.dll; libwnaspi32.so on
// Linux), and the two entry points every manager exports, looked up by
// these names. The optional extensions name theirs in aspi_claim.h and
// aspi_sg_report.h.
inline constexpr char kManagerLibrary[] = "wnaspi32";
inline constexpr char kSupportInfoEntry[] = "GetASPI32SupportInfo";
inline constexpr char kSendCommandEntry[] = "SendASPI32Command";
using SupportInfoFn = DWORD(ASPI_CALL*)();
using SendCommandFn = DWORD(ASPI_CALL*)(void*);

#pragma pack(push, 1)

// Get the peripheral device type of one (adapter, target, lun).
struct SRB_GDEVBlock {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

// Execute one SCSI command.
struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[SENSE_LEN + 2];
};

#pragma pack(pop)

// SRB_DeviceType of a get-device-type request: the peripheral device type
// in bits 0..4. A manager may pass the target's first INQUIRY byte whole,
// with the peripheral qualifier in bits 5..7. Two of its values say that no
// device is at the address: 001 (one could be, but none is connected) and
// 011 (none can be); the others, vendor-specific ones included, leave the
// device as its type says.
inline constexpr BYTE kDeviceTypeMask = 0x1F;
inline constexpr unsigned kQualifierShift = 5;
inline constexpr BYTE kQualifierNotConnected = 0x1;
inline constexpr BYTE kQualifierNoDevice = 0x3;

// The device type of the target a get-device-type request asked about, or
// nothing when no device is there: the request did not complete (`status`,
// what SendASPI32Command returned), or the qualifier says so.
constexpr std::optional<BYTE> DeviceTypeAnswered(DWORD status, BYTE deviceType) {
    const auto qualifier = static_cast<BYTE>(deviceType >> kQualifierShift);
    if (status != SS_COMP || qualifier == kQualifierNotConnected || qualifier == kQualifierNoDevice) return {};
    return static_cast<BYTE>(deviceType & kDeviceTypeMask);
}

// The layouts are a binary contract with managers we did not write.
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8);
static_assert(offsetof(SRB_GDEVBlock, SRB_Lun) == 9);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(offsetof(SRB_GDEVBlock, SRB_Rsvd1) == 11);

static_assert(offsetof(SRB_ExecSCSICmd, SRB_Cmd) == 0);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Hdr_Rsvd) == 4);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd1) == 10);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
inline constexpr std::size_t kPtr = sizeof(void*);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 16 + kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 17 + kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 18 + kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 19 + kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 20 + kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 20 + 2 * kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 40 + 2 * kPtr);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 56 + 2 * kPtr);
static_assert(sizeof(SRB_ExecSCSICmd) == 72 + 2 * kPtr);
static_assert(kPtr != 4 || sizeof(SRB_ExecSCSICmd) == 80, "published 32-bit size");

}  // namespace tarnscsi::aspi