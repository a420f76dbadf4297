#include "sg/sg_state.h"

#include <cstdlib>

#include "core/pinned_singleton.h"

namespace tarnscsi::sg {
namespace {

constexpr char kAdapterIdentifier[] = "LINUX SG";

}  // namespace

SgState::SgState()
    : timeLimit(CommandTimeLimit(std::getenv(kTimeLimitVariable))),
      bus(LibrarySystem(), timeLimit.limit),
      manager(bus, kAdapterIdentifier) {
    bus.AddNote(timeLimit.note);
    UseSgCompletion(manager);
}

SgState& TheSg() { return tarnscsi::manager::PinnedSingleton<SgState>::Instance(); }

}  // namespace tarnscsi::sg