#include "sim_test_support.h"

#include <algorithm>

#include "cooling_page.h"
#include "window_layout.h"
#include "big_endian.h"

namespace tarnscsi::simtest {

tarnscsi::aspi::SRB_ExecSCSICmd Block(const tarnscsi::camera::CommandSpec& command, std::uint8_t* buffer,
                                      std::uint32_t bufferLength) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = SIM_DEFAULT_ADAPTER;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = command.direction;
    block.SRB_BufPointer = buffer;
    block.SRB_BufLen = bufferLength;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = command.cdbLength;
    std::copy(command.cdb.begin(), command.cdb.end(), block.CDBByte);
    return block;
}

std::uint32_t Send(tarnscsi::aspi::SRB_ExecSCSICmd& block) { return SendASPI32Command(&block); }

bool RunCommand(const tarnscsi::camera::CommandSpec& command, std::vector<std::uint8_t>& data) {
    auto block = Block(command, data.empty() ? nullptr : data.data(), static_cast<std::uint32_t>(data.size()));
    Send(block);
    return block.SRB_Status == tarnscsi::aspi::SS_COMP;
}

void ExpectCheckCondition(const tarnscsi::aspi::SRB_ExecSCSICmd& block, tarnscsi::scsi::SenseKey key,
                          tarnscsi::scsi::AdditionalSense code) {
    EXPECT_EQ(block.SRB_Status, tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_OK);
    EXPECT_EQ(block.SRB_TargStat, tarnscsi::aspi::STATUS_CHKCOND);
    EXPECT_EQ(block.SenseArea[tarnscsi::scsi::kResponseOffset], tarnscsi::scsi::kFixedCurrent);
    EXPECT_EQ(block.SenseArea[tarnscsi::scsi::kFixedKeyOffset], static_cast<std::uint8_t>(key));
    EXPECT_EQ(block.SenseArea[tarnscsi::scsi::kFixedAdditionalLengthOffset], tarnscsi::scsi::kFixedAdditionalLength);
    EXPECT_EQ(block.SenseArea[tarnscsi::scsi::kFixedAscOffset], code.asc);
    EXPECT_EQ(block.SenseArea[tarnscsi::scsi::kFixedAscqOffset], code.ascq);
}

std::vector<std::uint8_t> WindowList(const WindowFields& f) {
    namespace w = tarnscsi::camera::window;
    std::vector<std::uint8_t> list(w::kLength, 0);
    PutBE16(&list[w::kDescriptorLength], w::kDescriptorLengthValue);
    list[w::kWindowId] = w::kWindowIdValue;
    const auto resolution = f.binned ? w::kResolutionBinned : w::kResolutionUnbinned;
    PutBE16(&list[w::kXResolution], resolution);
    PutBE16(&list[w::kYResolution], resolution);
    PutBE32(&list[w::kOriginX], static_cast<std::uint32_t>(f.originX));
    PutBE32(&list[w::kOriginY], static_cast<std::uint32_t>(f.originY));
    PutBE32(&list[w::kWidth], static_cast<std::uint32_t>(f.width));
    PutBE32(&list[w::kHeight], static_cast<std::uint32_t>(f.height));
    list[w::kImageComposition] = w::kImageCompositionValue;
    PutBE32(&list[w::kExposureTime], f.exposureMs);
    for (const auto& fixed : w::kFixedBytes) {
        list[fixed.offset] = fixed.value;
    }
    return list;
}

std::vector<std::uint8_t> CoolingList(std::int16_t setpoint) {
    namespace c = tarnscsi::camera::cooling;
    std::vector<std::uint8_t> list(c::kLength, 0);
    list[c::kPageCode] = c::kPageCodeValue;
    list[c::kPageLength] = c::kPageLengthValue;
    list[c::kSignature] = c::kSignatureValue[0];
    list[c::kSignature + 1] = c::kSignatureValue[1];
    PutBE16(&list[c::kSetpoint], static_cast<std::uint16_t>(setpoint));
    return list;
}

}  // namespace tarnscsi::simtest