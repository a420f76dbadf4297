// The one state object of a manager library (its bus and AspiManager), made
// on first use. At process exit, or when the library is unloaded, it is
// deleted only while nothing can still use it (State::InUse() is false): a
// started completion worker pins the library and may still use the object,
// and a claimed target is still to be released by the connection that
// claimed it. That release may come late: a library loaded at run time has
// its statics torn down at exit before the program's own (it registered
// them later), so a program that keeps its camera in a static object
// releases the claim after this library's statics are gone, and must find
// the object still there.
#pragma once

#include <concepts>

namespace tarnscsi::manager {

template <typename State>
requires requires(State& state) {
    { state.InUse() } -> std::convertible_to<bool>;
}
class PinnedSingleton {
public:
    // Made by State's default constructor on the first call.
    static State& Instance() {
        // A plain pointer has nothing to tear down: it stays valid to the
        // end of the process, whatever the keeper decides.
        static State* const state = new State;
        static const Keeper keeper(state);
        return *state;
    }

    PinnedSingleton() = delete;

private:
    struct Keeper {
        explicit Keeper(State* kept) : state(kept) {}
        Keeper(const Keeper&) = delete;
        Keeper& operator=(const Keeper&) = delete;
        ~Keeper() {
            if (!state->InUse()) {
                delete state;
            }
        }
        State* const state;
    };
};

}  // namespace tarnscsi::manager
