// What became of a connection attempt and of each SCSI command: typed,
// so that programs branch on values rather than on message texts, and
// complete, so that a person is told which command failed, what the host
// adapter and the camera said, and what to try next.
#pragma once

#include <cstdint>
#include <string>

namespace tarnscsi {

// Why connecting failed. The texts are exactly the module's messages.
enum class ConnectError {
    kNone,
    kOutOfMemory,     // "Out of memory"
    kMissingManager,  // "Missing wnaspi32"
    kCorruptManager,  // "Corrupt wnaspi32"
    kNoEvent,         // "Error (no event)"
    kCameraNotFound,  // "Camera not found"
    kCameraInUse,     // "Camera in use": another program holds the camera
};

// The module's message for `error` ("" for kNone).
const char* ConnectErrorText(ConnectError error);
// What a person can try next, in one sentence; "" when nothing helps.
const char* ConnectAdvice(ConnectError error);
// Connect's failure as every program words it: "Camera in use (in use by
// tarnscsi, PID 4242); another program is connected ...", with the detail
// and the advice each left out when there is none.
std::string ConnectFailureExplained(ConnectError error, const std::string& detail);

// Sense data the camera returned with CHECK CONDITION, decoded.
struct Sense {
    bool valid = false;  // the camera returned sense data we understand
    std::uint8_t key = 0;
    std::uint8_t asc = 0;   // additional sense code
    std::uint8_t ascq = 0;  // ... and its qualifier

    // "ILLEGAL REQUEST, invalid field in CDB (5/24/00)"; "none" when not valid.
    std::string Describe() const;
};

// "NOT READY", "ILLEGAL REQUEST", ...; "sense key 0x.." for others.
std::string SenseKeyName(std::uint8_t key);
// "invalid field in CDB", ...; null for a code the table does not know.
const char* AdditionalSenseText(std::uint8_t asc, std::uint8_t ascq);
// Decodes fixed- or descriptor-format sense bytes; not valid for anything else.
Sense DecodeSense(const std::uint8_t* bytes, std::size_t length);

// How a command ended, in the order a person would look for the cause.
enum class CommandOutcome {
    kCompleted,       // good completion
    kNotSent,         // never handed to the manager (no connection, no event)
    kRefused,         // the manager refused the request at once
    kCheckCondition,  // the camera ended it with CHECK CONDITION
    kTargetStatus,    // the camera ended it with another status (BUSY, ...)
    kHostAdapter,     // the host adapter reported a failure (selection timeout, ...)
    kFailed,          // the manager reported failure without more detail
};

// One SCSI command and how it ended. Plain data: recording one costs no
// allocation; the texts are built only when asked for.
struct CommandResult {
    static constexpr std::size_t kMaxCdbLength = 16;

    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t cdb[kMaxCdbLength] = {};
    std::uint8_t cdbLength = 0;
    bool dataIn = false;         // direction: from the camera
    std::uint32_t length = 0;    // bytes of data asked for
    bool sent = false;           // handed to the manager
    bool pending = false;        // the manager finished it later, after a wait
    std::uint8_t returned = 0;   // what the manager's send call returned
    std::uint8_t srbStatus = 0;  // request-block status (1: completed)
    std::uint8_t hostStatus = 0;
    std::uint8_t targetStatus = 0;
    Sense sense;

    bool Ok() const;
    CommandOutcome Outcome() const;
    std::uint8_t Opcode() const { return cdbLength > 0 ? cdb[0] : 0; }
    // "SET WINDOW", "READ(10)", ...; "command 0x.." for one the camera
    // protocol does not use; "no command" before any was sent.
    std::string CommandName() const;
    // "SET WINDOW: CHECK CONDITION, sense ILLEGAL REQUEST, invalid field in
    // CDB (5/24/00); request status 0x04 (error), host adapter status 0x00,
    // target status 0x02" — "SET WINDOW: completed" when it went well.
    std::string Describe() const;
    // What a person can try next, in one sentence; "" when it went well.
    std::string Advice() const;
    // Describe() and Advice() as every program words a failure:
    // "SET WINDOW: CHECK CONDITION, ...; check the camera's ...".
    std::string Explained() const;
};

// "completed", "error", "invalid host adapter", ... for a request status.
std::string RequestStatusName(std::uint8_t status);
// "selection timeout", ... for a host adapter status.
std::string HostStatusName(std::uint8_t status);
// "GOOD", "CHECK CONDITION", "BUSY", ... for a SCSI target status.
std::string TargetStatusName(std::uint8_t status);
// The name of a command of the camera's protocol from its operation code.
std::string CommandNameOf(std::uint8_t opcode);

}  // namespace tarnscsi
