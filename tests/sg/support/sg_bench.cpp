#include "support/sg_bench.h"

#include <algorithm>
#include <cstring>

namespace tarnscsi::sg_test {

void SgBench::AddDevice(const std::string& name, const std::string& address, std::optional<int> type,
                        FakeSgSystem::Handler handler) {
    sysfs.AddDevice(name, address, type);
    system.Attach("/dev/" + name, std::move(handler));
}

SgBench::DeviceTypeAnswer SgBench::GetDeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    tarnscsi::aspi::SRB_GDEVBlock block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
    block.SRB_HaId = adapter;
    block.SRB_Target = target;
    block.SRB_Lun = lun;
    block.SRB_DeviceType = kUntouched;
    const auto status = static_cast<std::uint8_t>(manager.Send(&block));
    return {status, block.SRB_DeviceType};
}

std::string SgBench::Report() {
    std::string text;
    for (const std::string& line : bus.Report()) {
        text += line + "\n";
    }
    return text;
}

tarnscsi::aspi::SRB_ExecSCSICmd ExecBlock(std::uint8_t adapter, std::uint8_t target,
                                          std::initializer_list<std::uint8_t> cdb, std::uint8_t flags,
                                          std::uint8_t* buffer, std::uint32_t length) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = adapter;
    block.SRB_Target = target;
    block.SRB_Flags = flags;
    block.SRB_BufPointer = buffer;
    block.SRB_BufLen = length;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), block.CDBByte);
    std::memset(block.SenseArea, kUntouched, sizeof block.SenseArea);
    return block;
}

}  // namespace tarnscsi::sg_test