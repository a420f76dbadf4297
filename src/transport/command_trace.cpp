#include "transport/command_trace.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include <tarnscsi/trace.h>

#include "common/module_lock.h"

namespace tarnscsi {

namespace {

constexpr double kMicrosecondsPerMillisecond = 1000.0;

// The sink and whether there is one. `active` is read on every command
// without the lock; the sink itself only under it. The environment is read
// under a lock of its own, held until its sink is set, so that a connection
// made meanwhile in another thread waits for it.
struct TraceState {
    ModuleLock lock;
    TraceSink sink;
    ModuleLock environmentLock;
    bool environmentRead = false;
};

TraceState& State() {
    // Never destroyed: a command may still be traced while the process exits.
    static TraceState* const state = new TraceState;
    return *state;
}

std::string Hex(std::uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string Status(const char* name, std::uint8_t value) { return std::string(name) + " 0x" + Hex(value); }

// A file the trace appends to, closed when the sink is replaced.
TraceSink FileSink(std::FILE* file, bool owned) {
    std::shared_ptr<std::FILE> handle(file, [owned](std::FILE* f) {
        if (owned) std::fclose(f);
    });
    return [handle](const std::string& line) {
        std::fprintf(handle.get(), "%s\n", line.c_str());
        std::fflush(handle.get());
    };
}

}  // namespace

std::string FormatTraceLine(const CommandResult& result, long long microseconds) {
    std::string line =
        result.CommandName() + " " + std::to_string(result.adapter) + ":" + std::to_string(result.target) + " [";
    for (std::uint8_t i = 0; i < result.cdbLength; ++i) {
        if (i > 0) line += ' ';
        line += Hex(result.cdb[i]);
    }
    line += "] ";
    line += result.dataIn ? "in " : "out ";
    line += std::to_string(result.length) + ": ";
    if (!result.sent) {
        line += "not sent";
    } else {
        line += result.Ok() ? "completed" : "failed";
        line += " (" + Status("srb", result.srbStatus) + " " + Status("host", result.hostStatus) + " " +
                Status("target", result.targetStatus) + (result.pending ? " pending" : "") + ")";
        if (result.sense.valid) line += " sense " + result.sense.Describe();
    }
    char duration[32];
    std::snprintf(duration, sizeof duration, " %.3f ms",
                  static_cast<double>(microseconds) / kMicrosecondsPerMillisecond);
    return line + duration;
}

void SetTraceSink(TraceSink sink) {
    TraceState& state = State();
    const std::lock_guard lock(state.lock);
    state.sink = std::move(sink);
    trace::traceActive.store(static_cast<bool>(state.sink), std::memory_order_relaxed);
}

std::string TraceToFile(const std::string& path) {
    if (path == "-" || path == "stderr" || path == "1") {
        SetTraceSink(FileSink(stderr, false));
        return {};
    }
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        const std::string why = std::strerror(errno);
        StopTrace();
        return "cannot open the trace file " + path + ": " + why;
    }
    SetTraceSink(FileSink(file, true));
    return {};
}

void StopTrace() { SetTraceSink({}); }

bool TraceEnabled() { return trace::Active(); }

namespace trace {

constinit std::atomic<bool> traceActive{false};

void Emit(const CommandResult& result, long long microseconds) {
    TraceState& state = State();
    // The command has already run: a line that cannot be built (no memory)
    // or written (a sink that throws) is lost, and the command's own result
    // stands.
    try {
        const std::string line = FormatTraceLine(result, microseconds);
        const std::lock_guard lock(state.lock);
        if (state.sink) state.sink(line);
    } catch (...) {
        return;
    }
}

void ConfigureFromEnvironment() {
    TraceState& state = State();
    const std::lock_guard lock(state.environmentLock);
    if (state.environmentRead) return;
    state.environmentRead = true;
    const char* value = std::getenv(kTraceVariable);
    if (value == nullptr || *value == '\0' || std::strcmp(value, "0") == 0 || TraceEnabled()) return;
    const std::string error = TraceToFile(value);
    if (!error.empty()) std::fprintf(stderr, "%s: %s\n", kTraceVariable, error.c_str());
}

}  // namespace trace

}  // namespace tarnscsi
