#include "module_bench_support.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "window_layout.h"
#include "camera/window_list.h"
#include "big_endian.h"
#include <tarnscsi/tarnscsi.h>
#include "core/aspi_entry.h"
#include "sim/sim_control.h"
#include "aspi.h"

namespace tarnscsi::bench {

double Microseconds(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

double Quantile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double position = fraction * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(position));
    const auto above = static_cast<std::size_t>(std::ceil(position));
    const double weight = position - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * weight;
}

double Median(std::vector<double> values) { return Quantile(std::move(values), 0.5); }

const char* CompletionName(int mode) { return mode == SIM_PENDING ? "pending" : "immediate"; }

void Fail(const std::string& what) {
    std::fprintf(stderr, "benchmark stopped: %s\n", what.c_str());
    std::exit(1);
}

void ConnectOrFail() {
    const char* error = nullptr;
    if (Connect(&error) != 1) Fail(std::string("Connect failed: ") + (error ? error : "?"));
}

ExposureSettings FullFrame() {
    ExposureSettings settings;
    settings.width = kSensorWidth;
    settings.height = kSensorHeight;
    return settings;
}

void ExposeFullFrameAndWait() {
    const ExposureSettings frame = FullFrame();
    if (Expose(frame.exposureTime, 0, frame.binned, frame.width, frame.height, frame.originX, frame.originY) != 1) {
        Fail("Expose failed");
    }
    // Time scale 0: the exposure is over at once; the first TEST UNIT READY
    // also makes the simulator produce the image, outside any timing.
    constexpr int kMaxPolls = 1000;
    for (int poll = 0; Ready() != 1; ++poll) {
        if (poll == kMaxPolls) Fail("the camera never became ready");
    }
}

DirectCaller::DirectCaller() : event(CreateEventA(nullptr, 1, 0, nullptr)) {
    if (event == nullptr) Fail("no event for the direct caller");
}

DirectCaller::~DirectCaller() { CloseHandle(event); }

bool DirectCaller::Submit(void* block) {
    auto& request = *static_cast<tarnscsi::aspi::SRB_ExecSCSICmd*>(block);
    ResetEvent(event);
    if (SendASPI32Command(&request) == tarnscsi::aspi::SS_PENDING) WaitForSingleObject(event, INFINITE);
    return std::atomic_ref<tarnscsi::aspi::BYTE>(request.SRB_Status).load(std::memory_order_acquire) ==
           tarnscsi::aspi::SS_COMP;
}

bool DirectCaller::Send(const tarnscsi::camera::CommandSpec& command, std::uint8_t* buffer, std::uint32_t length) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = SIM_DEFAULT_ADAPTER;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = static_cast<tarnscsi::aspi::BYTE>(command.direction | tarnscsi::aspi::SRB_EVENT_NOTIFY);
    block.SRB_BufLen = length;
    block.SRB_BufPointer = buffer;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = command.cdbLength;
    block.SRB_PostProc = event;
    std::memcpy(block.CDBByte, command.cdb.data(), command.cdbLength);
    return Submit(&block);
}

bool DirectCaller::Expose(const ExposureSettings& settings) {
    tarnscsi::camera::EncodeWindow(settings, data);
    if (!Send(tarnscsi::camera::kSetWindow, data, tarnscsi::camera::window::kLength)) return false;
    data[0] = tarnscsi::camera::window::kWindowIdValue;
    Send(tarnscsi::camera::kStartScan, data, tarnscsi::camera::kStartScan.dataLength);
    return true;
}

bool DirectCaller::Ready() { return Send(tarnscsi::camera::kTestUnitReady, nullptr, 0); }

bool DirectCaller::ReadCooling() {
    return Send(tarnscsi::camera::kReadCoolingPage, data, tarnscsi::camera::cooling::kLength);
}

bool DirectCaller::GetWindow() { return Send(tarnscsi::camera::kGetWindow, data, tarnscsi::camera::window::kLength); }

bool DirectCaller::ReadImage(std::uint8_t* image, std::uint32_t total) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = SIM_DEFAULT_ADAPTER;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = tarnscsi::camera::kReadImage.cdbLength;
    block.SRB_PostProc = event;
    std::memcpy(block.CDBByte, tarnscsi::camera::kReadImage.cdb.data(), tarnscsi::camera::kReadImage.cdbLength);
    for (std::uint32_t offset = 0; offset < total;) {
        const std::uint32_t chunk = std::min(tarnscsi::camera::kMaxReadLength, total - offset);
        // The manager may have changed the flags and the statuses; a caller
        // sets what it sends before every request.
        block.SRB_Flags = tarnscsi::aspi::SRB_DIR_IN | tarnscsi::aspi::SRB_EVENT_NOTIFY;
        block.SRB_BufLen = chunk;
        block.SRB_BufPointer = image + offset;
        PutBE16(block.CDBByte + tarnscsi::camera::kReadLengthOffset, chunk);
        if (!Submit(&block)) return false;
        offset += chunk;
    }
    return true;
}

}  // namespace tarnscsi::bench