#include "sim/plain_device.h"

#include <utility>

#include "camera/commands.h"
#include "manager/scsi_outcome.h"
#include "sim/cdb.h"
#include "sim/target_rules.h"

namespace tarnscsi::sim {

PlainDevice::PlainDevice(std::uint8_t deviceType, std::vector<std::uint8_t> inquiry)
    : deviceType_(deviceType), inquiry_(std::move(inquiry)) {}

tarnscsi::manager::ScsiOutcome PlainDevice::Execute(const tarnscsi::manager::ScsiCommand& command) {
    switch (command.cdb[cdb::kOpcode]) {
        case tarnscsi::camera::opcode::kTestUnitReady:
            if (auto failure = CheckTransfer(command, DataPhase::kNone, 0)) {
                return *failure;
            }
            return tarnscsi::manager::GoodOutcome(0);
        case tarnscsi::camera::opcode::kInquiry: {
            const std::uint32_t allocation = cdb::Read(command.cdb, cdb::kLengthOf6Byte);
            if (auto failure = CheckTransfer(command, DataPhase::kIn, allocation, cdb::kLengthOf6Byte)) {
                return *failure;
            }
            return DataIn(command, inquiry_.data(), static_cast<std::uint32_t>(inquiry_.size()), allocation);
        }
        default: return IllegalRequest(tarnscsi::scsi::kInvalidOpcode, CdbField(cdb::kOpcode));
    }
}

}  // namespace tarnscsi::sim