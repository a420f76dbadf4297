// A trace of every SCSI command: one line each with its name, address,
// command bytes, direction, length, statuses, sense and duration. Off by
// default and free when off. Switched on by the TARNSCSI_TRACE environment
// variable ("1" or "stderr": standard error; any other value: a file of that
// name, appended to) or here.
#pragma once

#include <functional>
#include <string>

#include <tarnscsi/result.h>

namespace tarnscsi {

inline constexpr char kTraceVariable[] = "TARNSCSI_TRACE";

// Receives each line, without a line end. Called on the thread that ran the
// command; calls are serialised. A sink may itself replace or stop the trace
// (SetTraceSink, TraceToFile, StopTrace); commands it runs are not traced.
using TraceSink = std::function<void(const std::string& line)>;

// Sends the trace to `sink`; an empty sink switches it off. Once it returns,
// the sink replaced is not called again (unless this is called from within
// that sink's own call, which then ends first).
void SetTraceSink(TraceSink sink);
// Appends the trace to a file ("-" or "stderr": standard error). Returns ""
// on success, else why the file cannot be opened (the trace is then off).
std::string TraceToFile(const std::string& path);
// Whether TraceToFile takes `path` for standard error.
bool TraceFileIsStandardError(const std::string& path);
void StopTrace();
// "" while every line since the trace was last set has been written to its
// file; else why one could not be (a full disk, a closed descriptor). That
// is said once on standard error when it happens, and the lines after it
// are dropped; a program can let its exit code show the lost trace.
std::string TraceProblem();
bool TraceEnabled();

// One trace line for a command that took `microseconds`:
// "SET WINDOW 0:2 [24 00 00 00 00 00 00 00 4E 00] out 78: completed (srb 0x01 host 0x00 target 0x00) 0.041 ms"
std::string FormatTraceLine(const CommandResult& result, long long microseconds);

}  // namespace tarnscsi
