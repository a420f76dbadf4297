#include "sim/sim_state.h"

namespace sim {
namespace {

class StateHolder {
public:
    StateHolder() : state_(new SimState) {}
    StateHolder(const StateHolder&) = delete;
    StateHolder& operator=(const StateHolder&) = delete;
    ~StateHolder() {
        if (!state_->manager.WorkerStarted()) {
            delete state_;
        }
    }
    SimState& State() { return *state_; }

private:
    SimState* state_;
};

}  // namespace

SimState& TheSim() {
    static StateHolder holder;
    return holder.State();
}

}  // namespace sim
