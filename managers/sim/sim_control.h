// Control interface of the simulated ASPI manager (libwnaspi32.so / wnaspi32.dll
// built from managers/sim/). Besides the two ASPI entry points, the simulator exports
// these functions so that tests, benchmarks and demos can lay out the bus,
// choose how requests complete, inject faults and read back every request the
// module sent. All functions are safe to call while no request is in flight;
// none of them is needed for the default bus (one camera on adapter 0).
//
// Two starting points. As the library loads, the simulator behaves like the
// real camera: real time (time scale 1), the sky image, ambient +20.0 C, seed
// 1; then the TARNSCSI_SIM environment variable is applied (see
// SimConfigure). SimReset instead goes to the test baseline described
// there, whatever TARNSCSI_SIM says.
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
// other ASPI manager found on the search path: "tarnscsi-aspi-sim" (the two
// broken test builds of the simulator return the same string).
SIM_API const char* SimIdentity(void);

// ---- Bus layout -----------------------------------------------------------

// Back to the test baseline: one adapter, the camera at
// (SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET, 0), immediate completion, no
// faults, no scripted replies, an empty request log, time scale 0 (exposures
// and readouts finish at once) and no manual clock, the test-pattern image,
// the telescope uncovered. Seed, ambient
// temperature and cooler limits go back to their start-up values (1, +20.0
// C, 40 C and 1 C per second); exposures are counted from 1 again; no sense
// data is kept. TARNSCSI_SIM is not applied.
SIM_API void SimReset(void);

// Empties the bus and sets how many adapters the support word reports
// (clamped to 0..255). With 0 adapters the derived support word is
// 0x0000E800 (status SS_NO_ADAPTERS), as published managers report it.
// Completion mode, faults, scripts, time scale and the log are kept.
SIM_API void SimClearBus(int adapterCount);

// Replaces the support word GetASPI32SupportInfo returns (status in bits 8..15,
// adapter count in bits 0..7); the bus itself is unchanged. SimReset and
// SimClearBus go back to the word derived from the bus.
SIM_API void SimSetSupportWord(uint32_t word);

// With `on` not 0 the manager reports a transfer shorter than the block asked
// for as complete (SS_COMP), as an ASPI manager that ignores the residual
// would, so that tests can show what the module does with such a manager;
// with 0 (the start and SimReset) it reports it as an error, SS_ERR with
// SRB_HaStat HASTAT_DO_DU, unless the data cover every byte the module
// reads of them (BytesNeeded in camera_commands.h: an INQUIRY reply of 21
// bytes or more, for one).
SIM_API void SimPassShortTransfers(int on);

// Places a plain device that reports `deviceType` to the get-device-type
// request and answers INQUIRY with exactly `inquiryLength` bytes of
// `inquiry` (any length, also shorter than a standard answer: the rest of the
// initiator's buffer is then left as it was). Every other command ends with
// CHECK CONDITION (TEST UNIT READY excepted: good). Returns 0 on success, -1
// for an address outside the bus (adapter not below the adapter count,
// target not in 0..15, lun not in 0..7). A device already at the address is
// replaced; target 7 may be used. A null `inquiry` is an empty answer.
SIM_API int SimAddDevice(int adapter, int target, int lun, uint8_t deviceType, const uint8_t* inquiry,
                         uint32_t inquiryLength);

// Places a camera (a type-6 device whose INQUIRY product starts "Nebrix").
// Returns 0 on success, -1 for an address outside the bus. A new camera has
// no window set, no image, and its cooler off at ambient.
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
// Other mode values are ignored. Get-device-type requests always complete
// immediately. The first pending request starts the worker thread, which
// pins the library in memory until the process ends.
SIM_API void SimSetCompletion(int mode, uint32_t delayMicroseconds);

// ---- Faults ---------------------------------------------------------------

enum SimFaultKind {
    // SendASPI32Command returns SS_ERR at once (also in pending mode), sets
    // SRB_Status to SS_ERR and never signals; nothing reaches the target.
    SIM_FAULT_REFUSE = 1,
    // The request is delivered normally (pending or immediate) but the target
    // ends it with CHECK CONDITION: SRB_Status SS_ERR, SRB_TargStat 0x02,
    // sense ABORTED COMMAND (ASC/ASCQ 0); no data are transferred and the
    // device's state does not change. An empty address still ends with a
    // selection timeout.
    SIM_FAULT_CHECK_CONDITION = 2,
    // The same, with sense UNIT ATTENTION (ASC/ASCQ 29/00, power on or
    // reset), the answer a real camera gives the first command after a reset.
    // Only the answer: the device keeps its state (SimConfigure's
    // unit-attention item resets the cameras themselves).
    SIM_FAULT_UNIT_ATTENTION = 3,
    // A data-in command is carried out, but only the first half of the bytes
    // the target sends reach the buffer (the rest of it stays as it was) and
    // the target ends it with good status, as when an adapter or a cable
    // loses the end of the data phase. The manager reports it as every short
    // transfer: SRB_Status SS_ERR, SRB_HaStat HASTAT_DO_DU (data over/underrun).
    // Commands that move no data to the initiator are carried out as usual.
    SIM_FAULT_SHORT_TRANSFER = 4,
    // The target never answers: the request ends as the host adapter ends
    // one whose time limit ran out (SRB_Status SS_ERR, SRB_HaStat 0x0B,
    // command timeout), without the wait; nothing is carried out.
    SIM_FAULT_COMMAND_TIMEOUT = 5,
    // A broken manager: SendASPI32Command returns SS_PENDING and signals the
    // event at once, but SRB_Status stays SS_PENDING for ever; nothing is
    // carried out, and the block is not touched again.
    SIM_FAULT_NO_FINAL_STATUS = 6,
};
enum { SIM_ANY_OPCODE = -1 };

// Execute-command requests whose first command byte is `opcode` (or any
// execute request for SIM_ANY_OPCODE) are counted by each rule from 1 as
// they arrive after the rule was added; the ones numbered skip+1 ..
// skip+count fail as `kind` says. Every active rule counts every matching
// request; if several rules say fail, the first added decides the kind.
// Cleared by SimReset. Blocks the manager rejects before they reach the bus
// (adapter out of range: SS_INVALID_HA; SRB_CDBLen 0 or above 16:
// SS_INVALID_SRB) are not counted.
SIM_API void SimAddFault(int opcode, uint32_t skip, uint32_t count, int kind);

// ---- Scripted replies -----------------------------------------------------

// The next `times` data-in commands with this opcode addressed to a camera
// answer with exactly these bytes (at most the allocation/buffer length is
// transferred) and good status, instead of what the camera model would
// answer. A reply shorter than SRB_BufLen leaves the rest of the buffer as it
// was, and the manager judges it as every short transfer (SimPassShortTransfers).
// Used for GET
// WINDOW, MODE SENSE and INQUIRY replies that a well-behaved camera would
// never give. At most 256 bytes. Cleared by SimReset.
// Applies to requests flagged SRB_DIR_IN only, whatever else their command
// bytes say; the allocation length is byte 4 of a 6-byte command and bytes
// 6..8 of a 10-byte one. Scripts for one opcode are used in the order added.
SIM_API void SimScriptReply(uint8_t opcode, const uint8_t* data, uint32_t length, uint32_t times);

// ---- Camera model knobs ---------------------------------------------------

// Real milliseconds per simulated millisecond: 0 makes exposures and readouts
// finish at once, 1 is real time. It also paces the cooling (1 C per
// simulated second; with 0 the temperature jumps to its goal). Negative
// values count as 0.
//
// Timing: SCAN starts an exposure of the window's exposureTime (simulated
// milliseconds), then the sensor is read out for 1000 ms times the pixels
// of the image over 768 x 512 (a full unbinned frame: 1 s; binned: a
// quarter). Until the readout ends, TEST UNIT READY and READ end with CHECK
// CONDITION, sense NOT READY (ASC/ASCQ 04/01). SET WINDOW or a new SCAN
// abandons an exposure that is still exposing or reading out.
SIM_API void SimSetTimeScale(double scale);

// Manual clock: with `on` not 0, simulated time stops and from then on moves
// only by SimAdvanceClock, whatever the time scale, so exposures, readouts
// and cooling follow it exactly (an exposure of 1000 ms with a 16 x 16
// window is not ready after 1000 ms + 0.6 ms of advances, and is ready
// after 1000 ms + 0.7 ms). With 0 the clock runs again at the time scale,
// from where it stood. Neither switch moves simulated time. SimReset ends
// manual mode.
SIM_API void SimSetManualClock(int on);

// Moves the manual clock forward by `microseconds` of simulated time (at
// most about 30 years in one step); does nothing while the clock is not
// manual.
SIM_API void SimAdvanceClock(uint64_t microseconds);

enum SimImageKind {
    // Numbered by sensor position: the unbinned pixel at column x, row y of
    // the sensor has the value (n * 40503 + 12345) mod 16384 with
    // n = y * 768 + x; a binned pixel is the sum of its 2 x 2 cell's four
    // values (never above 65532). Sent most significant byte first. Every
    // byte of a download can thus be checked in place, and the image of any
    // window, binned or not, equals the same crop of the full frame (summed
    // over each cell when binned).
    SIM_IMAGE_PATTERN = 0,
    // The sky: a star field fixed by the seed, sky background, dark current,
    // hot pixels, bias, read and shot noise, through a sensor that clips at
    // 65535. Binning is on the chip: a binned pixel holds the charge of its
    // 2 x 2 cell and is read once, so it shows four times the signal on one
    // bias level (1000) with one read noise (10 counts), held at 65535. The
    // image depends only on the seed, whether the telescope is covered, the
    // window, the exposure time, the sensor temperature when the exposure
    // started, and the exposure's number: the count of SCANs the camera
    // accepted since it was placed (SimReset, SimAddCamera, SimConfigure) or
    // the seed was last set (the noise changes from frame to frame, as a
    // real camera's does). Each pixel's noise depends on its place on the
    // sensor, so a window shows exactly the same pixels as a full frame of
    // the same number and binning.
    SIM_IMAGE_SKY = 1,
    // The same camera with no light reaching it (a dark frame): bias, dark
    // current (doubling every 6 C of sensor temperature), hot pixels, noise.
    SIM_IMAGE_DARK = 2,
};
// Other values are ignored.
SIM_API void SimSetImageKind(int kind);

// The camera has no shutter: its dark and bias frames are dark only while
// the telescope is covered. With `covered` not 0, SIM_IMAGE_SKY exposures
// get no light (no sky, no stars) and equal SIM_IMAGE_DARK ones; with 0,
// the sky is back. The test pattern is not affected. Uncovered after
// SimReset and at start-up.
SIM_API void SimSetCovered(int covered);

// Chooses the star field and the sensor's hot pixels, and picks the noise
// together with the exposure number: the next exposure of every camera is
// number 1 again, so setting the same seed again repeats the same images.
SIM_API void SimSetSeed(uint64_t seed);

// Ambient temperature in tenths of a degree C (clamped to -500..600). A
// sensor whose cooler is off sits at ambient and takes the new temperature
// at once; a cooled one carries on from where it is, its cooler now working
// against the new ambient.
SIM_API void SimSetAmbient(int32_t tenths);

// The cooler's limits: the largest difference below ambient it can hold
// (tenths of a degree, clamped to 1..1000) and its fastest ramp (tenths of a
// degree per simulated second, clamped to 1..1000).
SIM_API void SimSetCoolerLimits(int32_t maxDifferenceTenths, int32_t rateTenthsPerSecond);

// Applies configuration text in the syntax of TARNSCSI_SIM on top of the
// current state: items separated by commas, each key=value.
//   seed=N  time-scale=X  ambient=C  cooler-difference=C  cooler-rate=C
//   image=sky|dark|pattern  covered=yes|no  adapters=N  camera=A:T[:L]
//   device=A:T:TYPE[:NAME]  fault=OP:SKIP:COUNT:KIND
//   completion=immediate|pending[:MICROSECONDS]  unit-attention=N
// (temperatures in degrees C; docs/simulator.md describes each key). An item with
// an unknown key or a bad value is reported on stderr and ignored, and so is
// a camera or device where the module never looks: on an adapter the bus
// does not have, at a target above 7, or at a lun other than 0 (the module
// searches targets 0-7 at lun 0 of each adapter). Returns the number of
// items ignored; a null text is empty.
SIM_API int SimConfigure(const char* text);

// Copies the image bytes of the last finished exposure (as they go out on
// the bus) into `out`, at most `capacity` bytes; returns the image's full
// length in bytes (0 when there is none). `out` may be null to ask the size.
// This and the two readings below concern the first camera in bus order
// (adapter, then target, then lun); with no camera they return 0.
SIM_API uint32_t SimLastImage(uint8_t* out, uint32_t capacity);

// The camera's current sensor temperature and cooler drive, as it would
// report them in the cooling page. Cooling model: ambient +20.0 C, cooler off
// until the first MODE SELECT; then the temperature moves towards the
// setpoint, but not below ambient - 40 C nor above ambient; the drive is
// 255 * (ambient - temperature) / 40 C, and 255 while the setpoint is out of
// reach. (With a time scale above 0 that is the drive once the temperature
// has settled; while the cooler pulls the temperature towards the setpoint
// the drive is higher, up to 255, and the pull slows down as the drive
// saturates near the limit. Ambient and limits: SimSetAmbient,
// SimSetCoolerLimits.)
SIM_API int32_t SimTemperature(void);
SIM_API uint32_t SimCoolerDrive(void);

// Copies the sense data of the last command a device on the bus ended with
// CHECK CONDITION (injected faults excepted) into `out`, at most `capacity`
// bytes; returns its full length (18, fixed format), 0 when there was none
// since SimReset. For ILLEGAL REQUEST, byte 15 has bit 7 set when bytes 16..17
// point at the field in error: bit 6 set for a command byte, clear for a
// byte of the parameter list; bit 3 set when bits 0..2 name the bit.
SIM_API uint32_t SimLastSense(uint8_t* out, uint32_t capacity);

// ---- Request log ----------------------------------------------------------

// One entry per call of SendASPI32Command (execute and get-device-type alike),
// recorded as the block arrived, plus what became of it. Calls with a null
// block are not recorded. The log holds the first 65536 entries after a
// clear (or reset); later requests are carried out but not recorded, so a
// long test that reads the log clears it first.
typedef struct SimRequest {
    uint8_t command;       // SRB_Cmd
    uint8_t haId;          // SRB_HaId
    uint8_t flags;         // SRB_Flags
    uint8_t target;        // SRB_Target
    uint8_t lun;           // SRB_Lun
    uint8_t cdbLength;     // SRB_CDBLen (execute only)
    uint8_t senseLength;   // SRB_SenseLen (execute only)
    uint8_t returned;      // what SendASPI32Command returned
    uint8_t finalStatus;   // SRB_Status when the request was finished
    uint8_t targetStatus;  // SRB_TargStat when finished
    uint8_t deviceTypeIn;  // SRB_DeviceType as it arrived (get-device-type only)
    uint8_t reserved;
    uint32_t bufferLength;   // SRB_BufLen
    uint32_t transferred;    // data bytes moved to or from the buffer
    uint64_t postProc;       // SRB_PostProc as an integer
    int32_t hadBuffer;       // SRB_BufPointer was not null
    uint8_t cdb[16];         // CDBByte as it arrived
    uint32_t dataOutLength;  // bytes copied into dataOut (data-out commands)
    uint8_t dataOut[256];    // first bytes the module sent (data-out commands)
} SimRequest;

SIM_API uint32_t SimLogCount(void);
// Copies entry `index` (0 = oldest) into *out; returns 0, or -1 if absent.
SIM_API int SimLogGet(uint32_t index, SimRequest* out);
SIM_API void SimLogClear(void);

#ifdef __cplusplus
}
#endif
