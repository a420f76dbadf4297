#include "trace_loss.h"

#include <tarnscsi/trace.h>

namespace tarnscsi::tool {
namespace {

std::string& LostBeforeStart() {
    static std::string why;
    return why;
}

}  // namespace

void NoteTraceLost(const std::string& why) { LostBeforeStart() = why; }

std::string TraceLost() { return LostBeforeStart().empty() ? TraceProblem() : LostBeforeStart(); }

}  // namespace tarnscsi::tool
