// Heap use of the exports after Connect. This program stands in for the C
// library's allocator entry points (every library in the process, the
// module, the simulated manager and the C++ runtime, allocates through
// them), counts allocations and follows the live heap and its peak. Each
// export is measured beside the same requests sent straight to the manager,
// since the simulator allocates too (its request records, its image, its
// pending-request queue). While a call is measured every allocation's stack
// is also walked: one whose innermost frame in either library lies in the
// module, not the manager, is the module's own.
#include <execinfo.h>
#include <link.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "module_bench_support.h"
#include "sim/sim_control.h"

// ---- Counting allocator -----------------------------------------------------

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<std::uint64_t> allocationCount{0};
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

// Where the module and the manager are mapped, and the count of the
// module's own allocations while attribution is on.
struct Range {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    bool Contains(std::uintptr_t address) const { return address >= begin && address < end; }
};
Range moduleText;
Range managerText;
std::atomic<bool> attributing{false};
std::atomic<std::uint64_t> moduleAllocationCount{0};
thread_local bool walking = false;

constexpr int kMaxFrames = 32;

void AttributeToCaller() {
    if (walking) return;  // the unwinder's own needs, if any
    walking = true;
    void* frames[kMaxFrames];
    const int depth = backtrace(frames, kMaxFrames);
    for (int i = 0; i < depth; ++i) {
        const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
        if (managerText.Contains(address)) break;
        if (moduleText.Contains(address)) {
            moduleAllocationCount.fetch_add(1, std::memory_order_relaxed);
            break;
        }
    }
    walking = false;
}

void Allocated(void* pointer) {
    if (pointer == nullptr) return;
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (attributing.load(std::memory_order_relaxed)) AttributeToCaller();
    const auto size = static_cast<std::int64_t>(malloc_usable_size(pointer));
    const std::int64_t live = liveBytes.fetch_add(size, std::memory_order_relaxed) + size;
    std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {}
}

void Released(void* pointer) {
    if (pointer == nullptr) return;
    liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(pointer)), std::memory_order_relaxed);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) noexcept {
    void* pointer = __libc_malloc(size);
    Allocated(pointer);
    return pointer;
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    void* pointer = __libc_calloc(count, size);
    Allocated(pointer);
    return pointer;
}

void* realloc(void* old, std::size_t size) noexcept {
    Released(old);
    void* pointer = __libc_realloc(old, size);
    if (pointer == nullptr && old != nullptr && size != 0) {
        // Failed: the old block is still there.
        liveBytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(old)), std::memory_order_relaxed);
        return nullptr;
    }
    Allocated(pointer);
    return pointer;
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    void* pointer = __libc_memalign(alignment, size);
    Allocated(pointer);
    return pointer;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept { return memalign(alignment, size); }

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    void* pointer = memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}

void* valloc(std::size_t size) noexcept {
    void* pointer = __libc_valloc(size);
    Allocated(pointer);
    return pointer;
}

void* pvalloc(std::size_t size) noexcept {
    void* pointer = __libc_pvalloc(size);
    Allocated(pointer);
    return pointer;
}

void free(void* pointer) noexcept {
    Released(pointer);
    __libc_free(pointer);
}

}  // extern "C"

// ---- Measurement ------------------------------------------------------------

namespace {

constexpr int kRounds = 51;
// More requests than the simulator's request log holds (65536): once it is
// full it stops growing, so its own allocations do not blur the counts.
constexpr int kLogFillingRequests = 66000;

// The executable segments of the shared object whose path contains `name`.
Range TextOf(const char* name) {
    struct Search {
        const char* name;
        Range range;
    } search{name, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* wanted = static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, wanted->name) == nullptr) return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
                const std::uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
                wanted->range = {begin, begin + segment.p_memsz};
            }
            return 1;
        },
        &search);
    return search.range;
}

struct HeapUse {
    std::uint64_t allocations = 0;
    std::uint64_t moduleAllocations = 0;  // made by the module's own code
    std::int64_t peakAbove = 0;           // highest live heap during the call, above its start
};

HeapUse Track(const std::function<void()>& call) {
    const std::uint64_t count = allocationCount.load();
    const std::uint64_t moduleCount = moduleAllocationCount.load();
    const std::int64_t start = liveBytes.load();
    peakBytes.store(start);
    attributing.store(true);
    call();
    attributing.store(false);
    return {allocationCount.load() - count, moduleAllocationCount.load() - moduleCount, peakBytes.load() - start};
}

struct Row {
    const char* name;
    std::vector<double> allocations, floorAllocations, moduleAllocations, peak, floorPeak;
};

void Add(Row& row, const HeapUse& module, const HeapUse& floor) {
    row.allocations.push_back(static_cast<double>(module.allocations));
    row.floorAllocations.push_back(static_cast<double>(floor.allocations));
    row.moduleAllocations.push_back(static_cast<double>(module.moduleAllocations));
    row.peak.push_back(static_cast<double>(module.peakAbove));
    row.floorPeak.push_back(static_cast<double>(floor.peakAbove));
}

void Expect(bool ok, const char* what) {
    if (!ok) tarnscsi::bench::Fail(std::string(what) + " failed");
}

double Max(const std::vector<double>& values) { return tarnscsi::bench::Quantile(values, 1.0); }

// The most allocations the module's own code made in any single call.
double worstModuleAllocations = 0;

void Print(int mode, const Row& row) {
    worstModuleAllocations = std::max(worstModuleAllocations, Max(row.moduleAllocations));
    std::printf("%-10s %-15s %8.0f %8.0f %10.0f %12.0f %12.0f\n", tarnscsi::bench::CompletionName(mode), row.name,
                tarnscsi::bench::Median(row.allocations), tarnscsi::bench::Median(row.floorAllocations),
                Max(row.moduleAllocations), tarnscsi::bench::Median(row.peak), tarnscsi::bench::Median(row.floorPeak));
}

void Measure(int mode) {
    SimReset();
    tarnscsi::bench::ConnectOrFail();
    for (int i = 0; i < kLogFillingRequests; ++i) Ready();
    SimSetCompletion(mode, 0);

    tarnscsi::bench::DirectCaller direct;
    const ExposureSettings frame = tarnscsi::bench::FullFrame();
    std::vector<std::uint8_t> image(tarnscsi::bench::kFullFrameBytes);
    int32_t coolingByte = 0;

    Row expose{"Expose", {}, {}, {}, {}, {}};
    Row ready{"Ready", {}, {}, {}, {}, {}};
    Row download{"Download", {}, {}, {}, {}, {}};
    Row cooling{"GetCoolingInfo", {}, {}, {}, {}, {}};
    for (int round = 0; round < kRounds; ++round) {
        const HeapUse moduleExpose = Track([&] {
            Expect(Expose(frame.exposureTime, 0, frame.binned, frame.width, frame.height, frame.originX,
                          frame.originY) == 1,
                   "Expose");
        });
        // The first TEST UNIT READY after SCAN makes the simulator produce
        // its image; that one stays outside the figures.
        Expect(direct.Ready(), "TEST UNIT READY");
        const HeapUse moduleReady = Track([&] { Expect(Ready() == 1, "Ready"); });
        const HeapUse floorReady = Track([&] { Expect(direct.Ready(), "TEST UNIT READY"); });
        const HeapUse moduleDownload = Track([&] { Expect(Download(image.data()) == 1, "Download"); });
        const HeapUse moduleCooling =
            Track([&] { Expect(GetCoolingInfo(&coolingByte) != TARNSCSI_NO_READING, "GetCoolingInfo"); });
        const HeapUse floorCooling = Track([&] { Expect(direct.ReadCooling(), "MODE SENSE"); });

        const HeapUse floorExpose = Track([&] { Expect(direct.Expose(frame), "SET WINDOW"); });
        Expect(direct.Ready(), "TEST UNIT READY");
        const HeapUse floorDownload = Track([&] {
            Expect(direct.GetWindow() && direct.ReadImage(image.data(), tarnscsi::bench::kFullFrameBytes),
                   "direct download");
        });

        Add(expose, moduleExpose, floorExpose);
        Add(ready, moduleReady, floorReady);
        Add(download, moduleDownload, floorDownload);
        Add(cooling, moduleCooling, floorCooling);
    }
    for (const Row* row : {&expose, &ready, &download, &cooling}) Print(mode, *row);
    Disconnect();
}

void MeasureConnect() {
    SimReset();
    tarnscsi::bench::ConnectOrFail();  // the first one in the process also loads what stays loaded
    for (int i = 0; i < kLogFillingRequests; ++i) Ready();
    Disconnect();
    const std::int64_t before = liveBytes.load();
    const HeapUse connect = Track([] { tarnscsi::bench::ConnectOrFail(); });
    const std::int64_t held = liveBytes.load() - before;
    Disconnect();
    std::printf(
        "Connect (default bus): %llu allocations (%llu by the module), peak %lld bytes above its start;\n"
        "the connection holds %lld bytes, and after Disconnect %lld bytes remain\n",
        static_cast<unsigned long long>(connect.allocations),
        static_cast<unsigned long long>(connect.moduleAllocations), static_cast<long long>(connect.peakAbove),
        static_cast<long long>(held), static_cast<long long>(liveBytes.load() - before));
}

std::string PeakResidentSet() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 6));
    }
    return "?";
}

}  // namespace

int main() {
    moduleText = TextOf("libtarnscsi.so");
    managerText = TextOf("libwnaspi32.so");
    if (moduleText.begin == 0 || managerText.begin == 0) tarnscsi::bench::Fail("module or manager not found in memory");
    void* frame[1];
    backtrace(frame, 1);  // loads the unwinder before anything is measured

    std::printf("Heap use per export call after Connect (%d rounds; full frame 768 x 512)\n", kRounds);
    std::printf(
        "allocs: median per call, all libraries; floor: the same requests sent straight to the\n"
        "manager; by module: most made by the module's own code in any call; peak: median highest\n"
        "live heap during the call above its start, bytes.\n\n");
    std::printf("%-10s %-15s %8s %8s %10s %12s %12s\n", "completion", "export", "allocs", "floor", "by module", "peak",
                "floor peak");
    Measure(SIM_IMMEDIATE);
    Measure(SIM_PENDING);
    std::printf("\ntarget: 0 allocations per command of the module after Connect: %s\n\n",
                worstModuleAllocations == 0 ? "met" : "NOT met");
    MeasureConnect();
    std::printf("process peak resident set: %s\n", PeakResidentSet().c_str());
    SimReset();
    return 0;
}
