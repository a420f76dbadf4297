// The HTTP server's connections and their cap. Each connection costs a
// descriptor, and the process has a limit: the cap keeps kDescriptorReserve
// of them for the camera, its files and the listening sockets. A connection
// is reading a request (from its first byte until it is whole), answering
// one (on a worker, or writing the answer), or idle (waiting for the next
// request, or lingering after an error). To make room for a new one the
// table drops the connection that has been inside one request longest (a
// client sending slowly), else the one idle longest; one being answered is
// never dropped. So a crowd of slow or silent clients cannot keep out a
// client whose request arrives whole: each new connection pushes out the
// slowest.
#pragma once

#include <cstddef>
#include <functional>
#include <list>

namespace tarnscsi::alpaca {

// Descriptors kept for all but connections.
inline constexpr std::size_t kDescriptorReserve = 64;
// Connections at most, whatever the limit: far more than the clients of
// one camera, each costing some kilobytes.
inline constexpr std::size_t kMostConnections = 1000;
// Connections at least, however low the limit.
inline constexpr std::size_t kFewestConnections = 4;

// The cap for a process that may hold `descriptorLimit` descriptors (0: no
// such limit).
std::size_t ConnectionCapFor(std::size_t descriptorLimit);

class ConnectionTable {
public:
    class Entry;

private:
    struct Record {
        Entry* entry;
        std::function<void()> close;
    };

public:
    enum class Phase { kReading, kAnswering, kIdle, kDropped };

    // A connection's place in the table, for as long as the connection
    // lives: idle at first. `close` closes the connection (it is dropped).
    class Entry {
    public:
        Entry(ConnectionTable& table, std::function<void()> close);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        // Nothing once the connection is dropped.
        void Enter(Phase phase);

    private:
        friend class ConnectionTable;
        ConnectionTable& table;
        Phase phase = Phase::kIdle;
        std::list<Record>::iterator at;
    };

    // Connections, dropped ones not counted.
    std::size_t Count() const;
    // Closes the connection longest inside one request, else the one idle
    // longest; false when every connection is being answered.
    bool DropOne();

private:
    std::list<Record>& ListOf(Phase phase);

    // Oldest first in each phase.
    std::list<Record> reading;
    std::list<Record> answering;
    std::list<Record> idle;
    std::list<Record> dropped;
};

}  // namespace tarnscsi::alpaca
