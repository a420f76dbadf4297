#include "sim/request_log.h"

namespace tarnscsi::sim {

std::optional<RequestLog::Ticket> RequestLog::Append(const RequestRecord& record) {
    std::lock_guard lock(mutex);
    if (entries.size() >= kCapacity) {
        return std::nullopt;
    }
    entries.push_back(record);
    return nextTicket++;
}

void RequestLog::Update(std::optional<Ticket> ticket, const std::function<void(RequestRecord&)>& change) {
    if (!ticket) {
        return;
    }
    std::lock_guard lock(mutex);
    if (*ticket < firstTicket) {
        return;
    }
    const auto index = static_cast<std::size_t>(*ticket - firstTicket);
    if (index < entries.size()) {
        change(entries[index]);
    }
}

std::size_t RequestLog::Count() const {
    std::lock_guard lock(mutex);
    return entries.size();
}

std::optional<RequestRecord> RequestLog::Get(std::size_t index) const {
    std::lock_guard lock(mutex);
    if (index >= entries.size()) {
        return std::nullopt;
    }
    return entries[index];
}

void RequestLog::Clear() {
    std::lock_guard lock(mutex);
    entries.clear();
    entries.shrink_to_fit();
    firstTicket = nextTicket;
}

}  // namespace tarnscsi::sim