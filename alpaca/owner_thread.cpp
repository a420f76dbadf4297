#include "owner_thread.h"

#include <algorithm>

namespace tarnscsi::alpaca {

OwnerThread::OwnerThread(Steps given) : steps(std::move(given)) {
    thread = std::thread([this] { Loop(); });
}

OwnerThread::~OwnerThread() { Stop(); }

void OwnerThread::Stop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

void OwnerThread::Loop() {
    std::unique_lock lock(mutex);
    Duration wait = Duration::zero();
    for (;;) {
        if (wait > Duration::zero()) wake.wait_for(lock, wait, [this] { return stopping || !waiting.empty(); });
        if (stopping) break;
        // The work handed so far, then the steps: a stream of work never
        // keeps them from their time.
        for (std::size_t round = waiting.size(); round > 0 && !waiting.empty() && !stopping; --round) {
            Handed* handed = waiting.front();
            waiting.pop_front();
            handed->started = true;
            lock.unlock();
            try {
                (*handed->work)();
            } catch (...) {
                handed->error = std::current_exception();
            }
            lock.lock();
            handed->done = true;
            answered.notify_all();
        }
        if (stopping) break;
        lock.unlock();
        wait = steps();
        lock.lock();
    }
    for (Handed* handed : waiting) handed->dropped = true;
    waiting.clear();
    answered.notify_all();
}

OwnerThread::Outcome OwnerThread::Run(const Work& work, Duration patience) {
    if (std::this_thread::get_id() == thread.get_id()) {
        work();
        return Outcome::kDone;
    }
    Handed handed;
    handed.work = &work;
    std::unique_lock lock(mutex);
    if (stopping) return Outcome::kStopped;
    waiting.push_back(&handed);
    wake.notify_one();
    const auto now = std::chrono::steady_clock::now();
    const bool bounded = patience != kForever && patience < std::chrono::steady_clock::time_point::max() - now;
    const auto deadline = bounded ? now + patience : std::chrono::steady_clock::time_point::max();
    while (!handed.done && !handed.dropped) {
        if (handed.started || !bounded) {
            answered.wait(lock);
        } else if (answered.wait_until(lock, deadline) == std::cv_status::timeout && !handed.started && !handed.done &&
                   !handed.dropped) {
            waiting.erase(std::find(waiting.begin(), waiting.end(), &handed));
            return Outcome::kWithdrawn;
        }
    }
    if (handed.dropped) return Outcome::kStopped;
    if (handed.error) std::rethrow_exception(handed.error);
    return Outcome::kDone;
}

}  // namespace tarnscsi::alpaca
