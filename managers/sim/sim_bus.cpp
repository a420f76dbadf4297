#include "sim/sim_bus.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/scsi_outcome.h"
#include "sim/camera.h"
#include "sim/cooler_store.h"
#include "sim/cdb.h"
#include "sim/firmware_rules.h"
#include "sim/plain_device.h"
#include "sim/target_rules.h"
#include "aspi.h"

namespace tarnscsi::sim {
namespace {

constexpr unsigned kAddressAdapterShift = 16;
constexpr unsigned kAddressTargetShift = 8;

}  // namespace

SimBus::SimBus() { Reset(StartupSettings()); }

void SimBus::Reset(const SimSettings& newSettings) {
    std::lock_guard lock(mutex);
    devices.clear();
    persisted.clear();
    scripts.Clear();
    lastSense.clear();
    settings = newSettings;
    adapterCount = kDefaultAdapterCount;
    devices.emplace(*AddressOf(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET, 0, adapterCount),
                    std::make_unique<SimCamera>(settings, scenes));
}

void SimBus::Clear(int adapters) {
    std::lock_guard lock(mutex);
    devices.clear();
    persisted.clear();
    adapterCount = std::clamp(adapters, 0, kMaxAdapters);
}

std::optional<SimBus::Address> SimBus::AddressOf(int adapter, int target, int lun, int adapterCount) {
    if (adapter < 0 || adapter >= adapterCount || target < 0 || target >= kMaxTargets || lun < 0 || lun >= kMaxLuns) {
        return std::nullopt;
    }
    return (static_cast<Address>(adapter) << kAddressAdapterShift) |
           (static_cast<Address>(target) << kAddressTargetShift) | static_cast<Address>(lun);
}

bool SimBus::Place(int adapter, int target, int lun, std::unique_ptr<SimDevice> device) {
    const auto address = AddressOf(adapter, target, lun, adapterCount);
    if (!address) {
        return false;
    }
    devices[*address] = std::move(device);
    return true;
}

bool SimBus::AddPlainDevice(int adapter, int target, int lun, std::uint8_t deviceType,
                            std::vector<std::uint8_t> inquiry) {
    std::lock_guard lock(mutex);
    return Place(adapter, target, lun, std::make_unique<PlainDevice>(deviceType, std::move(inquiry)));
}

bool SimBus::AddCamera(int adapter, int target, int lun) {
    std::lock_guard lock(mutex);
    return Place(adapter, target, lun, std::make_unique<SimCamera>(settings, scenes));
}

void SimBus::SetTimeScale(double scale) {
    std::lock_guard lock(mutex);
    settings.clock.SetScale(scale);
}

void SimBus::SetManualClock(bool on) {
    std::lock_guard lock(mutex);
    settings.clock.SetManual(on);
}

void SimBus::AdvanceClock(SimClock::Time by) {
    std::lock_guard lock(mutex);
    settings.clock.Advance(by);
}

void SimBus::SetImageKind(ImageKind kind) {
    std::lock_guard lock(mutex);
    settings.imageKind = kind;
}

void SimBus::SetCovered(bool covered) {
    std::lock_guard lock(mutex);
    settings.covered = covered;
}

void SimBus::SetSeed(std::uint64_t seed) {
    std::lock_guard lock(mutex);
    settings.seed = seed;
    settings.freshNoise = false;
    for (auto& [address, device] : devices) {
        if (SimCamera* camera = device->AsCamera()) {
            camera->RestartExposureCount();
        }
    }
}

void SimBus::SetAmbient(std::int32_t tenths) {
    std::lock_guard lock(mutex);
    settings.cooler.ambientTenths = std::clamp(tenths, kLowestAmbientTenths, kHighestAmbientTenths);
    for (auto& [address, device] : devices) {
        if (SimCamera* camera = device->AsCamera()) {
            camera->AmbientChanged();
        }
    }
}

void SimBus::SetCoolerLimits(std::int32_t maxDifferenceTenths, std::int32_t rateTenthsPerSecond) {
    std::lock_guard lock(mutex);
    settings.cooler.maxDifferenceTenths = std::clamp(maxDifferenceTenths, 1, kLargestCoolerDifferenceTenths);
    settings.cooler.rateTenthsPerSecond = std::clamp(rateTenthsPerSecond, 1, kFastestCoolerRateTenths);
}

void SimBus::ResetCameras(std::uint32_t attentions) {
    std::lock_guard lock(mutex);
    for (auto& [address, device] : devices) {
        if (SimCamera* camera = device->AsCamera()) {
            camera->PowerOnReset(attentions);
        }
    }
}

CoolerSpec SimBus::Cooler() {
    std::lock_guard lock(mutex);
    return settings.cooler;
}

void SimBus::ShareThrough(const std::filesystem::path& directory) {
    std::lock_guard lock(mutex);
    sharedDirectory = directory;
    settings.freshNoise = true;
    for (auto& [address, device] : devices) {
        if (SimCamera* camera = device->AsCamera()) {
            camera->RestartExposureCount();
        }
    }
}

std::filesystem::path SimBus::CoolerFile(Address address) const {
    return *sharedDirectory / CoolerFileName(static_cast<int>(address >> kAddressAdapterShift),
                                             static_cast<int>((address >> kAddressTargetShift) & 0xFF),
                                             static_cast<int>(address & 0xFF));
}

void SimBus::SaveCooler(Address address, SimCamera& camera) {
    tarnscsi::sim::SaveCooler(CoolerFile(address), {camera.Cooler(), std::chrono::system_clock::now()});
}

void SimBus::CameraClaimed(std::uint8_t adapter, std::uint8_t target) {
    std::lock_guard lock(mutex);
    const auto address = AddressOf(adapter, target, 0, adapterCount);
    SimDevice* device = Find(adapter, target, 0);
    if (!sharedDirectory || !address || device == nullptr || device->AsCamera() == nullptr) {
        return;
    }
    persisted.insert(*address);
    const auto stored = LoadCooler(CoolerFile(*address));
    if (!stored) {
        return;
    }
    // Real time passes for the cooler between processes; a manual clock
    // (tests) stands still, and a scaled one runs at its scale.
    double elapsed = 0.0;
    const auto since = std::chrono::system_clock::now() - stored->taken;
    if (!settings.clock.Manual() && settings.clock.Scale() > 0.0 && since.count() > 0) {
        elapsed = std::chrono::duration<double>(since).count() / settings.clock.Scale();
    }
    device->AsCamera()->RestoreCooler(stored->state, elapsed);
}

void SimBus::CameraReleased(std::uint8_t adapter, std::uint8_t target) {
    std::lock_guard lock(mutex);
    const auto address = AddressOf(adapter, target, 0, adapterCount);
    if (!address || persisted.erase(*address) == 0) {
        return;
    }
    if (SimDevice* device = Find(adapter, target, 0); device != nullptr && device->AsCamera() != nullptr) {
        SaveCooler(*address, *device->AsCamera());
    }
}

void SimBus::AddScript(std::uint8_t opcode, const std::uint8_t* data, std::uint32_t length, std::uint32_t times) {
    std::lock_guard lock(mutex);
    scripts.Add(opcode, data, length, times);
}

SimCamera* SimBus::FirstCamera() {
    for (auto& [address, device] : devices) {
        if (SimCamera* camera = device->AsCamera()) {
            return camera;
        }
    }
    return nullptr;
}

std::uint32_t SimBus::CopyLastImage(std::uint8_t* out, std::uint32_t capacity) {
    std::lock_guard lock(mutex);
    SimCamera* camera = FirstCamera();
    if (camera == nullptr) {
        return 0;
    }
    const std::vector<std::uint8_t>& image = camera->LastImage();
    const auto length = static_cast<std::uint32_t>(image.size());
    if (out != nullptr) {
        std::memcpy(out, image.data(), std::min(length, capacity));
    }
    return length;
}

std::optional<std::int32_t> SimBus::Temperature() {
    std::lock_guard lock(mutex);
    SimCamera* camera = FirstCamera();
    return camera != nullptr ? std::optional(camera->Temperature()) : std::nullopt;
}

std::optional<std::uint32_t> SimBus::CoolerDrive() {
    std::lock_guard lock(mutex);
    SimCamera* camera = FirstCamera();
    return camera != nullptr ? std::optional(camera->CoolerDrive()) : std::nullopt;
}

std::vector<std::uint8_t> SimBus::LastSense() {
    std::lock_guard lock(mutex);
    return lastSense;
}

std::uint8_t SimBus::AdapterCount() {
    std::lock_guard lock(mutex);
    return static_cast<std::uint8_t>(adapterCount);
}

SimDevice* SimBus::Find(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    const auto address = AddressOf(adapter, target, lun, adapterCount);
    if (!address) {
        return nullptr;
    }
    const auto found = devices.find(*address);
    return found != devices.end() ? found->second.get() : nullptr;
}

std::optional<std::uint8_t> SimBus::DeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    std::lock_guard lock(mutex);
    const SimDevice* device = Find(adapter, target, lun);
    return device != nullptr ? std::optional(device->DeviceType()) : std::nullopt;
}

tarnscsi::manager::ScsiOutcome SimBus::Execute(const tarnscsi::manager::ScsiCommand& command) {
    std::lock_guard lock(mutex);
    SimDevice* device = Find(command.adapter, command.target, command.lun);
    if (device == nullptr) {
        return tarnscsi::manager::SelectionTimeoutOutcome();
    }
    if (device->AsCamera() != nullptr && command.direction == tarnscsi::aspi::SRB_DIR_IN) {
        if (auto script = scripts.Take(command.cdb[cdb::kOpcode])) {
            return ScriptedReply(command, *script);
        }
    }
    tarnscsi::manager::ScsiOutcome outcome = device->Execute(command);
    if (command.cdb[cdb::kOpcode] == opcode::kModeSelect6 && outcome.srbStatus == tarnscsi::aspi::SS_COMP &&
        device->AsCamera() != nullptr) {
        const Address address = *AddressOf(command.adapter, command.target, command.lun, adapterCount);
        if (persisted.contains(address)) {
            SaveCooler(address, *device->AsCamera());
        }
    }
    if (outcome.targetStatus == tarnscsi::aspi::STATUS_CHKCOND) {
        lastSense.assign(outcome.sense.begin(), outcome.sense.begin() + outcome.senseLength);
    }
    return outcome;
}

tarnscsi::manager::ScsiOutcome SimBus::ScriptedReply(const tarnscsi::manager::ScsiCommand& command,
                                                     const std::vector<std::uint8_t>& data) {
    return DataIn(command, data.data(), static_cast<std::uint32_t>(data.size()), cdb::AllocationLength(command.cdb));
}

}  // namespace tarnscsi::sim