// The simulated SCSI bus: host adapters, and devices at (adapter, target
// 0..15, lun 0..7). It is the backend of the simulator's ASPI manager; one
// lock serialises the module's requests and every change tests make.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "core/backend.h"
#include "sim/scripted_replies.h"
#include "sim/sim_clock.h"
#include "sim/sim_control.h"
#include "sim/sim_device.h"
#include "sim/sim_settings.h"
#include "sim/sky_scene.h"

namespace tarnscsi::sim {

inline constexpr int kDefaultAdapterCount = 1;
inline constexpr int kMaxAdapters = SIM_MAX_ADAPTERS;
inline constexpr int kMaxTargets = SIM_MAX_TARGETS;
inline constexpr int kMaxLuns = SIM_MAX_LUNS;

class SimBus : public tarnscsi::manager::Backend {
public:
    // The default bus with the start-up settings.
    SimBus();

    // One adapter with the camera at the default address, these settings,
    // no scripts, no sense data kept.
    void Reset(const SimSettings& settings);
    // No devices; `adapterCount` adapters (clamped to 0..255).
    void Clear(int adapterCount);

    // false for an address outside the bus. A device already there is replaced.
    bool AddPlainDevice(int adapter, int target, int lun, std::uint8_t deviceType, std::vector<std::uint8_t> inquiry);
    bool AddCamera(int adapter, int target, int lun);

    void SetTimeScale(double scale);
    void SetManualClock(bool on);
    void AdvanceClock(SimClock::Time by);
    void SetImageKind(ImageKind kind);
    void SetCovered(bool covered);
    // Also makes every camera's next exposure number 1 again.
    void SetSeed(std::uint64_t seed);
    // Clamped to the limits in cooling_model.h. Sensors with their cooler
    // off take the new ambient at once.
    void SetAmbient(std::int32_t tenths);
    void SetCoolerLimits(std::int32_t maxDifferenceTenths, std::int32_t rateTenthsPerSecond);
    // Resets every camera on the bus (SimCamera::PowerOnReset).
    void ResetCameras(std::uint32_t attentions);
    CoolerSpec Cooler();
    // Shares the cameras with the user's other processes through the files in
    // `directory`: fresh noise for every process (until a seed is given), and
    // the cooler state of a claimed camera carried over (below).
    void ShareThrough(const std::filesystem::path& directory);
    // A camera at (adapter, target, 0) was claimed: it takes over the cooler
    // state the last process left, evolved over the real time since, and
    // saves it whenever the setpoint changes. Nothing when not shared.
    void CameraClaimed(std::uint8_t adapter, std::uint8_t target);
    // Its claim ends: the state now is saved for the next process.
    void CameraReleased(std::uint8_t adapter, std::uint8_t target);

    void AddScript(std::uint8_t opcode, const std::uint8_t* data, std::uint32_t length, std::uint32_t times);

    // Readings of the first camera in bus order; nothing if there is none.
    // Copies at most `capacity` bytes of the last image (none for a null
    // `out`) and returns its full length; 0 without an image or a camera.
    std::uint32_t CopyLastImage(std::uint8_t* out, std::uint32_t capacity);
    std::optional<std::int32_t> Temperature();
    std::optional<std::uint32_t> CoolerDrive();
    // Sense data of the last command a device ended with CHECK CONDITION.
    std::vector<std::uint8_t> LastSense();

    std::uint8_t AdapterCount() override;
    std::optional<std::uint8_t> DeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) override;
    tarnscsi::manager::ScsiOutcome Execute(const tarnscsi::manager::ScsiCommand& command) override;

private:
    using Address = std::uint32_t;  // adapter, target, lun: ordered as the bus is scanned
    static std::optional<Address> AddressOf(int adapter, int target, int lun, int adapterCount);
    bool Place(int adapter, int target, int lun, std::unique_ptr<SimDevice> device);
    SimDevice* Find(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
    SimCamera* FirstCamera();
    std::filesystem::path CoolerFile(Address address) const;
    void SaveCooler(Address address, SimCamera& camera);
    tarnscsi::manager::ScsiOutcome ScriptedReply(const tarnscsi::manager::ScsiCommand& command,
                                                 const std::vector<std::uint8_t>& data);

    std::mutex mutex;
    int adapterCount = kDefaultAdapterCount;
    std::map<Address, std::unique_ptr<SimDevice>> devices;
    SimSettings settings;
    SceneCache scenes;
    ScriptedReplies scripts;
    std::vector<std::uint8_t> lastSense;
    std::optional<std::filesystem::path> sharedDirectory;
    std::set<Address> persisted;  // claimed cameras whose cooler state is saved
};

}  // namespace tarnscsi::sim