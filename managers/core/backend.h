// What an ASPI manager of ours needs from the bus underneath it: how many
// adapters there are, what device answers at an address, and the execution of
// one SCSI command. The simulator and the SCSI generic manager each provide
// one implementation; request-block handling stays in AspiManager.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "scsi_sense.h"

namespace tarnscsi::manager {

// One SCSI command as the initiator asked for it. The command bytes and the
// data buffer belong to the caller and stay valid until Execute returns.
struct ScsiCommand {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLength = 0;
    std::uint8_t direction = 0;  // SRB_Flags masked to SRB_DIR_IN | SRB_DIR_OUT
    std::uint8_t* buffer = nullptr;
    std::uint32_t bufferLength = 0;
};

// How a command ended. srbStatus is what the request block reports.
struct ScsiOutcome {
    std::uint8_t srbStatus = 0;
    std::uint8_t hostStatus = 0;
    std::uint8_t targetStatus = 0;
    std::uint8_t senseLength = 0;  // valid bytes in sense
    std::array<std::uint8_t, tarnscsi::scsi::kFixedSenseLength> sense{};
    std::uint32_t transferred = 0;
};

class Backend {
public:
    virtual ~Backend() = default;

    // Number of host adapters on the bus (0..255).
    virtual std::uint8_t AdapterCount() = 0;

    // Peripheral device type at the address, or nothing when no device
    // answers there. The adapter is already known to exist.
    virtual std::optional<std::uint8_t> DeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) = 0;

    // Runs one command to completion, moving data to or from the buffer.
    // The adapter is already known to exist. May be called from the
    // completion worker thread.
    virtual ScsiOutcome Execute(const ScsiCommand& command) = 0;
};

}  // namespace tarnscsi::manager