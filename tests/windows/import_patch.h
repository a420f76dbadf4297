// ImportPatch: for as long as it lives, the calls one loaded module makes to
// one imported function go to a replacement instead. The module's import
// address table entry for that function is rewritten (and restored at the
// end). This is how the tests see, and make fail, the calls TARNSCSI.dll
// makes to KERNEL32.dll and msvcrt.dll: they all go through that table.
#pragma once

#include <cstring>

#include "win32_test_support.h"

namespace win32_test {

class ImportPatch {
public:
    // `dll` is the imported library's name as the import table spells it
    // (compared without regard to case), `function` the imported name.
    ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // False when the module does not import the function by name.
    bool Applied() const { return slot != nullptr; }

    // The function the entry held before, to pass calls on to.
    template <typename Fn>
    Fn Original() const {
        Fn function = nullptr;
        static_assert(sizeof function == sizeof original);
        std::memcpy(&function, &original, sizeof function);
        return function;
    }

private:
    void Write(void* value);

    void** slot = nullptr;
    void* original = nullptr;
};

// Where a function pointer points, as the import table holds it.
template <typename Fn>
const void* Address(Fn function) {
    const void* address = nullptr;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&address, &function, sizeof address);
    return address;
}

}  // namespace win32_test
