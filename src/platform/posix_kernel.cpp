// POSIX stand-ins for the Win32 library and event services (see kernel.h).
#include "platform/kernel.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace tarnscsi {

namespace {

// Descriptors 0..2 belong to the standard streams: an event must stay clear
// of them even when the process was started with one of them closed.
constexpr int kFirstEventDescriptor = 3;

int DescriptorOf(HANDLE event) { return static_cast<int>(reinterpret_cast<std::intptr_t>(event)); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd)); }

bool Valid(HANDLE event) { return DescriptorOf(event) >= kFirstEventDescriptor; }

#if defined(__SANITIZE_THREAD__)
#define TARNSCSI_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARNSCSI_THREAD_SANITIZER 1
#endif
#endif

#if defined(TARNSCSI_THREAD_SANITIZER)
// ThreadSanitizer only. The manager finishes a request on its own thread:
// it fills the block and the buffer, sets SRB_Status, then writes the
// eventfd. ThreadSanitizer treats that write as a release on the descriptor
// but knows nothing of poll(), so after the wait everything the manager did
// would look unordered with what we do next (reading the status and the
// data, reusing the block, closing the descriptor). A read of the counter
// is its matching acquire; writing the value back keeps the manual-reset
// event signalled, as the wait must. Only one request is ever in flight on
// an event, so nobody else observes the moment the counter is zero.
void AcquireSignaller(int fd) {
    std::uint64_t count = 0;
    if (read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count) && count != 0) {
        while (write(fd, &count, sizeof count) < 0 && errno == EINTR) {}
    }
}
#endif

}  // namespace

HMODULE LoadLibraryA(LPCSTR name) {
    if (name == nullptr) return nullptr;
    const std::string file = "lib" + std::string(name) + ".so";
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == nullptr || name == nullptr) return nullptr;
    void* symbol = dlsym(module, name);
    FARPROC function = nullptr;
    static_assert(sizeof function == sizeof symbol);
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

BOOL FreeLibrary(HMODULE module) { return module != nullptr && dlclose(module) == 0; }

HANDLE CreateEventA(void*, BOOL, BOOL initialState, LPCSTR name) {
    if (name != nullptr) return nullptr;
    int fd = eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return nullptr;
    if (fd < kFirstEventDescriptor) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kFirstEventDescriptor);
        close(fd);
        if (moved < 0) return nullptr;
        fd = moved;
    }
    return HandleOf(fd);
}

BOOL ResetEvent(HANDLE event) {
    if (!Valid(event)) return 0;
    std::uint64_t count = 0;
    // Non-blocking read empties the counter; EAGAIN means it was already zero.
    while (read(DescriptorOf(event), &count, sizeof count) < 0) {
        if (errno == EAGAIN) return 1;
        if (errno != EINTR) return 0;
    }
    return 1;
}

DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) {
    if (!Valid(event)) return WAIT_FAILED;
    // Polling for readability leaves the counter as it is: a manual-reset
    // event stays signalled until ResetEvent.
    pollfd entry{DescriptorOf(event), POLLIN, 0};
    const int timeout = milliseconds == INFINITE ? -1 : static_cast<int>(milliseconds & 0x7FFFFFFF);
    for (;;) {
        const int ready = poll(&entry, 1, timeout);
        if (ready > 0) {
            if ((entry.revents & POLLIN) == 0) return WAIT_FAILED;
#if defined(TARNSCSI_THREAD_SANITIZER)
            AcquireSignaller(entry.fd);
#endif
            return WAIT_OBJECT_0;
        }
        if (ready == 0) return WAIT_TIMEOUT;
        if (errno != EINTR) return WAIT_FAILED;
    }
}

BOOL CloseHandle(HANDLE event) { return Valid(event) && close(DescriptorOf(event)) == 0; }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace tarnscsi
