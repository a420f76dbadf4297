#include "sim/plain_device.h"

#include <utility>

#include "core/scsi_outcome.h"
#include "sim/cdb.h"
#include "sim/firmware_rules.h"
#include "sim/target_rules.h"

namespace tarnscsi::sim {

PlainDevice::PlainDevice(std::uint8_t type, std::vector<std::uint8_t> answer)
    : deviceType(type), inquiry(std::move(answer)) {}

tarnscsi::manager::ScsiOutcome PlainDevice::Execute(const tarnscsi::manager::ScsiCommand& command) {
    switch (command.cdb[cdb::kOpcode]) {
        case opcode::kTestUnitReady:
            if (auto failure = CheckTransfer(command, DataPhase::kNone, 0)) {
                return *failure;
            }
            return tarnscsi::manager::GoodOutcome(0);
        case opcode::kInquiry: {
            const std::uint32_t allocation = cdb::Read(command.cdb, cdb::kLengthOf6Byte);
            if (auto failure = CheckTransfer(command, DataPhase::kIn, allocation, cdb::kLengthOf6Byte)) {
                return *failure;
            }
            return DataIn(command, inquiry.data(), static_cast<std::uint32_t>(inquiry.size()), allocation);
        }
        default: return IllegalRequest(tarnscsi::scsi::kInvalidOpcode, CdbField(cdb::kOpcode));
    }
}

}  // namespace tarnscsi::sim