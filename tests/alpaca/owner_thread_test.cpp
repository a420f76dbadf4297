// The camera's thread: work still waiting when its caller's patience runs
// out is withdrawn and never runs; work that has begun is waited out.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "owner_thread.h"

using tarnscsi::alpaca::OwnerThread;

TEST(OwnerThreadTest, WorkStillWaitingIsWithdrawnAndWorkBegunIsWaitedOut) {
    OwnerThread owner([] { return std::chrono::seconds(1); });
    std::promise<void> begun;
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> firstDone{false};
    std::atomic<bool> secondRan{false};
    std::thread first([&] {
        const auto work = [&] {
            begun.set_value();
            released.wait();
            firstDone = true;
        };
        EXPECT_EQ(owner.Run(work, std::chrono::milliseconds(1)), OwnerThread::Outcome::kDone);
    });
    begun.get_future().wait();
    // Cannot begin before the first is over, which waits for this answer.
    EXPECT_EQ(owner.Run([&] { secondRan = true; }, std::chrono::milliseconds(20)), OwnerThread::Outcome::kWithdrawn);
    release.set_value();
    first.join();
    EXPECT_TRUE(firstDone);
    EXPECT_EQ(owner.Run([] {}, OwnerThread::kForever), OwnerThread::Outcome::kDone);
    EXPECT_FALSE(secondRan);
}
