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

#include "sim/request_record.h"

namespace tarnscsi::sim {

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
    mutable std::mutex mutex;
    std::vector<RequestRecord> entries;
    Ticket firstTicket = 0;  // ticket of entries[0]
    Ticket nextTicket = 0;
};

}  // namespace tarnscsi::sim