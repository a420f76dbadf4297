// The control interface of the simulator (sim_control.h).
#include "sim/sim_control.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#include "sim/config_apply.h"
#include "sim/sim_state.h"

namespace {

tarnscsi::sim::SimState& Sim() { return tarnscsi::sim::TheSim(); }

constexpr int kLargestOpcode = 0xFF;

SimRequest ToSimRequest(const tarnscsi::sim::RequestRecord& record) {
    SimRequest out{};
    out.command = record.command;
    out.haId = record.haId;
    out.flags = record.flags;
    out.target = record.target;
    out.lun = record.lun;
    out.cdbLength = record.cdbLength;
    out.senseLength = record.senseLength;
    out.returned = record.returned;
    out.finalStatus = record.finalStatus;
    out.targetStatus = record.targetStatus;
    out.deviceTypeIn = record.deviceTypeIn;
    out.bufferLength = record.bufferLength;
    out.transferred = record.transferred;
    out.postProc = record.postProc;
    out.hadBuffer = record.hadBuffer ? 1 : 0;
    static_assert(sizeof out.cdb == sizeof record.cdb);
    std::memcpy(out.cdb, record.cdb, sizeof out.cdb);
    static_assert(sizeof out.dataOut == sizeof record.dataOut);
    out.dataOutLength = record.dataOutLength;
    std::memcpy(out.dataOut, record.dataOut, sizeof out.dataOut);
    return out;
}

}  // namespace

void SimReset(void) {
    Sim().manager.Reset();
    Sim().hooks.Clear();
    Sim().bus.Reset(tarnscsi::sim::TestBaselineSettings());
}

void SimClearBus(int adapterCount) {
    Sim().manager.WaitIdle();
    Sim().bus.Clear(adapterCount);
    Sim().manager.OverrideSupportWord(std::nullopt);
}

void SimSetSupportWord(uint32_t word) { Sim().manager.OverrideSupportWord(word); }

void SimPassShortTransfers(int on) { Sim().manager.ReportShortTransfers(on == 0); }

int SimAddDevice(int adapter, int target, int lun, uint8_t deviceType, const uint8_t* inquiry, uint32_t inquiryLength) {
    std::vector<uint8_t> data;
    if (inquiry != nullptr) {
        data.assign(inquiry, inquiry + inquiryLength);
    }
    return Sim().bus.AddPlainDevice(adapter, target, lun, deviceType, std::move(data)) ? 0 : -1;
}

int SimAddCamera(int adapter, int target, int lun) { return Sim().bus.AddCamera(adapter, target, lun) ? 0 : -1; }

void SimSetCompletion(int mode, uint32_t delayMicroseconds) {
    if (mode != SIM_IMMEDIATE && mode != SIM_PENDING) {
        return;
    }
    Sim().manager.SetCompletion(mode == SIM_PENDING ? tarnscsi::manager::CompletionMode::kPending
                                                    : tarnscsi::manager::CompletionMode::kImmediate,
                                std::chrono::microseconds{delayMicroseconds});
}

void SimAddFault(int opcode, uint32_t skip, uint32_t count, int kind) {
    const bool opcodeValid = opcode == SIM_ANY_OPCODE || (opcode >= 0 && opcode <= kLargestOpcode);
    if (!opcodeValid) {
        return;
    }
    Sim().hooks.faults.Add(opcode == SIM_ANY_OPCODE ? tarnscsi::sim::FaultRules::kAnyOpcode : opcode, skip, count,
                           tarnscsi::sim::FaultKindOf(kind));
}

void SimScriptReply(uint8_t opcode, const uint8_t* data, uint32_t length, uint32_t times) {
    Sim().bus.AddScript(opcode, data, length, times);
}

void SimSetTimeScale(double scale) { Sim().bus.SetTimeScale(scale); }

void SimSetManualClock(int on) { Sim().bus.SetManualClock(on != 0); }

void SimAdvanceClock(uint64_t microseconds) {
    // Beyond the clock's range a step is as good as the largest one.
    constexpr auto kLargest = static_cast<uint64_t>(std::numeric_limits<tarnscsi::sim::SimClock::Time::rep>::max());
    Sim().bus.AdvanceClock(tarnscsi::sim::SimClock::Time{
        static_cast<tarnscsi::sim::SimClock::Time::rep>(std::min(microseconds, kLargest))});
}

void SimSetImageKind(int kind) {
    switch (kind) {
        case SIM_IMAGE_PATTERN: Sim().bus.SetImageKind(tarnscsi::sim::ImageKind::kPattern); break;
        case SIM_IMAGE_SKY: Sim().bus.SetImageKind(tarnscsi::sim::ImageKind::kSky); break;
        case SIM_IMAGE_DARK: Sim().bus.SetImageKind(tarnscsi::sim::ImageKind::kDark); break;
        default: break;
    }
}

void SimSetCovered(int covered) { Sim().bus.SetCovered(covered != 0); }

void SimSetSeed(uint64_t seed) { Sim().bus.SetSeed(seed); }

void SimSetAmbient(int32_t tenths) { Sim().bus.SetAmbient(tenths); }

void SimSetCoolerLimits(int32_t maxDifferenceTenths, int32_t rateTenthsPerSecond) {
    Sim().bus.SetCoolerLimits(maxDifferenceTenths, rateTenthsPerSecond);
}

int SimConfigure(const char* text) {
    return tarnscsi::sim::ApplyConfigText(Sim(), text != nullptr ? text : "", "SimConfigure");
}

uint32_t SimLastImage(uint8_t* out, uint32_t capacity) { return Sim().bus.CopyLastImage(out, capacity); }

int32_t SimTemperature(void) { return Sim().bus.Temperature().value_or(0); }

uint32_t SimCoolerDrive(void) { return Sim().bus.CoolerDrive().value_or(0); }

uint32_t SimLastSense(uint8_t* out, uint32_t capacity) {
    const auto sense = Sim().bus.LastSense();
    const auto length = static_cast<uint32_t>(sense.size());
    if (out != nullptr && length > 0) {
        std::memcpy(out, sense.data(), std::min(length, capacity));
    }
    return length;
}

uint32_t SimLogCount(void) { return static_cast<uint32_t>(Sim().hooks.log.Count()); }

int SimLogGet(uint32_t index, SimRequest* out) {
    const auto record = Sim().hooks.log.Get(index);
    if (!record || out == nullptr) {
        return -1;
    }
    *out = ToSimRequest(*record);
    return 0;
}

void SimLogClear(void) { Sim().hooks.log.Clear(); }
