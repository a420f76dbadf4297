// Whether the command trace a run was asked for could not be written: the
// library's own account (a file that cannot be opened or written), or what
// the tool knew before the command ran (TARNSCSI_TRACE naming a standard
// error that was closed when the tool started: the lines would go to
// /dev/null). Either way the command still runs, and its exit code and its
// JSON say so.
#pragma once

#include <string>

namespace tarnscsi::tool {

// The trace is lost before it starts, for this reason.
void NoteTraceLost(const std::string& why);

// "" while every trace line asked for has been written; else why not.
std::string TraceLost();

}  // namespace tarnscsi::tool
