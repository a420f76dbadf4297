// The transport's side of the command trace (the public side is
// <tarnscsi/trace.h>): whether it is on, and writing one command's line.
#pragma once

#include <atomic>

#include <tarnscsi/result.h>

namespace tarnscsi::trace {

// Whether a sink is set. Constant-initialised, so reading it needs no guard.
extern std::atomic<bool> traceActive;

// One relaxed atomic load: the only cost of the trace while it is off.
inline bool Active() { return traceActive.load(std::memory_order_relaxed); }
// Writes the line of a finished command to the sink.
void Emit(const CommandResult& result, long long microseconds);
// Reads TARNSCSI_TRACE once per process; a sink set through the API wins.
void ConfigureFromEnvironment();

}  // namespace tarnscsi::trace
