#include "sg/sg_carrier.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "core/scsi_outcome.h"
#include "sg/linux_status.h"

namespace tarnscsi::sg {
namespace {

constexpr int kInterfaceId = 'S';
constexpr std::size_t kMaxCdbLength = 16;

tarnscsi::manager::ScsiOutcome Refused(tarnscsi::aspi::BYTE status) {
    tarnscsi::manager::ScsiOutcome outcome;
    outcome.srbStatus = status;
    return outcome;
}

// SG_IO itself failed: the command may or may not have reached the device.
tarnscsi::manager::ScsiOutcome CarrierFailure(int error) {
    if (error == ENODEV || error == ENXIO) {
        return tarnscsi::manager::SelectionTimeoutOutcome();  // the device has gone
    }
    tarnscsi::manager::ScsiOutcome outcome = Refused(tarnscsi::aspi::SS_ERR);
    outcome.hostStatus = tarnscsi::aspi::HASTAT_PHASE_ERR;
    return outcome;
}

}  // namespace

std::optional<int> TransferDirection(const tarnscsi::manager::ScsiCommand& command) {
    if (command.bufferLength == 0) {
        return SG_DXFER_NONE;
    }
    if (command.buffer == nullptr) {
        return std::nullopt;
    }
    switch (command.direction) {
        case tarnscsi::aspi::SRB_DIR_IN: return SG_DXFER_FROM_DEV;
        case tarnscsi::aspi::SRB_DIR_OUT: return SG_DXFER_TO_DEV;
        default: return std::nullopt;
    }
}

tarnscsi::aspi::BYTE HostAdapterStatus(std::uint16_t hostStatus, std::uint16_t driverStatus) {
    switch (hostStatus) {
        case kDidOk:
            return (driverStatus & kDriverClassMask) == kDriverTimeout ? tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT
                                                                       : tarnscsi::aspi::HASTAT_OK;
        case kDidNoConnect:
        case kDidBadTarget: return tarnscsi::aspi::HASTAT_SEL_TO;
        case kDidTimeOut:
        case kDidAbort:  // the midlayer aborts what ran out of time
            return tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT;
        case kDidBusBusy: return tarnscsi::aspi::HASTAT_TIMEOUT;
        case kDidParity: return tarnscsi::aspi::HASTAT_PARITY_ERROR;
        case kDidReset: return tarnscsi::aspi::HASTAT_BUS_RESET;
        default: return tarnscsi::aspi::HASTAT_PHASE_ERR;  // the adapter failed the command otherwise
    }
}

tarnscsi::manager::ScsiOutcome OutcomeOf(const sg_io_hdr_t& header) {
    tarnscsi::manager::ScsiOutcome outcome;
    const bool good = header.status == tarnscsi::aspi::STATUS_GOOD && header.host_status == kDidOk &&
                      header.driver_status == kDriverOk;
    outcome.srbStatus = good ? tarnscsi::aspi::SS_COMP : tarnscsi::aspi::SS_ERR;
    outcome.hostStatus = HostAdapterStatus(header.host_status, header.driver_status);
    outcome.targetStatus = header.status;
    if (header.sbp != nullptr) {
        const std::size_t length = std::min<std::size_t>({header.sb_len_wr, header.mx_sb_len, outcome.sense.size()});
        std::memcpy(outcome.sense.data(), header.sbp, length);
        outcome.senseLength = static_cast<std::uint8_t>(length);
    }
    if (header.dxfer_direction != SG_DXFER_NONE) {
        const unsigned residue = header.resid > 0 ? std::min(static_cast<unsigned>(header.resid), header.dxfer_len) : 0;
        outcome.transferred = header.dxfer_len - residue;
    }
    return outcome;
}

Carried Carry(SgSystem& system, int descriptor, const tarnscsi::manager::ScsiCommand& command,
              std::chrono::milliseconds timeLimit) {
    const auto direction = TransferDirection(command);
    if (!direction || command.cdb == nullptr || command.cdbLength == 0 || command.cdbLength > kMaxCdbLength) {
        return {Refused(tarnscsi::aspi::SS_INVALID_SRB), 0};
    }
    // The kernel takes writable pointers; the caller's bytes stay untouched.
    std::array<unsigned char, kMaxCdbLength> cdb{};
    std::memcpy(cdb.data(), command.cdb, command.cdbLength);
    std::array<unsigned char, kSenseCapacity> sense{};

    sg_io_hdr_t header{};
    header.interface_id = kInterfaceId;
    header.dxfer_direction = *direction;
    header.cmd_len = command.cdbLength;
    header.cmdp = cdb.data();
    header.mx_sb_len = static_cast<unsigned char>(sense.size());
    header.sbp = sense.data();
    if (*direction != SG_DXFER_NONE) {
        header.dxfer_len = command.bufferLength;
        header.dxferp = command.buffer;
    }
    header.timeout = static_cast<unsigned>(timeLimit.count());

    const int result = system.Ioctl(descriptor, SG_IO, &header);
    if (result < 0) {
        return {CarrierFailure(-result), -result};
    }
    return {OutcomeOf(header), 0};
}

}  // namespace tarnscsi::sg