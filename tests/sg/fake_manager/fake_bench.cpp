#include "fake_manager/fake_bench.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "sim/sim_settings.h"
#include "support/fake_sysfs.h"

namespace tarnscsi::sg_fake {
namespace {

constexpr std::uint8_t kDiskType = 0;
constexpr std::uint8_t kTapeType = 1;
constexpr int kScannerType = 6;
constexpr std::size_t kInquiryLength = 36;
constexpr std::size_t kVendorOffset = 8;
constexpr std::size_t kProductOffset = 16;
constexpr std::size_t kProductLength = 16;
constexpr std::uint8_t kResponseFormat = 2;
constexpr std::size_t kResponseFormatOffset = 3;
constexpr std::size_t kAdditionalLengthOffset = 4;

// Where each device sits on the simulated bus (one adapter there).
constexpr int kSimDiskTarget = 0;
constexpr int kSimCameraTarget = 2;
constexpr int kSimTapeTarget = 3;

std::vector<std::uint8_t> Inquiry(std::uint8_t type, const std::string& vendor, const std::string& product) {
    std::vector<std::uint8_t> data(kInquiryLength, ' ');
    std::fill(data.begin(), data.begin() + kVendorOffset, 0);
    data[0] = type;
    data[kResponseFormatOffset] = kResponseFormat;
    data[kAdditionalLengthOffset] = static_cast<std::uint8_t>(kInquiryLength - kAdditionalLengthOffset - 1);
    vendor.copy(reinterpret_cast<char*>(data.data() + kVendorOffset), kProductOffset - kVendorOffset);
    product.copy(reinterpret_cast<char*>(data.data() + kProductOffset), kProductLength);
    return data;
}

// Destroyed at exit, which removes its folder.
tarnscsi::sg_test::FakeSysfs& Sysfs() {
    static tarnscsi::sg_test::FakeSysfs sysfs;
    return sysfs;
}

}  // namespace

Bench::Bench(const std::filesystem::path& sysfsRoot) : system(sysfsRoot) {
    ResetSimulatedBus(bus);
    system.Attach("/dev/sg0", tarnscsi::sg_test::BusHandler(bus, 0, kSimDiskTarget, 0));
    system.RefuseOpen("/dev/sg1", EACCES);
    system.Attach("/dev/sg2", tarnscsi::sg_test::BusHandler(bus, 0, kSimCameraTarget, 0));
    system.Attach("/dev/sg3", tarnscsi::sg_test::BusHandler(bus, 0, kSimTapeTarget, 0));
}

void ResetSimulatedBus(tarnscsi::sim::SimBus& bus) {
    bus.Reset(tarnscsi::sim::TestBaselineSettings());
    bus.Clear(1);
    bus.AddPlainDevice(0, kSimDiskTarget, 0, kDiskType, Inquiry(kDiskType, "TARNTEST", "Fake disk"));
    bus.AddCamera(0, kSimCameraTarget, 0);
    bus.AddPlainDevice(0, kSimTapeTarget, 0, kTapeType, Inquiry(kTapeType, "TARNTEST", "Fake tape"));
}

Bench& TheBench() {
    static Bench* const bench = [] {
        tarnscsi::sg_test::FakeSysfs& sysfs = Sysfs();
        sysfs.AddDevice("sg0", "0:0:0:0", kDiskType);
        sysfs.AddDevice("sg1", "0:0:5:0", kScannerType);
        sysfs.AddDevice("sg2", "2:1:2:0", kScannerType);
        sysfs.AddDevice("sg3", "2:0:3:0", kTapeType);
        return new Bench(sysfs.Root());
    }();
    return *bench;
}

}  // namespace tarnscsi::sg_fake