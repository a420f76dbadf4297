// The record of every request block a manager received, in arrival order,
// with what became of it. Tests read it to see exactly what the module sent.
// The log keeps the first kCapacity entries after a clear and drops later
// ones, so a process that sends requests for hours cannot exhaust memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace aspi_mgr {

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

class RequestLog {
public:
    static constexpr std::size_t kCapacity = 65536;

    // Identifies one appended entry for later updates; stays meaningful
    // across Clear (updates to a cleared entry are dropped).
    using Ticket = std::uint64_t;

    // Appends a record; returns nothing when the log is full.
    std::optional<Ticket> Append(const RequestRecord& record);

    // Changes an entry if it is still in the log.
    void Update(std::optional<Ticket> ticket, const std::function<void(RequestRecord&)>& change);

    std::size_t Count() const;
    std::optional<RequestRecord> Get(std::size_t index) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<RequestRecord> entries_;
    Ticket firstTicket_ = 0;  // ticket of entries_[0]
    Ticket nextTicket_ = 0;
};

}  // namespace aspi_mgr
