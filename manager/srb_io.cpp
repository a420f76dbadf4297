#include "manager/srb_io.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace aspi_mgr {

namespace {

// The header every block starts with.
template <typename Block>
RequestRecord RecordCommon(const Block& block) {
    RequestRecord record;
    record.command = block.SRB_Cmd;
    record.haId = block.SRB_HaId;
    record.flags = block.SRB_Flags;
    return record;
}

// Blocks addressed to one (target, lun).
template <typename Block>
RequestRecord RecordAddressed(const Block& block) {
    RequestRecord record = RecordCommon(block);
    record.target = block.SRB_Target;
    record.lun = block.SRB_Lun;
    return record;
}

}  // namespace

RequestRecord RecordHeader(const SrbHeader& block) { return RecordCommon(block); }

RequestRecord RecordGetDeviceType(const aspi::SRB_GDEVBlock& block) {
    RequestRecord record = RecordAddressed(block);
    record.deviceTypeIn = block.SRB_DeviceType;
    return record;
}

RequestRecord RecordExecute(const aspi::SRB_ExecSCSICmd& block) {
    RequestRecord record = RecordAddressed(block);
    record.cdbLength = block.SRB_CDBLen;
    record.senseLength = block.SRB_SenseLen;
    record.bufferLength = block.SRB_BufLen;
    record.postProc = reinterpret_cast<std::uintptr_t>(block.SRB_PostProc);
    record.hadBuffer = block.SRB_BufPointer != nullptr;
    std::memcpy(record.cdb, block.CDBByte, sizeof record.cdb);
    if ((block.SRB_Flags & aspi::SRB_DIR_OUT) != 0 && block.SRB_BufPointer != nullptr) {
        record.dataOutLength = std::min<std::uint32_t>(block.SRB_BufLen, sizeof record.dataOut);
        std::memcpy(record.dataOut, block.SRB_BufPointer, record.dataOutLength);
    }
    return record;
}

ScsiCommand CommandOf(aspi::SRB_ExecSCSICmd& block) {
    ScsiCommand command;
    command.adapter = block.SRB_HaId;
    command.target = block.SRB_Target;
    command.lun = block.SRB_Lun;
    command.cdb = block.CDBByte;
    command.cdbLength = block.SRB_CDBLen;
    command.direction = block.SRB_Flags & (aspi::SRB_DIR_IN | aspi::SRB_DIR_OUT);
    command.buffer = block.SRB_BufPointer;
    command.bufferLength = block.SRB_BufLen;
    return command;
}

void ApplyOutcome(aspi::SRB_ExecSCSICmd& block, const ScsiOutcome& outcome) {
    block.SRB_HaStat = outcome.hostStatus;
    block.SRB_TargStat = outcome.targetStatus;
    if (outcome.targetStatus == aspi::STATUS_CHKCOND) {
        const std::size_t length = std::min<std::size_t>(
            {block.SRB_SenseLen, sizeof block.SenseArea, outcome.senseLength});
        std::memcpy(block.SenseArea, outcome.sense.data(), length);
    }
    PublishStatus(block.SRB_Status, outcome.srbStatus);
}

void PublishStatus(aspi::BYTE& status, aspi::BYTE value) {
    std::atomic_ref<aspi::BYTE>(status).store(value, std::memory_order_release);
}

}  // namespace aspi_mgr
