// The control exports of the test build of the SCSI generic manager.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "fake_manager/fake_bench.h"
#include "fake_manager/sg_fake_control.h"
#include "sg/sg_state.h"
#include "sim/sim_control.h"

namespace {

tarnscsi::sg_fake::Bench& Bench() { return tarnscsi::sg_fake::TheBench(); }
tarnscsi::manager::AspiManager& Manager() { return tarnscsi::sg::TheSg().manager; }

}  // namespace

void SimReset(void) {
    Manager().Reset();
    tarnscsi::sg::UseSgCompletion(Manager());
    tarnscsi::sg_fake::ResetSimulatedBus(Bench().bus);
    Bench().system.ClearRecords();
}

void SimSetCompletion(int mode, uint32_t delayMicroseconds) {
    if (mode != SIM_IMMEDIATE && mode != SIM_PENDING) {
        return;
    }
    Manager().SetCompletion(mode == SIM_PENDING ? tarnscsi::manager::CompletionMode::kPending
                                                : tarnscsi::manager::CompletionMode::kImmediate,
                            std::chrono::microseconds{delayMicroseconds});
}

void SimSetTimeScale(double scale) { Bench().bus.SetTimeScale(scale); }

void SimSetManualClock(int on) { Bench().bus.SetManualClock(on != 0); }

void SimAdvanceClock(uint64_t microseconds) {
    constexpr auto kLargest = static_cast<uint64_t>(std::numeric_limits<tarnscsi::sim::SimClock::Time::rep>::max());
    Bench().bus.AdvanceClock(tarnscsi::sim::SimClock::Time{
        static_cast<tarnscsi::sim::SimClock::Time::rep>(std::min(microseconds, kLargest))});
}

void SimScriptReply(uint8_t opcode, const uint8_t* data, uint32_t length, uint32_t times) {
    Bench().bus.AddScript(opcode, data, length, times);
}

uint32_t SimLastImage(uint8_t* out, uint32_t capacity) { return Bench().bus.CopyLastImage(out, capacity); }

int32_t SimTemperature(void) { return Bench().bus.Temperature().value_or(0); }

uint32_t SimCoolerDrive(void) { return Bench().bus.CoolerDrive().value_or(0); }

uint32_t SgFakeIoCount(void) { return static_cast<uint32_t>(Bench().system.Records().size()); }

int SgFakeIoGet(uint32_t index, SgFakeIo* out) {
    const auto records = Bench().system.Records();
    if (out == nullptr || index >= records.size()) {
        return -1;
    }
    const tarnscsi::sg_test::IoRecord& record = records[index];
    *out = SgFakeIo{};
    record.node.copy(out->node, sizeof out->node - 1);
    out->direction = record.direction;
    out->cdbLength = static_cast<uint8_t>(std::min(record.cdb.size(), sizeof out->cdb));
    std::memcpy(out->cdb, record.cdb.data(), out->cdbLength);
    out->dataLength = record.dataLength;
    out->timeout = record.timeout;
    return 0;
}

void SgFakeIoClear(void) { Bench().system.ClearRecords(); }
