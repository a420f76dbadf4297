#include "sim/request_record.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/srb_blocks.h"
#include "aspi.h"

namespace tarnscsi::sim {
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

RequestRecord RecordGetDeviceType(const tarnscsi::aspi::SRB_GDEVBlock& block) {
    RequestRecord record = RecordAddressed(block);
    record.deviceTypeIn = block.SRB_DeviceType;
    return record;
}

RequestRecord RecordExecute(const tarnscsi::aspi::SRB_ExecSCSICmd& block) {
    RequestRecord record = RecordAddressed(block);
    record.cdbLength = block.SRB_CDBLen;
    record.senseLength = block.SRB_SenseLen;
    record.bufferLength = block.SRB_BufLen;
    record.postProc = reinterpret_cast<std::uintptr_t>(block.SRB_PostProc);
    record.hadBuffer = block.SRB_BufPointer != nullptr;
    std::memcpy(record.cdb, block.CDBByte, sizeof record.cdb);
    if ((block.SRB_Flags & tarnscsi::aspi::SRB_DIR_OUT) != 0 && block.SRB_BufPointer != nullptr) {
        record.dataOutLength = std::min<std::uint32_t>(block.SRB_BufLen, sizeof record.dataOut);
        std::memcpy(record.dataOut, block.SRB_BufPointer, record.dataOutLength);
    }
    return record;
}

}  // namespace

RequestRecord RecordOf(const void* block) {
    const auto* bytes = static_cast<const tarnscsi::aspi::BYTE*>(block);
    switch (bytes[offsetof(tarnscsi::manager::SrbHeader, SRB_Cmd)]) {
        case tarnscsi::aspi::SC_GET_DEV_TYPE:
            return RecordGetDeviceType(*static_cast<const tarnscsi::aspi::SRB_GDEVBlock*>(block));
        case tarnscsi::aspi::SC_EXEC_SCSI_CMD:
            return RecordExecute(*static_cast<const tarnscsi::aspi::SRB_ExecSCSICmd*>(block));
        default: return RecordCommon(*static_cast<const tarnscsi::manager::SrbHeader*>(block));
    }
}

}  // namespace tarnscsi::sim