// One request block as the simulator's request log keeps it: the block's
// fields as it arrived, and what became of it.
#pragma once

#include <cstdint>

namespace tarnscsi::sim {

struct RequestRecord {
    std::uint8_t command = 0;
    std::uint8_t haId = 0;
    std::uint8_t flags = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::uint8_t cdbLength = 0;
    std::uint8_t senseLength = 0;
    std::uint8_t returned = 0;
    std::uint8_t finalStatus = 0;
    std::uint8_t targetStatus = 0;
    std::uint8_t deviceTypeIn = 0;
    std::uint32_t bufferLength = 0;
    std::uint32_t transferred = 0;
    std::uint64_t postProc = 0;
    bool hadBuffer = false;
    std::uint8_t cdb[16] = {};
    std::uint32_t dataOutLength = 0;
    std::uint8_t dataOut[256] = {};
};

// The fields of a block as it arrived, read as the kind its SRB_Cmd names
// (execute, get-device-type; any other kind: the 8-byte header only). For
// an execute block that moves data out, the first bytes of the data too.
RequestRecord RecordOf(const void* block);

}  // namespace tarnscsi::sim