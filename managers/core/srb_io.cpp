#include "core/srb_io.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "camera_commands.h"

namespace tarnscsi::manager {

ScsiCommand CommandOf(tarnscsi::aspi::SRB_ExecSCSICmd& block) {
    ScsiCommand command;
    command.adapter = block.SRB_HaId;
    command.target = block.SRB_Target;
    command.lun = block.SRB_Lun;
    command.cdb = block.CDBByte;
    command.cdbLength = block.SRB_CDBLen;
    command.direction = block.SRB_Flags & (tarnscsi::aspi::SRB_DIR_IN | tarnscsi::aspi::SRB_DIR_OUT);
    command.buffer = block.SRB_BufPointer;
    command.bufferLength = block.SRB_BufLen;
    return command;
}

bool EndedShort(const ScsiCommand& command, const ScsiOutcome& outcome) {
    if (outcome.srbStatus != tarnscsi::aspi::SS_COMP || outcome.transferred >= command.bufferLength) return false;
    if (command.direction != tarnscsi::aspi::SRB_DIR_IN || command.cdb == nullptr || command.cdbLength == 0)
        return true;
    return outcome.transferred < tarnscsi::camera::BytesNeeded(command.cdb[0], command.bufferLength);
}

ScsiOutcome Judged(const ScsiCommand& command, ScsiOutcome outcome) {
    if (EndedShort(command, outcome)) {
        outcome.srbStatus = tarnscsi::aspi::SS_ERR;
        outcome.hostStatus = tarnscsi::aspi::HASTAT_DO_DU;
    }
    return outcome;
}

void ApplyOutcome(tarnscsi::aspi::SRB_ExecSCSICmd& block, const ScsiOutcome& outcome) {
    block.SRB_HaStat = outcome.hostStatus;
    block.SRB_TargStat = outcome.targetStatus;
    if (outcome.targetStatus == tarnscsi::aspi::STATUS_CHKCOND) {
        const std::size_t length =
            std::min<std::size_t>({block.SRB_SenseLen, sizeof block.SenseArea, outcome.senseLength});
        std::memcpy(block.SenseArea, outcome.sense.data(), length);
    }
    PublishStatus(block.SRB_Status, outcome.srbStatus);
}

void PublishStatus(tarnscsi::aspi::BYTE& status, tarnscsi::aspi::BYTE value) {
    std::atomic_ref<tarnscsi::aspi::BYTE>(status).store(value, std::memory_order_release);
}

}  // namespace tarnscsi::manager