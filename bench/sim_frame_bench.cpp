// What simulating the camera costs, against what downloading a frame takes.
//
// 1. The simulated manager alone: a full frame delivered through
//    SendASPI32Command exactly as the module asks for it (SET WINDOW, SCAN,
//    TEST UNIT READY, GET WINDOW, READs of the module's length), at time
//    scale 0, so the figure is the simulator's own work: making the image
//    once and handing it out.
// 2. The module downloading a frame through its exports (Expose, Ready until
//    ready, Download): at time scale 0 (simulator plus module, no waiting),
//    and in real time as a user sees it (time scale 1: the camera reads a
//    full frame out for 1 s).
// Prints medians and the share the simulator's work takes of each.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "camera_commands.h"
#include "window_layout.h"
#include "big_endian.h"
#include "core/aspi_entry.h"
#include "sim/sim_control.h"
#include "aspi.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarnscsi::PutBE16;
using tarnscsi::PutBE32;
namespace w = tarnscsi::camera::window;

constexpr int kRuns = 25;
constexpr int kRealTimeRuns = 3;
constexpr std::int32_t kWidth = 768;
constexpr std::int32_t kHeight = 512;
constexpr double kPercent = 100.0;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs `command` on the default camera with `buffer`; true on SS_COMP.
bool Run(const tarnscsi::camera::CommandSpec& command, std::uint8_t* buffer, std::uint32_t length,
         std::uint32_t readLength = 0) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = SIM_DEFAULT_ADAPTER;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = command.direction;
    block.SRB_BufPointer = buffer;
    block.SRB_BufLen = length;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = command.cdbLength;
    std::copy(command.cdb.begin(), command.cdb.end(), block.CDBByte);
    if (readLength != 0) {
        PutBE16(block.CDBByte + tarnscsi::camera::kReadLengthOffset, readLength);
    }
    SendASPI32Command(&block);
    return block.SRB_Status == tarnscsi::aspi::SS_COMP;
}

std::vector<std::uint8_t> WindowList(bool binned) {
    std::vector<std::uint8_t> list(w::kLength, 0);
    PutBE16(&list[w::kDescriptorLength], w::kDescriptorLengthValue);
    list[w::kWindowId] = w::kWindowIdValue;
    const auto resolution = binned ? w::kResolutionBinned : w::kResolutionUnbinned;
    PutBE16(&list[w::kXResolution], resolution);
    PutBE16(&list[w::kYResolution], resolution);
    PutBE32(&list[w::kWidth], kWidth);
    PutBE32(&list[w::kHeight], kHeight);
    list[w::kImageComposition] = w::kImageCompositionValue;
    PutBE32(&list[w::kExposureTime], 60000);
    for (const auto& fixed : w::kFixedBytes) {
        list[fixed.offset] = fixed.value;
    }
    return list;
}

struct ManagerTimes {
    double made;       // SET WINDOW, SCAN and the TEST UNIT READY that makes the image
    double delivered;  // GET WINDOW and the READs
};

// One frame through the manager alone.
ManagerTimes ManagerFrame(bool binned, std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> list = WindowList(binned);
    std::uint8_t windowId = w::kWindowIdValue;
    const auto start = Clock::now();
    bool ok = Run(tarnscsi::camera::kSetWindow, list.data(), w::kLength) &&
              Run(tarnscsi::camera::kStartScan, &windowId, 1) && Run(tarnscsi::camera::kTestUnitReady, nullptr, 0);
    const auto made = Clock::now();
    ok = ok && Run(tarnscsi::camera::kGetWindow, list.data(), w::kLength);
    const auto total = static_cast<std::uint32_t>(image.size());
    for (std::uint32_t offset = 0; ok && offset < total;) {
        const std::uint32_t chunk = std::min(tarnscsi::camera::kMaxReadLength, total - offset);
        ok = Run(tarnscsi::camera::kReadImage, image.data() + offset, chunk, chunk);
        offset += chunk;
    }
    const auto delivered = Clock::now();
    if (!ok) {
        std::fprintf(stderr, "a command failed\n");
    }
    return {Milliseconds(made - start), Milliseconds(delivered - made)};
}

struct ManagerFigures {
    double made;
    double delivered;
    double Total() const { return made + delivered; }
};

ManagerFigures MeasureManager(int kind, bool binned) {
    SimReset();
    SimSetImageKind(kind);
    std::vector<std::uint8_t> image(std::size_t{kWidth} * kHeight * w::kBytesPerPixel / (binned ? 4 : 1));
    std::vector<double> made, delivered;
    for (int run = 0; run < kRuns; ++run) {
        const ManagerTimes t = ManagerFrame(binned, image);
        made.push_back(t.made);
        delivered.push_back(t.delivered);
    }
    return {Median(made), Median(delivered)};
}

// Expose, Ready until ready, Download through the module; returns the whole
// time and (in *download) the Download call alone.
double ModuleFrame(double* download) {
    std::vector<std::uint8_t> image(std::size_t{kWidth} * kHeight * w::kBytesPerPixel);
    const auto start = Clock::now();
    if (Expose(0, 0, 0, kWidth, kHeight, 0, 0) != 1) {
        std::fprintf(stderr, "Expose failed\n");
    }
    while (Ready() != 1) {}
    const auto ready = Clock::now();
    if (Download(image.data()) != 1) {
        std::fprintf(stderr, "Download failed\n");
    }
    const auto end = Clock::now();
    *download = Milliseconds(end - ready);
    return Milliseconds(end - start);
}

struct ModuleFigures {
    double whole;
    double download;
};

ModuleFigures MeasureModule(double timeScale, int runs) {
    SimReset();
    SimSetImageKind(SIM_IMAGE_SKY);
    SimSetTimeScale(timeScale);
    const char* error = nullptr;
    if (Connect(&error) != 1) {
        std::fprintf(stderr, "Connect: %s\n", error != nullptr ? error : "?");
        return {};
    }
    std::vector<double> whole, download;
    for (int run = 0; run < runs; ++run) {
        double d = 0;
        whole.push_back(ModuleFrame(&d));
        download.push_back(d);
    }
    Disconnect();
    return {Median(whole), Median(download)};
}

}  // namespace

int main() {
    std::printf("Simulated camera, full frame %d x %d, 60 s exposure, READs of %u bytes\n\n", kWidth, kHeight,
                tarnscsi::camera::kMaxReadLength);
    std::printf("Manager alone, time scale 0 (median of %d)     make image   deliver    total\n", kRuns);
    struct Case {
        const char* name;
        int kind;
        bool binned;
    };
    const Case cases[] = {{"sky, unbinned", SIM_IMAGE_SKY, false},
                          {"sky, binned 2 x 2", SIM_IMAGE_SKY, true},
                          {"dark, unbinned", SIM_IMAGE_DARK, false},
                          {"test pattern, unbinned", SIM_IMAGE_PATTERN, false}};
    ManagerFigures sky{};
    for (const Case& c : cases) {
        const ManagerFigures f = MeasureManager(c.kind, c.binned);
        if (c.kind == SIM_IMAGE_SKY && !c.binned) {
            sky = f;
        }
        std::printf("  %-42s %8.2f ms %7.2f ms %7.2f ms\n", c.name, f.made, f.delivered, f.Total());
    }

    const ModuleFigures instant = MeasureModule(0.0, kRuns);
    const ModuleFigures realTime = MeasureModule(1.0, kRealTimeRuns);
    std::printf("\nModule, sky, unbinned                          expose..downloaded   Download alone\n");
    std::printf("  time scale 0 (median of %2d)                  %10.2f ms %14.2f ms\n", kRuns, instant.whole,
                instant.download);
    std::printf("  real time, 1 s readout (median of %d)         %10.2f ms %14.2f ms\n", kRealTimeRuns, realTime.whole,
                realTime.download);
    std::printf("\nSimulator's work for a full frame: %.2f ms\n", sky.Total());
    std::printf("  share of the module's frame in real time:    %6.2f %%\n", kPercent * sky.Total() / realTime.whole);
    // At time scale 0 nothing waits, so the frame is nearly all simulator
    // work (the two medians come from separate runs).
    std::printf("  the module's whole frame at time scale 0:    %6.2f ms\n", instant.whole);
    return 0;
}
