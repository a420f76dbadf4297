// The shared simulated camera's cooler state between processes: one small
// text file per camera address in the shared directory, read and written
// under an flock of that file. It holds the cooler's state and the wall-clock
// time it was taken, so that a later process lets it evolve over the real
// time since.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "sim/cooling_model.h"

namespace tarnscsi::sim {

struct StoredCooler {
    CoolerState state;
    std::chrono::system_clock::time_point taken;
};

// "camera-A-T-L.state".
std::string CoolerFileName(int adapter, int target, int lun);

// Nothing when there is no file yet or it cannot be read.
std::optional<StoredCooler> LoadCooler(const std::filesystem::path& file);
void SaveCooler(const std::filesystem::path& file, const StoredCooler& stored);

}  // namespace tarnscsi::sim
