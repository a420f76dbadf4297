#include "core/completion_worker.h"

#include <condition_variable>
#include <deque>
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

void CompletionWorker::Post(Clock::time_point due, Job job) {
    Queue* target = nullptr;
    {
        std::lock_guard lock(mutex);
        if (queue == nullptr) {
            PinThisModule();
            queue = new Queue;
            std::thread(&CompletionWorker::Run, queue).detach();
        }
        target = queue;
    }
    {
        std::lock_guard lock(target->mutex);
        target->entries.push_back({due, std::move(job)});
    }
    target->ready.notify_one();
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