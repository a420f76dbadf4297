#include "sim/sim_state.h"

#include "sim/config_apply.h"

namespace sim {
namespace {

class StateHolder {
public:
    StateHolder() : state_(new SimState) { ApplyEnvironmentConfig(*state_); }
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

// Made as the library loads, so that TARNSCSI_SIM is read then.
[[maybe_unused]] const bool kMadeAtLoad = (TheSim(), true);

}  // namespace

SimState& TheSim() {
    static StateHolder holder;
    return holder.State();
}

}  // namespace sim
