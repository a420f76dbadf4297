// The simulated camera: a well-behaved SCSI scanner-class target that takes
// exactly the commands of the module's command table, checks every byte it
// can (a rejected command's sense data points at the field in error), and
// answers from its window, exposure and cooling models.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/cooling_model.h"
#include "sim/exposure.h"
#include "sim/sim_device.h"
#include "sim/sim_settings.h"
#include "sim/sky_scene.h"
#include "sim/target_rules.h"
#include "sim/window_params.h"

namespace tarnscsi::sim {

class SimCamera : public SimDevice {
public:
    SimCamera(const SimSettings& settings, SceneCache& scenes);

    std::uint8_t DeviceType() const override;
    ScsiOutcome Execute(const ScsiCommand& command) override;
    SimCamera* AsCamera() override { return this; }

    const std::vector<std::uint8_t>& LastImage() { return exposure.LastImage(); }
    std::int32_t Temperature() { return cooling.Temperature(); }
    std::uint32_t CoolerDrive() { return cooling.Drive(); }

    // The next exposure is number 1 again (the noise of its image repeats),
    // or a random number when the settings ask for fresh noise.
    void RestartExposureCount();
    CoolerState Cooler() { return cooling.State(); }
    void RestoreCooler(const CoolerState& saved, double elapsedSeconds) { cooling.Restore(saved, elapsedSeconds); }
    void AmbientChanged() { cooling.AmbientChanged(); }
    // A reset, as at power-on: the window and any exposure are forgotten (the
    // cooler keeps going), and the next `attentions` commands other than
    // INQUIRY are answered with UNIT ATTENTION, one each.
    void PowerOnReset(std::uint32_t attentions);

    // Handlers, each given a command already checked for shape and bytes and
    // its data length.
    ScsiOutcome TestUnitReady(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome Inquiry(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome ModeSelect(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome ModeSense(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome SetWindow(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome Scan(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome GetWindow(const ScsiCommand& command, std::uint32_t length);
    ScsiOutcome Read(const ScsiCommand& command, std::uint32_t length);

private:
    const SimSettings& settings;
    bool windowSet = false;
    Window window;
    WindowList windowList;
    Exposure exposure;
    std::uint64_t exposureCount = 0;
    std::uint32_t pendingAttentions = 0;
    CoolingModel cooling;
};

}  // namespace tarnscsi::sim