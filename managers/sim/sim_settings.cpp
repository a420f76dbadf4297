#include "sim/sim_settings.h"

namespace tarnscsi::sim {
namespace {

constexpr double kRealTime = 1.0;
constexpr double kInstant = 0.0;

}  // namespace

SimSettings StartupSettings() {
    SimSettings settings;
    settings.clock.SetScale(kRealTime);
    settings.imageKind = ImageKind::kSky;
    return settings;
}

SimSettings TestBaselineSettings() {
    SimSettings settings;
    settings.clock.SetScale(kInstant);
    settings.imageKind = ImageKind::kPattern;
    return settings;
}

}  // namespace tarnscsi::sim