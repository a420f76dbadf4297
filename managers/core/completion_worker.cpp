#include "core/completion_worker.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <thread>
#include <utility>

#include "core/platform.h"

namespace tarnscsi::manager {

struct CompletionWorker::Queue {
    struct Entry {
        Clock::time_point due;
        Job job;
    };
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Entry> entries;
};

bool CompletionWorker::Post(Clock::time_point due, Job job) noexcept {
    try {
        Queue* const target = RunningQueue();
        {
            std::lock_guard lock(target->mutex);
            // Nothing is queued when this throws (no memory).
            target->entries.push_back({due, std::move(job)});
        }
        target->ready.notify_one();
        return true;
    } catch (...) {
        return false;
    }
}

CompletionWorker::Queue* CompletionWorker::RunningQueue() {
    std::lock_guard lock(mutex);
    if (queue == nullptr) {
        // Kept only once its thread runs: a queue that no thread serves
        // would hold every request posted to it for ever.
        auto fresh = std::make_unique<Queue>();
        std::thread(&CompletionWorker::Run, fresh.get()).detach();
        queue = fresh.release();
        // The caller is inside this library, so it cannot be unloaded
        // before this; the thread may run in it from now on.
        PinThisModule();
    }
    return queue;
}

bool CompletionWorker::Started() const {
    std::lock_guard lock(mutex);
    return queue != nullptr;
}

void CompletionWorker::Run(Queue* queue) {
    for (;;) {
        Queue::Entry entry;
        {
            std::unique_lock lock(queue->mutex);
            queue->ready.wait(lock, [queue] { return !queue->entries.empty(); });
            entry = std::move(queue->entries.front());
            queue->entries.pop_front();
        }
        // One sleep may end a little early on Windows (sleep_until on a
        // steady clock sleeps once, and the system's sleep is coarser than
        // the clock): a request must never finish before it is due.
        while (Clock::now() < entry.due) std::this_thread::sleep_until(entry.due);
        entry.job();
    }
}

}  // namespace tarnscsi::manager