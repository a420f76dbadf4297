// A completion event as the module makes one: an eventfd whose descriptor
// number goes into SRB_PostProc (a Win32 event handle on Windows).
#pragma once

#include <chrono>

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace tarnscsi::simtest {

class TestEvent {
public:
#if defined(_WIN32)
    TestEvent() : handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~TestEvent() { CloseHandle(handle); }
    void* PostProc() const { return handle; }
    bool Wait(std::chrono::milliseconds timeout) const {
        return WaitForSingleObject(handle, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
    }
    // Whether a signal came since the last Count (a Windows event only says
    // "at least one"); clears it, as reading an eventfd does.
    unsigned Count() const {
        const bool signalled = Wait(std::chrono::milliseconds{0});
        ResetEvent(handle);
        return signalled ? 1u : 0u;
    }

private:
    HANDLE handle;
#else
    TestEvent() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    // Draining first lets ThreadSanitizer pair the manager's signal with us
    // before the descriptor goes away.
    ~TestEvent() {
        Count();
        close(fd);
    }
    void* PostProc() const { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)); }
    bool Wait(std::chrono::milliseconds timeout) const {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(timeout.count())) == 1;
    }
    // Signals counted since the last Count (drains the counter).
    unsigned Count() const {
        std::uint64_t value = 0;
        return read(fd, &value, sizeof value) == sizeof value ? static_cast<unsigned>(value) : 0u;
    }

private:
    int fd;
#endif
    TestEvent(const TestEvent&) = delete;
    TestEvent& operator=(const TestEvent&) = delete;
};

}  // namespace tarnscsi::simtest