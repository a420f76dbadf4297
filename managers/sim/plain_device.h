// A device that does nothing but identify itself: INQUIRY returns exactly
// the bytes it was given, TEST UNIT READY is good, everything else is an
// invalid command. Tests use it for look-alikes and odd INQUIRY answers.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_device.h"

namespace tarnscsi::sim {

class PlainDevice : public SimDevice {
public:
    PlainDevice(std::uint8_t deviceType, std::vector<std::uint8_t> inquiry);

    std::uint8_t DeviceType() const override { return deviceType; }
    tarnscsi::manager::ScsiOutcome Execute(const tarnscsi::manager::ScsiCommand& command) override;

private:
    std::uint8_t deviceType;
    std::vector<std::uint8_t> inquiry;
};

}  // namespace tarnscsi::sim