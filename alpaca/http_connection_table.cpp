#include "http_connection_table.h"

#include <algorithm>

namespace tarnscsi::alpaca {

std::size_t ConnectionCapFor(std::size_t descriptorLimit) {
    if (descriptorLimit == 0) return kMostConnections;
    if (descriptorLimit < kDescriptorReserve + kFewestConnections) {
        return std::max(kFewestConnections, descriptorLimit / 2);
    }
    return std::min(kMostConnections, descriptorLimit - kDescriptorReserve);
}

ConnectionTable::Entry::Entry(ConnectionTable& owner, std::function<void()> close) : table(owner) {
    at = table.idle.insert(table.idle.end(), Record{this, std::move(close)});
}

ConnectionTable::Entry::~Entry() { table.ListOf(phase).erase(at); }

void ConnectionTable::Entry::Enter(Phase next) {
    if (phase == Phase::kDropped || next == Phase::kDropped) return;
    // To the end of its new phase's list: the front is the oldest there.
    auto& to = table.ListOf(next);
    to.splice(to.end(), table.ListOf(phase), at);
    phase = next;
}

std::size_t ConnectionTable::Count() const { return reading.size() + answering.size() + idle.size(); }

bool ConnectionTable::DropOne() {
    auto& from = !reading.empty() ? reading : idle;
    if (from.empty()) return false;
    const auto victim = from.begin();
    dropped.splice(dropped.end(), from, victim);
    victim->entry->phase = Phase::kDropped;
    victim->close();
    return true;
}

std::list<ConnectionTable::Record>& ConnectionTable::ListOf(Phase phase) {
    switch (phase) {
        case Phase::kReading: return reading;
        case Phase::kAnswering: return answering;
        case Phase::kIdle: return idle;
        case Phase::kDropped: break;
    }
    return dropped;
}

}  // namespace tarnscsi::alpaca
