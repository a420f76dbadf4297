#include "sim/config_apply.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/camera_inquiry.h"
#include "sim/sim_config.h"

namespace tarnscsi::sim {
namespace {

constexpr char kReporter[] = "tarnscsi simulator";
constexpr char kDeviceVendor[] = "TARNSIM";
constexpr char kDeviceProduct[] = "SIM DEVICE";
constexpr char kDeviceRevision[] = "1.00";

void ApplySettings(SimBus& bus, const SimConfig& config) {
    if (config.seed) {
        bus.SetSeed(*config.seed);
    }
    if (config.timeScale) {
        bus.SetTimeScale(*config.timeScale);
    }
    if (config.image) {
        bus.SetImageKind(*config.image);
    }
    if (config.covered) {
        bus.SetCovered(*config.covered);
    }
    if (config.ambientTenths) {
        bus.SetAmbient(*config.ambientTenths);
    }
    if (config.coolerDifferenceTenths || config.coolerRateTenthsPerSecond) {
        const CoolerSpec current = bus.Cooler();
        bus.SetCoolerLimits(config.coolerDifferenceTenths.value_or(current.maxDifferenceTenths),
                            config.coolerRateTenthsPerSecond.value_or(current.rateTenthsPerSecond));
    }
}

void LayOutBus(SimState& state, const SimConfig& config) {
    state.manager.WaitIdle();
    state.bus.Clear(config.adapters.value_or(kDefaultAdapterCount));
    state.manager.OverrideSupportWord(std::nullopt);
    if (config.cameras.empty()) {
        state.bus.AddCamera(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET, 0);
    }
    for (const DeviceAddress& camera : config.cameras) {
        state.bus.AddCamera(camera.adapter, camera.target, camera.lun);
    }
    for (const DeviceSpec& device : config.devices) {
        const InquiryData inquiry = StandardInquiry(
            device.type, kDeviceVendor, device.product.empty() ? kDeviceProduct : device.product, kDeviceRevision);
        state.bus.AddPlainDevice(device.address.adapter, device.address.target, device.address.lun, device.type,
                                 std::vector<std::uint8_t>(inquiry.begin(), inquiry.end()));
    }
}

void ApplyRequestHandling(SimState& state, const SimConfig& config) {
    for (const FaultSpec& fault : config.faults) {
        state.hooks.faults.Add(fault.opcode == SIM_ANY_OPCODE ? FaultRules::kAnyOpcode : fault.opcode, fault.skip,
                               fault.count, FaultKindOf(fault.kind));
    }
    tarnscsi::manager::AspiManager& manager = state.manager;
    if (config.completion) {
        manager.SetCompletion(config.completion->pending ? tarnscsi::manager::CompletionMode::kPending
                                                         : tarnscsi::manager::CompletionMode::kImmediate,
                              std::chrono::microseconds{config.completion->delayMicroseconds});
    }
}

}  // namespace

int ApplyConfigText(SimState& state, std::string_view text, std::string_view source) {
    const ParsedConfig parsed = ParseSimConfig(text);
    for (const std::string& problem : parsed.problems) {
        std::fprintf(stderr, "%s: %.*s: %s\n", kReporter, static_cast<int>(source.size()), source.data(),
                     problem.c_str());
    }
    ApplySettings(state.bus, parsed.config);
    if (parsed.config.LaysOutBus()) {
        LayOutBus(state, parsed.config);
    }
    ApplyRequestHandling(state, parsed.config);
    // After the layout, so that the cameras it places are reset too.
    if (parsed.config.unitAttentions) {
        state.bus.ResetCameras(*parsed.config.unitAttentions);
    }
    return static_cast<int>(parsed.problems.size());
}

void ApplyEnvironmentConfig(SimState& state) {
    if (const char* text = std::getenv(kConfigVariable)) {
        ApplyConfigText(state, text, kConfigVariable);
    }
}

}  // namespace tarnscsi::sim