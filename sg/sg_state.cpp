#include "sg/sg_state.h"

#include <cstdlib>

namespace sg {
namespace {

constexpr char kAdapterIdentifier[] = "LINUX SG";

class StateHolder {
public:
    StateHolder() : state_(new SgState) {}
    StateHolder(const StateHolder&) = delete;
    StateHolder& operator=(const StateHolder&) = delete;
    ~StateHolder() {
        if (!state_->manager.WorkerStarted()) {
            delete state_;
        }
    }
    SgState& State() { return *state_; }

private:
    SgState* state_;
};

}  // namespace

SgState::SgState()
    : timeLimit(CommandTimeLimit(std::getenv(kTimeLimitVariable))),
      bus(LibrarySystem(), timeLimit.limit),
      manager(bus, kAdapterIdentifier) {
    bus.AddNote(timeLimit.note);
    UseSgCompletion(manager);
}

SgState& TheSg() {
    static StateHolder holder;
    return holder.State();
}

}  // namespace sg
