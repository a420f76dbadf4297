// A loaded shared library that unloads itself, with typed symbol lookup.
// Every load outside the module's own transport goes through this class:
// the manager choice, the bus scan's look at the manager's report, tests
// that reach a manager's control functions. (The transport keeps its
// LoadLibraryA/GetProcAddress calls exactly as the module specifies them.)
#pragma once

#include <cstring>
#include <string>
#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tarnscsi {

class DynamicLibrary {
public:
    DynamicLibrary() = default;

    // Loads `name` (a path, or a name for the ordinary library search).
    // With `onlyIfLoaded`, finds a library already in the process without
    // loading anything. Check with IsLoaded(); Error() says why not.
    explicit DynamicLibrary(const std::string& name, bool onlyIfLoaded = false) {
#if defined(_WIN32)
        handle = onlyIfLoaded ? static_cast<void*>(GetModuleHandleA(name.c_str()))
                              : static_cast<void*>(LoadLibraryA(name.c_str()));
        // GetModuleHandle takes no reference: nothing to release then.
        owned = handle != nullptr && !onlyIfLoaded;
        if (handle == nullptr) error = "cannot load " + name + " (error " + std::to_string(GetLastError()) + ")";
#else
        handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | (onlyIfLoaded ? RTLD_NOLOAD : 0));
        owned = handle != nullptr;
        if (handle == nullptr) {
            const char* why = dlerror();
            error = why != nullptr ? why : "cannot load " + name;
        }
#endif
    }

    ~DynamicLibrary() { Release(); }

    DynamicLibrary(DynamicLibrary&& other) noexcept
        : handle(std::exchange(other.handle, nullptr)),
          owned(std::exchange(other.owned, false)),
          error(std::move(other.error)) {}

    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept {
        if (this != &other) {
            Release();
            handle = std::exchange(other.handle, nullptr);
            owned = std::exchange(other.owned, false);
            error = std::move(other.error);
        }
        return *this;
    }

    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool IsLoaded() const { return handle != nullptr; }
    const std::string& Error() const { return error; }
    // The platform handle, for identity comparisons; null when not loaded.
    void* Handle() const { return handle; }

    // The symbol `name` as a pointer of type Fn (a function pointer type);
    // null when the library lacks it.
    template <typename Fn>
    Fn Symbol(const char* name) const {
        if (handle == nullptr) return nullptr;
#if defined(_WIN32)
        FARPROC raw = GetProcAddress(static_cast<HMODULE>(handle), name);
#else
        void* raw = dlsym(handle, name);
#endif
        Fn function = nullptr;
        static_assert(sizeof function == sizeof raw, "a function pointer must fit a symbol address");
        std::memcpy(&function, &raw, sizeof function);
        return function;
    }

    bool Has(const char* name) const { return Symbol<void (*)()>(name) != nullptr; }

    // Keeps the library in the process after this object is gone.
    void Keep() { owned = false; }

    // The file the dynamic linker loaded, or "" when it cannot tell.
    std::string Path() const;

private:
    void Release() {
        if (handle != nullptr && owned) {
#if defined(_WIN32)
            FreeLibrary(static_cast<HMODULE>(handle));
#else
            dlclose(handle);
#endif
        }
        handle = nullptr;
        owned = false;
    }

    void* handle = nullptr;
    bool owned = false;
    std::string error;
};

}  // namespace tarnscsi

#if defined(_WIN32)
inline std::string tarnscsi::DynamicLibrary::Path() const {
    if (handle == nullptr) return {};
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(handle), path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}
#else
#include <link.h>

inline std::string tarnscsi::DynamicLibrary::Path() const {
    link_map* map = nullptr;
    if (handle == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return {};
    }
    return map->l_name;
}
#endif
