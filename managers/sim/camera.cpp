#include "sim/camera.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "core/scsi_outcome.h"
#include "sim/camera_inquiry.h"
#include "sim/cdb.h"
#include "sim/cooling_list.h"
#include "sim/firmware_rules.h"
#include "sim/window_params.h"

namespace tarnscsi::sim {
namespace {

using tarnscsi::manager::GoodOutcome;

// The commands the camera carries out: how it reads each (its firmware's
// rule) and what it does.
struct CommandRule {
    const CdbRule* cdb;
    ScsiOutcome (SimCamera::*handler)(const ScsiCommand&, std::uint32_t);
};

const CommandRule kRules[] = {
    {&firmware::kTestUnitReady, &SimCamera::TestUnitReady}, {&firmware::kInquiry, &SimCamera::Inquiry},
    {&firmware::kModeSelect, &SimCamera::ModeSelect},       {&firmware::kModeSense, &SimCamera::ModeSense},
    {&firmware::kSetWindow, &SimCamera::SetWindow},         {&firmware::kScan, &SimCamera::Scan},
    {&firmware::kGetWindow, &SimCamera::GetWindow},         {&firmware::kRead, &SimCamera::Read},
};

// The lists MODE SELECT and SET WINDOW carry are whole, as the camera reads them.
static_assert(DataLength(firmware::kModeSelect, nullptr) == std::tuple_size_v<CoolingList>);
static_assert(DataLength(firmware::kSetWindow, nullptr) == std::tuple_size_v<WindowList>);

const CommandRule* FindRule(std::uint8_t code) {
    for (const CommandRule& rule : kRules) {
        if (rule.cdb->bytes[cdb::kOpcode] == code) {
            return &rule;
        }
    }
    return nullptr;
}

// The first command byte (and its highest wrong bit) that differs from what
// the camera accepts, if any.
std::optional<FieldInError> WrongByte(const CdbRule& rule, const std::uint8_t* bytes) {
    for (std::size_t i = 0; i < rule.length; ++i) {
        if (!cdb::Contains(rule.chosen, i) && bytes[i] != rule.bytes[i]) {
            return CdbField(i, HighestDifferingBit(bytes[i], rule.bytes[i]));
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

std::uint8_t SimCamera::DeviceType() const { return kCameraDeviceType; }

ScsiOutcome SimCamera::Execute(const ScsiCommand& command) {
    // A target reports a reset to the next command, whatever it is, and does
    // not carry that command out; INQUIRY alone is answered as usual and
    // leaves the report for the next one.
    if (pendingAttentions > 0 && command.cdb[cdb::kOpcode] != opcode::kInquiry) {
        --pendingAttentions;
        return tarnscsi::manager::CheckConditionOutcome(tarnscsi::scsi::SenseKey::kUnitAttention,
                                                        tarnscsi::scsi::kPowerOnOrReset);
    }
    const CommandRule* rule = FindRule(command.cdb[cdb::kOpcode]);
    if (rule == nullptr) {
        return IllegalRequest(tarnscsi::scsi::kInvalidOpcode, CdbField(cdb::kOpcode));
    }
    const std::uint32_t length = DataLength(*rule->cdb, command.cdb);
    if (auto failure = CheckTransfer(command, rule->cdb->phase, length, rule->cdb->chosen)) {
        return *failure;
    }
    if (const auto wrong = WrongByte(*rule->cdb, command.cdb)) {
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