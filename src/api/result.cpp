// Names and texts for connection errors and command results.
#include <tarnscsi/result.h>

#include <cstdio>
#include <iterator>

#include "camera_commands.h"
#include "scsi_sense.h"
#include "aspi.h"

namespace tarnscsi {

namespace {

struct StatusName {
    std::uint8_t value;
    const char* name;
};

// Request-block statuses of the published ASPI interface.
constexpr StatusName kRequestStatusNames[] = {
    {aspi::SS_PENDING, "pending"},
    {aspi::SS_COMP, "completed"},
    {aspi::SS_ABORTED, "aborted"},
    {aspi::SS_ABORT_FAIL, "abort failed"},
    {aspi::SS_ERR, "error"},
    {aspi::SS_INVALID_CMD, "invalid command"},
    {aspi::SS_INVALID_HA, "invalid host adapter"},
    {aspi::SS_NO_DEVICE, "no device"},
    {aspi::SS_INVALID_SRB, "invalid request block"},
    {aspi::SS_BUFFER_ALIGN, "buffer alignment"},
    {aspi::SS_ILLEGAL_MODE, "illegal mode"},
    {aspi::SS_NO_ASPI, "no ASPI manager"},
    {aspi::SS_FAILED_INIT, "manager failed to initialise"},
    {aspi::SS_ASPI_IS_BUSY, "manager busy"},
    {aspi::SS_BUFFER_TO_BIG, "buffer too big"},
    {aspi::SS_MISMATCHED_COMPONENTS, "mismatched components"},
    {aspi::SS_NO_ADAPTERS, "no adapters"},
    {aspi::SS_INSUFFICIENT_RESOURCES, "insufficient resources"},
    {aspi::SS_ASPI_IS_SHUTDOWN, "manager shut down"},
    {aspi::SS_BAD_INSTALL, "bad installation"},
};

// Host adapter statuses.
constexpr StatusName kHostStatusNames[] = {
    {aspi::HASTAT_OK, "ok"},
    {aspi::HASTAT_TIMEOUT, "timeout"},
    {aspi::HASTAT_COMMAND_TIMEOUT, "command timeout"},
    {aspi::HASTAT_MESSAGE_REJECT, "message reject"},
    {aspi::HASTAT_BUS_RESET, "bus reset"},
    {aspi::HASTAT_PARITY_ERROR, "parity error"},
    {aspi::HASTAT_REQUEST_SENSE_FAILED, "request sense failed"},
    {aspi::HASTAT_SEL_TO, "selection timeout"},
    {aspi::HASTAT_DO_DU, "data overrun or underrun"},
    {aspi::HASTAT_BUS_FREE, "unexpected bus free"},
    {aspi::HASTAT_PHASE_ERR, "bus phase error"},
};

// SCSI target statuses.
constexpr StatusName kTargetStatusNames[] = {
    {aspi::STATUS_GOOD, "GOOD"},
    {aspi::STATUS_CHKCOND, "CHECK CONDITION"},
    {aspi::STATUS_CONDMET, "CONDITION MET"},
    {aspi::STATUS_BUSY, "BUSY"},
    {aspi::STATUS_INTERM, "INTERMEDIATE"},
    {aspi::STATUS_RESCONF, "RESERVATION CONFLICT"},
    {aspi::STATUS_COMTERM, "COMMAND TERMINATED"},
    {aspi::STATUS_QFULL, "TASK SET FULL"},
    {aspi::STATUS_ACA_ACTIVE, "ACA ACTIVE"},
    {aspi::STATUS_TASK_ABORTED, "TASK ABORTED"},
};

struct ConnectErrorName {
    ConnectError error;
    const char* text;
    const char* advice;
};

constexpr ConnectErrorName kConnectErrors[] = {
    {ConnectError::kNone, "", ""},
    {ConnectError::kOutOfMemory, "Out of memory", "close other programs and try again"},
    {ConnectError::kMissingManager, "Missing wnaspi32",
     "no ASPI manager (libwnaspi32.so) was found on the library path: install the SCSI generic manager, or use "
     "the simulated camera"},
    {ConnectError::kCorruptManager, "Corrupt wnaspi32",
     "the ASPI manager found lacks GetASPI32SupportInfo or SendASPI32Command: reinstall it"},
    {ConnectError::kNoEvent, "Error (no event)",
     "no completion event could be created: the process may have run out of file descriptors"},
    {ConnectError::kCameraNotFound, "Camera not found",
     "a scan of the bus ('tarnscsi scan') lists what the ASPI manager sees, and why a device is not taken for "
     "the camera; check the camera's power, cable and termination"},
    {ConnectError::kCameraInUse, "Camera in use",
     "another program is connected to the camera: disconnect it there (or let it finish), then connect again"},
};

std::string Hex(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

template <std::size_t N>
const char* Find(const StatusName (&table)[N], std::uint8_t value) {
    for (const StatusName& entry : table) {
        if (entry.value == value) return entry.name;
    }
    return nullptr;
}

template <std::size_t N>
std::string NameOr(const StatusName (&table)[N], std::uint8_t value, const char* what) {
    const char* name = Find(table, value);
    return name != nullptr ? name : std::string(what) + " " + Hex(value);
}

}  // namespace

const char* ConnectErrorText(ConnectError error) {
    for (const ConnectErrorName& entry : kConnectErrors) {
        if (entry.error == error) return entry.text;
    }
    return "";
}

const char* ConnectAdvice(ConnectError error) {
    for (const ConnectErrorName& entry : kConnectErrors) {
        if (entry.error == error) return entry.advice;
    }
    return "";
}

std::string SenseKeyName(std::uint8_t key) {
    for (const scsi::KeyName& entry : scsi::kKeyNames) {
        if (static_cast<std::uint8_t>(entry.key) == key) return entry.name;
    }
    return "sense key " + Hex(key);
}

const char* AdditionalSenseText(std::uint8_t asc, std::uint8_t ascq) {
    for (const scsi::AdditionalSenseName& entry : scsi::kAdditionalSenseNames) {
        if (entry.code == scsi::AdditionalSense{asc, ascq}) return entry.text;
    }
    return nullptr;
}

Sense DecodeSense(const std::uint8_t* bytes, std::size_t length) {
    Sense result;
    if (bytes == nullptr || length <= scsi::kResponseOffset) return result;
    const std::uint8_t response = bytes[scsi::kResponseOffset] & scsi::kResponseCodeMask;
    if (response == scsi::kFixedCurrent || response == scsi::kFixedDeferred) {
        if (length <= scsi::kFixedAscqOffset) return result;
        result.key = bytes[scsi::kFixedKeyOffset] & scsi::kKeyMask;
        result.asc = bytes[scsi::kFixedAscOffset];
        result.ascq = bytes[scsi::kFixedAscqOffset];
        result.valid = true;
    } else if (response == scsi::kDescriptorCurrent || response == scsi::kDescriptorDeferred) {
        if (length <= scsi::kDescriptorAscqOffset) return result;
        result.key = bytes[scsi::kDescriptorKeyOffset] & scsi::kKeyMask;
        result.asc = bytes[scsi::kDescriptorAscOffset];
        result.ascq = bytes[scsi::kDescriptorAscqOffset];
        result.valid = true;
    }
    return result;
}

std::string Sense::Describe() const {
    if (!valid) return "none";
    std::string text = SenseKeyName(key);
    if (const char* additional = AdditionalSenseText(asc, ascq)) {
        text += ", ";
        text += additional;
    }
    char codes[24];
    std::snprintf(codes, sizeof codes, " (%X/%02X/%02X)", key, asc, ascq);
    return text + codes;
}

std::string RequestStatusName(std::uint8_t status) { return NameOr(kRequestStatusNames, status, "status"); }
std::string HostStatusName(std::uint8_t status) { return NameOr(kHostStatusNames, status, "host status"); }
std::string TargetStatusName(std::uint8_t status) { return NameOr(kTargetStatusNames, status, "status"); }

std::string CommandNameOf(std::uint8_t opcode) {
    for (const tarnscsi::camera::OpcodeName& entry : tarnscsi::camera::kCommandNames) {
        if (entry.opcode == opcode) return entry.name;
    }
    return "command " + Hex(opcode);
}

bool CommandResult::Ok() const { return sent && srbStatus == aspi::SS_COMP; }

CommandOutcome CommandResult::Outcome() const {
    if (!sent) return CommandOutcome::kNotSent;
    if (srbStatus == aspi::SS_COMP) return CommandOutcome::kCompleted;
    if (targetStatus == aspi::STATUS_CHKCOND) return CommandOutcome::kCheckCondition;
    if (targetStatus != aspi::STATUS_GOOD) return CommandOutcome::kTargetStatus;
    if (hostStatus != aspi::HASTAT_OK) return CommandOutcome::kHostAdapter;
    // Nothing from the bus, and the manager gave its answer before returning.
    if (!pending) return CommandOutcome::kRefused;
    return CommandOutcome::kFailed;
}

std::string CommandResult::CommandName() const {
    return cdbLength == 0 ? std::string("no command") : CommandNameOf(Opcode());
}

std::string CommandResult::Describe() const {
    const std::string name = CommandName();
    std::string what;
    switch (Outcome()) {
        case CommandOutcome::kCompleted: return name + ": completed";
        case CommandOutcome::kNotSent: return name + ": not sent (no usable connection to the ASPI manager)";
        case CommandOutcome::kRefused: what = "refused by the ASPI manager"; break;
        case CommandOutcome::kCheckCondition:
            what = "CHECK CONDITION, sense " + (sense.valid ? sense.Describe() : std::string("not available"));
            break;
        case CommandOutcome::kTargetStatus: what = "the camera answered " + TargetStatusName(targetStatus); break;
        case CommandOutcome::kHostAdapter:
            what = "host adapter: " + HostStatusName(hostStatus);
            if (hostStatus == aspi::HASTAT_DO_DU) {
                what += " (the transfer ended without moving the " + std::to_string(length) + " bytes asked for" +
                        (dataIn ? ": what arrived is incomplete and was not used)" : ")");
            }
            break;
        case CommandOutcome::kFailed: what = "failed"; break;
    }
    return name + ": " + what + "; request status " + Hex(srbStatus) + " (" + RequestStatusName(srbStatus) +
           "), host adapter status " + Hex(hostStatus) + ", target status " + Hex(targetStatus);
}

std::string ConnectFailureExplained(ConnectError error, const std::string& detail) {
    std::string text = ConnectErrorText(error);
    if (!detail.empty()) text += " (" + detail + ")";
    if (const char* advice = ConnectAdvice(error); advice != nullptr && *advice != '\0')
        text += "; " + std::string(advice);
    return text;
}

std::string CommandResult::Explained() const {
    std::string text = Describe();
    if (const std::string advice = Advice(); !advice.empty()) text += "; " + advice;
    return text;
}

std::string CommandResult::Advice() const {
    switch (Outcome()) {
        case CommandOutcome::kCompleted: return {};
        case CommandOutcome::kNotSent: return "reconnect to the camera";
        case CommandOutcome::kRefused:
            return "the ASPI manager did not accept the request: check that the camera is still listed by "
                   "'tarnscsi scan', then reconnect";
        case CommandOutcome::kHostAdapter:
            if (hostStatus == aspi::HASTAT_SEL_TO) {
                return "the camera does not answer on the bus: check its power, cable and termination, then "
                       "'tarnscsi scan'";
            }
            if (hostStatus == aspi::HASTAT_DO_DU) {
                return "data were lost on the way: check the SCSI cable, its termination and the host adapter "
                       "(its transfer settings), then try again";
            }
            return "check the SCSI cable and termination, then try again";
        case CommandOutcome::kTargetStatus:
            return targetStatus == aspi::STATUS_BUSY ? "the camera is busy: wait for it and try again"
                                                     : "try again; if it persists, power-cycle the camera";
        case CommandOutcome::kCheckCondition:
            if (sense.valid) {
                switch (static_cast<scsi::SenseKey>(sense.key)) {
                    case scsi::SenseKey::kNotReady: return "the camera is not ready: wait for it and try again";
                    case scsi::SenseKey::kIllegalRequest:
                        return "the camera refused the command's parameters: check the frame, binning and "
                               "exposure time";
                    case scsi::SenseKey::kUnitAttention:
                        return "the camera was reset or changed state: try again (an exposure under way is lost: "
                               "expose again)";
                    case scsi::SenseKey::kHardwareError: return "the camera reports a fault: power-cycle it";
                    default: break;
                }
            }
            return "try again; if it persists, power-cycle the camera";
        case CommandOutcome::kFailed: break;
    }
    return "try again; if it persists, check the cable and power-cycle the camera";
}

}  // namespace tarnscsi
