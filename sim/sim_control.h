// Control interface of the simulated ASPI manager (libwnaspi32.so / wnaspi32.dll
// built from sim/). Besides the two ASPI entry points, the simulator exports
// these functions so that tests, benchmarks and demos can lay out the bus,
// choose how requests complete, inject faults and read back every request the
// module sent. All functions are safe to call while no request is in flight;
// none of them is needed for the default bus (one camera on adapter 0).
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#if defined(SIM_BUILDING)
#define SIM_API __declspec(dllexport)
#else
#define SIM_API __declspec(dllimport)
#endif
#else
#define SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Where the default camera sits on the default bus.
enum {
    SIM_DEFAULT_ADAPTER = 0,
    SIM_DEFAULT_TARGET = 2,
    SIM_MAX_ADAPTERS = 255,
    SIM_MAX_TARGETS = 16,  // targets 8..15 exist so tests can prove they are never tried
    SIM_MAX_LUNS = 8,
};

// ---- Identity -------------------------------------------------------------

// A fixed string that tells a test it talks to this simulator and not to some
// other ASPI manager found on the search path.
SIM_API const char* SimIdentity(void);

// ---- Bus layout -----------------------------------------------------------

// Back to the default state: one adapter, the camera at
// (SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET, 0), immediate completion, no
// faults, no scripted replies, an empty request log, time scale 0 (exposures
// and readouts finish at once), the test-pattern image.
SIM_API void SimReset(void);

// Empties the bus and sets how many adapters the support word reports.
SIM_API void SimClearBus(int adapterCount);

// Replaces the support word GetASPI32SupportInfo returns (status in bits 8..15,
// adapter count in bits 0..7); the bus itself is unchanged. SimReset and
// SimClearBus go back to the word derived from the bus.
SIM_API void SimSetSupportWord(uint32_t word);

// Places a plain device that reports `deviceType` to the get-device-type
// request and answers INQUIRY with exactly `inquiryLength` bytes of
// `inquiry` (any length, also shorter than a standard answer: the rest of the
// initiator's buffer is then left as it was). Every other command ends with
// CHECK CONDITION. Returns 0 on success, -1 for an address outside the bus.
SIM_API int SimAddDevice(int adapter, int target, int lun, uint8_t deviceType,
                         const uint8_t* inquiry, uint32_t inquiryLength);

// Places a camera (a type-6 device whose INQUIRY product starts "Nebrix").
// Returns 0 on success, -1 for an address outside the bus.
SIM_API int SimAddCamera(int adapter, int target, int lun);

// ---- Completion -----------------------------------------------------------

enum SimCompletion {
    // SendASPI32Command finishes the request before returning and returns its
    // final status (SS_COMP or an error). The event is NOT signalled, so a
    // module that waits after an immediate completion would hang.
    SIM_IMMEDIATE = 0,
    // SendASPI32Command returns SS_PENDING; a worker thread finishes the
    // request after `delayMicroseconds`, sets SRB_Status, then signals the
    // event named in SRB_PostProc.
    SIM_PENDING = 1,
};
SIM_API void SimSetCompletion(int mode, uint32_t delayMicroseconds);

// ---- Faults ---------------------------------------------------------------

enum SimFaultKind {
    // SendASPI32Command returns SS_ERR at once (also in pending mode), sets
    // SRB_Status to SS_ERR and never signals; nothing reaches the target.
    SIM_FAULT_REFUSE = 1,
    // The request is delivered normally (pending or immediate) but the target
    // ends it with CHECK CONDITION: SRB_Status SS_ERR, SRB_TargStat 0x02,
    // sense ABORTED COMMAND; no data are transferred.
    SIM_FAULT_CHECK_CONDITION = 2,
};
enum { SIM_ANY_OPCODE = -1 };

// Execute-command requests whose first command byte is `opcode` (or any
// execute request for SIM_ANY_OPCODE) are counted from 1 as they arrive; the
// ones numbered skip+1 .. skip+count fail as `kind` says. Several rules may
// be active; the first matching one applies. Cleared by SimReset.
SIM_API void SimAddFault(int opcode, uint32_t skip, uint32_t count, int kind);

// ---- Scripted replies -----------------------------------------------------

// The next `times` data-in commands with this opcode addressed to a camera
// answer with exactly these bytes (at most the allocation/buffer length is
// transferred; a shorter reply leaves the rest of the buffer as it was) and
// good status, instead of what the camera model would answer. Used for GET
// WINDOW, MODE SENSE and INQUIRY replies that a well-behaved camera would
// never give. At most 256 bytes. Cleared by SimReset.
SIM_API void SimScriptReply(uint8_t opcode, const uint8_t* data, uint32_t length,
                            uint32_t times);

// ---- Camera model knobs ---------------------------------------------------

// Real milliseconds per simulated millisecond: 0 makes exposures and readouts
// finish at once, 1 is real time.
SIM_API void SimSetTimeScale(double scale);

enum SimImageKind {
    // Pixel n of the readout stream (0-based, in stream order) has the value
    // (n * 40503 + 12345) mod 65536, most significant byte first. Every byte
    // of a download can thus be checked in place.
    SIM_IMAGE_PATTERN = 0,
};
SIM_API void SimSetImageKind(int kind);

// Copies the image bytes of the last finished exposure (as they go out on
// the bus) into `out`, at most `capacity` bytes; returns the image's full
// length in bytes (0 when there is none).
SIM_API uint32_t SimLastImage(uint8_t* out, uint32_t capacity);

// The camera's current sensor temperature and cooler drive, as it would
// report them in the cooling page.
SIM_API int32_t SimTemperature(void);
SIM_API uint32_t SimCoolerDrive(void);

// ---- Request log ----------------------------------------------------------

// One entry per call of SendASPI32Command (execute and get-device-type alike),
// recorded as the block arrived, plus what became of it.
typedef struct SimRequest {
    uint8_t command;        // SRB_Cmd
    uint8_t haId;           // SRB_HaId
    uint8_t flags;          // SRB_Flags
    uint8_t target;         // SRB_Target
    uint8_t lun;            // SRB_Lun
    uint8_t cdbLength;      // SRB_CDBLen (execute only)
    uint8_t senseLength;    // SRB_SenseLen (execute only)
    uint8_t returned;       // what SendASPI32Command returned
    uint8_t finalStatus;    // SRB_Status when the request was finished
    uint8_t targetStatus;   // SRB_TargStat when finished
    uint8_t deviceTypeIn;   // SRB_DeviceType as it arrived (get-device-type only)
    uint8_t reserved;
    uint32_t bufferLength;  // SRB_BufLen
    uint32_t transferred;   // data bytes moved to or from the buffer
    uint64_t postProc;      // SRB_PostProc as an integer
    int32_t hadBuffer;      // SRB_BufPointer was not null
    uint8_t cdb[16];        // CDBByte as it arrived
    uint32_t dataOutLength; // bytes copied into dataOut (data-out commands)
    uint8_t dataOut[256];   // first bytes the module sent (data-out commands)
} SimRequest;

SIM_API uint32_t SimLogCount(void);
// Copies entry `index` (0 = oldest) into *out; returns 0, or -1 if absent.
SIM_API int SimLogGet(uint32_t index, SimRequest* out);
SIM_API void SimLogClear(void);

#ifdef __cplusplus
}
#endif
