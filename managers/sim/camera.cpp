#include "sim/camera.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "camera_commands.h"
#include "core/scsi_outcome.h"
#include "sim/camera_inquiry.h"
#include "sim/cdb.h"
#include "sim/cooling_list.h"

namespace tarnscsi::sim {
namespace {

using tarnscsi::manager::GoodOutcome;

// How the camera reads each command it knows: the bytes it expects (from the
// module's command table), the data phase, and the one field the initiator
// may choose (the allocation or transfer length; for TEST UNIT READY an
// ignored byte). Every other CDB byte must equal the table's.
struct CommandRule {
    const tarnscsi::camera::CommandSpec* command;
    DataPhase phase;
    cdb::Field chosen;
    ScsiOutcome (SimCamera::*handler)(const ScsiCommand&, std::uint32_t);
};

const CommandRule kRules[] = {
    {&tarnscsi::camera::kTestUnitReady, DataPhase::kNone, cdb::kLengthOf6Byte, &SimCamera::TestUnitReady},
    {&tarnscsi::camera::kIdentify, DataPhase::kIn, cdb::kLengthOf6Byte, &SimCamera::Inquiry},
    {&tarnscsi::camera::kWriteCoolingPage, DataPhase::kOut, cdb::kNoField, &SimCamera::ModeSelect},
    {&tarnscsi::camera::kReadCoolingPage, DataPhase::kIn, cdb::kLengthOf6Byte, &SimCamera::ModeSense},
    {&tarnscsi::camera::kSetWindow, DataPhase::kOut, cdb::kNoField, &SimCamera::SetWindow},
    {&tarnscsi::camera::kStartScan, DataPhase::kOut, cdb::kNoField, &SimCamera::Scan},
    {&tarnscsi::camera::kGetWindow, DataPhase::kIn, cdb::kLengthOf10Byte, &SimCamera::GetWindow},
    {&tarnscsi::camera::kReadImage, DataPhase::kIn, cdb::kLengthOf10Byte, &SimCamera::Read},
};

const CommandRule* FindRule(std::uint8_t opcode) {
    for (const CommandRule& rule : kRules) {
        if (rule.command->cdb[cdb::kOpcode] == opcode) {
            return &rule;
        }
    }
    return nullptr;
}

std::uint32_t DataLength(const CommandRule& rule, const std::uint8_t* bytes) {
    if (rule.phase == DataPhase::kNone) {
        return 0;
    }
    return rule.chosen.length != 0 ? cdb::Read(bytes, rule.chosen) : rule.command->dataLength;
}

// The first command byte (and its highest wrong bit) that differs from the
// table's, if any.
std::optional<FieldInError> WrongByte(const CommandRule& rule, const std::uint8_t* bytes) {
    for (std::size_t i = 0; i < rule.command->cdbLength; ++i) {
        if (!cdb::Contains(rule.chosen, i) && bytes[i] != rule.command->cdb[i]) {
            return CdbField(i, HighestDifferingBit(bytes[i], rule.command->cdb[i]));
        }
    }
    return std::nullopt;
}

ScsiOutcome NotReady() {
    return tarnscsi::manager::CheckConditionOutcome(tarnscsi::scsi::SenseKey::kNotReady,
                                                    tarnscsi::scsi::kNotReadyBecomingReady);
}

}  // namespace

SimCamera::SimCamera(const SimSettings& simSettings, SceneCache& scenes)
    : settings(simSettings),
      windowList(EncodeWindowList(window)),
      exposure(simSettings.clock, scenes),
      cooling(simSettings.clock, simSettings.cooler) {
    RestartExposureCount();
}

void SimCamera::RestartExposureCount() {
    exposureCount = 0;
    if (settings.freshNoise) {
        std::random_device entropy;
        exposureCount = (std::uint64_t{entropy()} << 32) | entropy();
    }
}

void SimCamera::PowerOnReset(std::uint32_t attentions) {
    exposure.Drop();
    window = Window{};
    windowList = EncodeWindowList(window);
    windowSet = false;
    pendingAttentions = attentions;
}

std::uint8_t SimCamera::DeviceType() const { return tarnscsi::camera::kScannerDeviceType; }

ScsiOutcome SimCamera::Execute(const ScsiCommand& command) {
    // A target reports a reset to the next command, whatever it is, and does
    // not carry that command out; INQUIRY alone is answered as usual and
    // leaves the report for the next one.
    if (pendingAttentions > 0 && command.cdb[cdb::kOpcode] != tarnscsi::camera::opcode::kInquiry) {
        --pendingAttentions;
        return tarnscsi::manager::CheckConditionOutcome(tarnscsi::scsi::SenseKey::kUnitAttention,
                                                        tarnscsi::scsi::kPowerOnOrReset);
    }
    const CommandRule* rule = FindRule(command.cdb[cdb::kOpcode]);
    if (rule == nullptr) {
        return IllegalRequest(tarnscsi::scsi::kInvalidOpcode, CdbField(cdb::kOpcode));
    }
    const std::uint32_t length = DataLength(*rule, command.cdb);
    if (auto failure = CheckTransfer(command, rule->phase, length, rule->chosen)) {
        return *failure;
    }
    if (const auto wrong = WrongByte(*rule, command.cdb)) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInCdb, wrong);
    }
    return (this->*rule->handler)(command, length);
}

ScsiOutcome SimCamera::TestUnitReady(const ScsiCommand&, std::uint32_t) {
    switch (exposure.Current()) {
        case Exposure::State::kExposing:
        case Exposure::State::kReadingOut: return NotReady();
        case Exposure::State::kNoImage:
        case Exposure::State::kImageReady: break;
    }
    return GoodOutcome(0);
}

ScsiOutcome SimCamera::Inquiry(const ScsiCommand& command, std::uint32_t length) {
    const InquiryData& data = CameraInquiryData();
    return DataIn(command, data.data(), static_cast<std::uint32_t>(data.size()), length);
}

ScsiOutcome SimCamera::ModeSelect(const ScsiCommand& command, std::uint32_t length) {
    CoolingList list;
    std::memcpy(list.data(), command.buffer, list.size());
    const auto setpoint = ParseSetpointList(list);
    if (!setpoint.value) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInParameterList, ListField(setpoint.fieldInError));
    }
    cooling.SetSetpoint(*setpoint.value);
    return GoodOutcome(length);
}

ScsiOutcome SimCamera::ModeSense(const ScsiCommand& command, std::uint32_t length) {
    const CoolingList list = EncodeCoolingList({cooling.Setpoint(), cooling.Temperature(), cooling.Drive()});
    return DataIn(command, list.data(), static_cast<std::uint32_t>(list.size()), length);
}

ScsiOutcome SimCamera::SetWindow(const ScsiCommand& command, std::uint32_t length) {
    WindowList list;
    std::memcpy(list.data(), command.buffer, list.size());
    const auto parsed = ParseWindowList(list);
    if (!parsed.value) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInParameterList, ListField(parsed.fieldInError));
    }
    exposure.AbandonRunning();
    window = *parsed.value;
    windowList = list;
    windowSet = true;
    return GoodOutcome(length);
}

ScsiOutcome SimCamera::Scan(const ScsiCommand& command, std::uint32_t length) {
    constexpr std::size_t kWindowIdList = 0;
    if (command.buffer[kWindowIdList] != tarnscsi::camera::window::kWindowIdValue) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInParameterList, ListField(kWindowIdList));
    }
    if (!windowSet) {
        return IllegalRequest(tarnscsi::scsi::kCommandSequenceError);
    }
    // The sensor's temperature as the exposure starts sets its dark current.
    exposure.Start(
        {window, settings.imageKind, settings.seed, ++exposureCount, cooling.Temperature(), settings.covered});
    return GoodOutcome(length);
}

ScsiOutcome SimCamera::GetWindow(const ScsiCommand& command, std::uint32_t length) {
    WindowList list = windowList;
    // The header carries nothing the camera reports.
    std::fill(list.begin(), list.begin() + tarnscsi::camera::window::kDescriptorLength, std::uint8_t{0});
    return DataIn(command, list.data(), static_cast<std::uint32_t>(list.size()), length);
}

ScsiOutcome SimCamera::Read(const ScsiCommand& command, std::uint32_t length) {
    if (length == 0) {
        return GoodOutcome(0);
    }
    switch (exposure.Current()) {
        case Exposure::State::kNoImage: return IllegalRequest(tarnscsi::scsi::kCommandSequenceError);
        case Exposure::State::kExposing:
        case Exposure::State::kReadingOut: return NotReady();
        case Exposure::State::kImageReady: break;
    }
    if (length > exposure.Remaining()) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInCdb, CdbField(cdb::kLengthOf10Byte.offset));
    }
    exposure.ReadNext(command.buffer, length);
    return GoodOutcome(length);
}

}  // namespace tarnscsi::sim