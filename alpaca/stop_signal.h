// The user's request to stop the server: Ctrl-C or SIGTERM on POSIX;
// Ctrl-C, Ctrl-Break and closing the console window (or the user logging
// off, the system shutting down) on Windows.
//
// Windows ends a process whose console is closed once its handler returns,
// or after about 5 s: the handler holds the close until this object is
// destroyed, so that the server has stopped and let the camera go by then.
#pragma once

namespace tarnscsi::alpaca {

class StopRequests {
public:
    // Takes the requests from here on. On POSIX it blocks SIGINT and
    // SIGTERM in the calling thread and every thread it starts later (so
    // that only Wait takes them): make it before the server starts threads.
    // One at a time in a program.
    StopRequests();
    // Windows: a console close held in the handler goes on (the system
    // then ends the process).
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // Returns once a stop was asked for (at once if it already was).
    void Wait();
};

}  // namespace tarnscsi::alpaca
