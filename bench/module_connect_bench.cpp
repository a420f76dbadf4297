// How long Connect takes to find the camera on the largest bus it searches
// in practice: 16 adapters of 8 targets, the camera on the very last address
// (adapter 15, target 7). Two layouts: every other address empty (one
// get-device-type request each), and every other address a scanner that is
// not our camera (each also answers an INQUIRY), the worst case. Both
// completion modes; the default bus (camera at adapter 0, target 2) is the
// baseline.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "module_bench_support.h"
#include "sim/sim_control.h"

namespace {

using tarnscsi::bench::Clock;

constexpr int kRounds = 201;
constexpr int kAdapters = 16;
constexpr int kTargets = 8;
constexpr int kLastAdapter = kAdapters - 1;
constexpr int kLastTarget = kTargets - 1;
constexpr std::uint8_t kScannerType = 6;

enum class Layout { kDefault, kEmptyBus, kOtherScanners };

const char* LayoutName(Layout layout) {
    switch (layout) {
        case Layout::kDefault: return "default bus, camera 0/2";
        case Layout::kEmptyBus: return "16 x 8, camera last, rest empty";
        case Layout::kOtherScanners: return "16 x 8, camera last, rest scanners";
    }
    return "?";
}

// A standard 36-byte INQUIRY answer of a scanner that is not our camera.
std::vector<std::uint8_t> OtherScannerInquiry() {
    std::vector<std::uint8_t> data(36, ' ');
    data[0] = kScannerType;
    data[1] = data[2] = data[3] = 0;
    data[4] = 31;  // additional length: a 36-byte answer
    data[5] = data[6] = data[7] = 0;
    const std::string product = "FLATBED 600";
    std::copy(product.begin(), product.end(), data.begin() + 16);
    return data;
}

void LayOut(Layout layout) {
    if (layout == Layout::kDefault) return;
    SimClearBus(kAdapters);
    const std::vector<std::uint8_t> other = OtherScannerInquiry();
    for (int adapter = 0; adapter < kAdapters; ++adapter) {
        for (int target = 0; target < kTargets; ++target) {
            if (adapter == kLastAdapter && target == kLastTarget) {
                SimAddCamera(adapter, target, 0);
            } else if (layout == Layout::kOtherScanners) {
                SimAddDevice(adapter, target, 0, kScannerType, other.data(), static_cast<std::uint32_t>(other.size()));
            }
        }
    }
}

void Run(Layout layout, int mode) {
    SimReset();
    SimSetCompletion(mode, 0);
    LayOut(layout);

    // One untimed connection checks where the camera was found and counts
    // the requests one search sends.
    SimLogClear();
    tarnscsi::bench::ConnectOrFail();
    const std::uint32_t requests = SimLogCount();
    Disconnect();

    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        const char* error = nullptr;
        const auto start = Clock::now();
        const int32_t ok = Connect(&error);
        const auto end = Clock::now();
        if (ok != 1) tarnscsi::bench::Fail(std::string("Connect failed: ") + (error ? error : "?"));
        times.push_back(tarnscsi::bench::Microseconds(end - start));
        Disconnect();
        SimLogClear();
    }
    const double median = tarnscsi::bench::Median(times);
    std::printf("%-36s %-10s %9u %12.1f %12.2f %10.1f %10.1f\n", LayoutName(layout),
                tarnscsi::bench::CompletionName(mode), requests, median, median / requests,
                tarnscsi::bench::Quantile(times, 0.1), tarnscsi::bench::Quantile(times, 0.9));
}

}  // namespace

int main() {
    std::printf("Connect: median time to load the manager, make the event and find the camera\n");
    std::printf("(%d rounds each; times in microseconds)\n\n", kRounds);
    std::printf("%-36s %-10s %9s %12s %12s %10s %10s\n", "bus", "completion", "requests", "median", "per request",
                "p10", "p90");
    for (Layout layout : {Layout::kDefault, Layout::kEmptyBus, Layout::kOtherScanners}) {
        for (int mode : {SIM_IMMEDIATE, SIM_PENDING}) Run(layout, mode);
    }
    SimReset();
    return 0;
}
