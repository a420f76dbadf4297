// The one state object of a manager library (its bus and AspiManager), made
// on first use. At process exit, or when the library is unloaded, it is
// deleted only if its manager never started the completion worker: a started
// worker pins the library and may still use the object, which must then live
// on until the process is gone.
#pragma once

#include <concepts>

namespace tarnscsi::manager {

template <typename State>
requires requires(const State& state) {
    { state.manager.WorkerStarted() } -> std::convertible_to<bool>;
}
class PinnedSingleton {
public:
    // Made by State's default constructor on the first call.
    static State& Instance() {
        static PinnedSingleton holder;
        return *holder.state;
    }

    PinnedSingleton(const PinnedSingleton&) = delete;
    PinnedSingleton& operator=(const PinnedSingleton&) = delete;

private:
    PinnedSingleton() : state(new State) {}
    ~PinnedSingleton() {
        if (!state->manager.WorkerStarted()) {
            delete state;
        }
    }

    State* const state;
};

}  // namespace tarnscsi::manager