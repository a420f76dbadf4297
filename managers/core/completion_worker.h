// The one thread that finishes requests a manager has answered with
// SS_PENDING. It starts with the first pending request. From then on the
// library is pinned and the thread's state lives on a heap object that is
// never freed, with the thread detached: neither the host unloading the
// library nor process exit can pull memory or code from under it.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>

namespace tarnscsi::manager {

class CompletionWorker {
public:
    using Clock = std::chrono::steady_clock;
    using Job = std::function<void()>;

    // Runs `job` on the worker thread, not before `due`. Jobs run one at a
    // time in the order they were posted. False, with `job` dropped, when
    // the thread cannot be started or memory runs out: nothing is queued,
    // and the next post tries to start the thread again.
    bool Post(Clock::time_point due, Job job) noexcept;

    // True once the thread runs (and the library is pinned).
    bool Started() const;

private:
    struct Queue;
    static void Run(Queue* queue);
    // The queue, its thread started first; throws when it cannot start.
    Queue* RunningQueue();

    mutable std::mutex mutex;
    Queue* queue = nullptr;  // set once its thread runs; never freed: the detached thread uses it
};

}  // namespace tarnscsi::manager
