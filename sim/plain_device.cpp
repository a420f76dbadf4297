#include "sim/plain_device.h"

#include <utility>

#include "camera/commands.h"
#include "manager/scsi_outcome.h"
#include "sim/cdb.h"
#include "sim/target_rules.h"

namespace sim {

PlainDevice::PlainDevice(std::uint8_t deviceType, std::vector<std::uint8_t> inquiry)
    : deviceType_(deviceType), inquiry_(std::move(inquiry)) {}

aspi_mgr::ScsiOutcome PlainDevice::Execute(const aspi_mgr::ScsiCommand& command) {
    switch (command.cdb[cdb::kOpcode]) {
        case camera::opcode::kTestUnitReady:
            if (auto failure = CheckTransfer(command, DataPhase::kNone, 0)) {
                return *failure;
            }
            return aspi_mgr::GoodOutcome(0);
        case camera::opcode::kInquiry: {
            const std::uint32_t allocation = cdb::Read(command.cdb, cdb::kLengthOf6Byte);
            if (auto failure = CheckTransfer(command, DataPhase::kIn, allocation, cdb::kLengthOf6Byte)) {
                return *failure;
            }
            return DataIn(command, inquiry_.data(), static_cast<std::uint32_t>(inquiry_.size()),
                          allocation);
        }
        default:
            return IllegalRequest(scsi::kInvalidOpcode, CdbField(cdb::kOpcode));
    }
}

}  // namespace sim
