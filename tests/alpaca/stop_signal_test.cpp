// The stop request on POSIX: SIGINT and SIGTERM are held for Wait (not
// left to end the program), and one that came before Wait is not lost.
#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <thread>

#include "stop_signal.h"

namespace {

// In a thread of its own, so that the signals stay blocked there only.
TEST(StopRequests, TakesSigintAndSigtermThatCameBeforeWait) {
    for (const int signal : {SIGINT, SIGTERM}) {
        std::thread([signal] {
            tarnscsi::alpaca::StopRequests stop;
            pthread_kill(pthread_self(), signal);
            stop.Wait();
        }).join();
    }
}

}  // namespace
