// What the test build of the SCSI generic manager runs on: a fake sysfs
// and fake device nodes, with the simulated bus (the simulator's own camera
// and plain devices) answering every SG_IO request. The layout spreads the
// devices over three host adapters so that the module's search crosses
// adapters and an unopenable scanner before it finds the camera:
//
//   /dev/sg0  [0:0:0:0]  adapter 0, target 0  disk
//   /dev/sg1  [0:0:5:0]  adapter 0, target 5  scanner; open fails (EACCES)
//   /dev/sg3  [2:0:3:0]  adapter 1, target 3  tape
//   /dev/sg2  [2:1:2:0]  adapter 2, target 2  the camera
#pragma once

#include "sim/sim_bus.h"
#include "support/fake_sg_system.h"

namespace tarnscsi::sg_fake {

inline constexpr int kCameraAdapter = 2;
inline constexpr int kCameraTarget = 2;

struct Bench {
    explicit Bench(const std::filesystem::path& sysfsRoot);
    tarnscsi::sg_test::FakeSgSystem system;
    tarnscsi::sim::SimBus bus;
};

// Made on first use and never destroyed: the manager's worker may still
// carry a command while the process exits. Only the fake sysfs folder is
// removed at exit.
Bench& TheBench();

// Lays the simulated side out again (test baseline settings).
void ResetSimulatedBus(tarnscsi::sim::SimBus& bus);

}  // namespace tarnscsi::sg_fake