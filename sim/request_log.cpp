#include "sim/request_log.h"

namespace tarnscsi::sim {

std::optional<RequestLog::Ticket> RequestLog::Append(const RequestRecord& record) {
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kCapacity) {
        return std::nullopt;
    }
    entries_.push_back(record);
    return nextTicket_++;
}

void RequestLog::Update(std::optional<Ticket> ticket, const std::function<void(RequestRecord&)>& change) {
    if (!ticket) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (*ticket < firstTicket_) {
        return;
    }
    const auto index = static_cast<std::size_t>(*ticket - firstTicket_);
    if (index < entries_.size()) {
        change(entries_[index]);
    }
}

std::size_t RequestLog::Count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::optional<RequestRecord> RequestLog::Get(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= entries_.size()) {
        return std::nullopt;
    }
    return entries_[index];
}

void RequestLog::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    entries_.shrink_to_fit();
    firstTicket_ = nextTicket_;
}

}  // namespace tarnscsi::sim