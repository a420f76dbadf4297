// One thread that owns what no other thread may touch (here the camera): it
// runs the work other threads hand it, one piece at a time in the order
// handed, and between them its own steps, which say when they want to run
// again. A caller waits for its work to be done; work still waiting when the
// caller's patience runs out is withdrawn, never run, and the caller is told.
// Work that has begun is always waited out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnscsi::alpaca {

class OwnerThread {
public:
    using Duration = std::chrono::steady_clock::duration;
    // The thread's own steps: run after each round of handed work, and when
    // the time the last run asked for has passed.
    using Steps = std::function<Duration()>;
    using Work = std::function<void()>;
    static constexpr Duration kForever = Duration::max();

    enum class Outcome {
        kDone,
        kWithdrawn,  // still waiting when the patience ran out: not run
        kStopped,    // the thread stopped first: not run
    };

    explicit OwnerThread(Steps steps);
    ~OwnerThread();
    OwnerThread(const OwnerThread&) = delete;
    OwnerThread& operator=(const OwnerThread&) = delete;

    // Hands `work` to the thread and waits for it; an exception it throws
    // reaches the caller. On the thread itself the work runs at once.
    Outcome Run(const Work& work, Duration patience);

    // Ends the thread once the work or step under way is over; work still
    // waiting is not run.
    void Stop();

private:
    struct Handed {
        const Work* work = nullptr;
        bool started = false;
        bool done = false;
        bool dropped = false;
        std::exception_ptr error;
    };
    void Loop();

    Steps steps;
    std::mutex mutex;
    std::condition_variable wake;      // handed work or a stop, for the thread
    std::condition_variable answered;  // work done or dropped, for the callers
    std::deque<Handed*> waiting;
    bool stopping = false;
    std::thread thread;
};

}  // namespace tarnscsi::alpaca
