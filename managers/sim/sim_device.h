// A device on the simulated bus: it reports a peripheral device type and
// runs SCSI commands addressed to it.
#pragma once

#include <cstdint>

#include "core/backend.h"

namespace tarnscsi::sim {

class SimCamera;

class SimDevice {
public:
    virtual ~SimDevice() = default;
    virtual std::uint8_t DeviceType() const = 0;
    virtual tarnscsi::manager::ScsiOutcome Execute(const tarnscsi::manager::ScsiCommand& command) = 0;
    virtual SimCamera* AsCamera() { return nullptr; }
};

}  // namespace tarnscsi::sim