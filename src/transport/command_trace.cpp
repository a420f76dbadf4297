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
#include "platform/kernel.h"

namespace tarnscsi {

namespace {

constexpr double kMicrosecondsPerMillisecond = 1000.0;

// The sink and whether there is one. `active` is read on every command
// without the lock; the sink itself only under it, and it is called under
// it, so that calls are serialised and a sink replaced from another thread
// is never called again once the replacement returns. The sink is shared
// with the call under way, so a sink may replace or stop the trace from
// within its own call: `callingThread` tells that the lock is already this
// thread's, and the running sink lives on until its call ends. The
// environment is read under a lock of its own, held until its sink is set,
// so that a connection made meanwhile in another thread waits for it.
struct TraceState {
    ModuleLock lock;
    std::shared_ptr<const TraceSink> sink;
    std::atomic<DWORD> callingThread{0};  // the thread inside the sink; 0: none
    ModuleLock environmentLock;
    bool environmentRead = false;
    // Why the current sink lost a line; its own lock, since the sink that
    // records it runs under `lock`.
    ModuleLock problemLock;
    std::string problem;
};

// Marks the current thread as the one calling the sink, for as long as it lives.
class SinkCall {
public:
    explicit SinkCall(std::atomic<DWORD>& slot) : thread(slot) {
        thread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    ~SinkCall() { thread.store(0, std::memory_order_relaxed); }
    SinkCall(const SinkCall&) = delete;
    SinkCall& operator=(const SinkCall&) = delete;

private:
    std::atomic<DWORD>& thread;
};

// Only the thread that set it can see its own id there.
bool InSinkCall(const TraceState& state) {
    return state.callingThread.load(std::memory_order_relaxed) == GetCurrentThreadId();
}

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

// The first line a file sink cannot write: said once on standard error (the
// program may have nowhere else to say it) and kept for TraceProblem.
void LineLost(const std::string& name, int error) {
    TraceState& state = State();
    const std::string problem = "cannot write the command trace to " + name + ": " + std::strerror(error);
    {
        const std::lock_guard lock(state.problemLock);
        if (!state.problem.empty()) return;
        state.problem = problem;
    }
    std::fprintf(stderr, "tarnscsi: %s; the lines after this one are lost\n", problem.c_str());
}

// A file the trace appends to, closed when the sink is replaced. After a
// line that cannot be written (a full disk, /dev/full, a closed pipe) the
// rest are dropped: a trace with a hole in it would mislead.
TraceSink FileSink(std::FILE* file, bool owned, std::string name) {
    struct Target {
        Target(std::FILE* f, bool o, std::string n) : file(f), owned(o), name(std::move(n)) {}
        ~Target() {
            if (owned) std::fclose(file);
        }
        Target(const Target&) = delete;
        Target& operator=(const Target&) = delete;
        std::FILE* file;
        bool owned;
        std::string name;
        bool failed = false;
    };
    auto target = std::make_shared<Target>(file, owned, std::move(name));
    return [target](const std::string& line) {
        if (target->failed) return;
        if (std::fprintf(target->file, "%s\n", line.c_str()) >= 0 && std::fflush(target->file) == 0) return;
        target->failed = true;
        LineLost(target->name, errno);
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
    std::shared_ptr<const TraceSink> replacement;
    if (sink) replacement = std::make_shared<const TraceSink>(std::move(sink));
    // Released after the lock: closing a trace file needs no lock.
    std::shared_ptr<const TraceSink> replaced;
    const auto swap = [&] {
        replaced = std::exchange(state.sink, std::move(replacement));
        trace::traceActive.store(static_cast<bool>(state.sink), std::memory_order_relaxed);
        const std::lock_guard problemLock(state.problemLock);
        state.problem.clear();
    };
    if (InSinkCall(state)) {
        swap();  // the lock is this thread's already, held for the sink's call
        return;
    }
    const std::lock_guard lock(state.lock);
    swap();
}

bool TraceFileIsStandardError(const std::string& path) { return path == "-" || path == "stderr" || path == "1"; }

std::string TraceToFile(const std::string& path) {
    if (TraceFileIsStandardError(path)) {
        SetTraceSink(FileSink(stderr, false, "standard error"));
        return {};
    }
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        const std::string why = std::strerror(errno);
        StopTrace();
        return "cannot open the trace file " + path + ": " + why;
    }
    SetTraceSink(FileSink(file, true, path));
    return {};
}

void StopTrace() { SetTraceSink({}); }

std::string TraceProblem() {
    TraceState& state = State();
    const std::lock_guard lock(state.problemLock);
    return state.problem;
}

bool TraceEnabled() { return trace::Active(); }

namespace trace {

constinit std::atomic<bool> traceActive{false};

void Emit(const CommandResult& result, long long microseconds) {
    TraceState& state = State();
    // The command has already run: a line that cannot be built (no memory)
    // or written (a sink that throws) is lost, and the command's own result
    // stands.
    try {
        // A command the sink itself runs is not traced: its line would have
        // to wait for the call it is part of.
        if (InSinkCall(state)) return;
        const std::string line = FormatTraceLine(result, microseconds);
        // Outlives the lock: a sink that replaced itself is released after its call.
        std::shared_ptr<const TraceSink> running;
        const std::lock_guard lock(state.lock);
        running = state.sink;
        if (!running) return;
        const SinkCall call(state.callingThread);
        (*running)(line);
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
    if (error.empty()) return;
    std::fprintf(stderr, "%s: %s\n", kTraceVariable, error.c_str());
    // The trace asked for is lost as surely as one whose lines fail.
    const std::lock_guard problemLock(state.problemLock);
    state.problem = std::string(kTraceVariable) + ": " + error;
}

}  // namespace trace

}  // namespace tarnscsi
