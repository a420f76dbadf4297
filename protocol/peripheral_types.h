// Names of the SCSI peripheral device types, one table for everything that
// shows or reads them: the bus scan prints them, the simulator's settings
// accept them.
#pragma once

#include <cstdint>

namespace tarnscsi {

struct PeripheralTypeName {
    std::uint8_t type;
    const char* name;
};

inline constexpr PeripheralTypeName kPeripheralTypeNames[] = {
    {0x00, "disk"},  {0x01, "tape"},       {0x02, "printer"}, {0x03, "processor"},   {0x04, "worm"},
    {0x05, "cdrom"}, {0x06, "scanner"},    {0x07, "optical"}, {0x08, "changer"},     {0x09, "comms"},
    {0x0C, "raid"},  {0x0D, "enclosure"},  {0x0E, "rbc"},     {0x0F, "card-reader"}, {0x10, "bridge"},
    {0x11, "osd"},   {0x12, "automation"},
};

// The name of `type`, or null for one without a name.
constexpr const char* PeripheralTypeNameOf(std::uint8_t type) {
    for (const PeripheralTypeName& entry : kPeripheralTypeNames) {
        if (entry.type == type) return entry.name;
    }
    return nullptr;
}

}  // namespace tarnscsi
