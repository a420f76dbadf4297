#include "import_patch.h"

#include <cstdint>

namespace win32_test {
namespace {

// The loaded image seen as bytes, for following relative addresses.
template <typename T>
T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<std::uint8_t*>(module) + rva);
}

// The import address table entry through which `module` calls `function`
// of `dll`, or null.
void** FindSlot(HMODULE module, const char* dll, const char* function) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* nt = At<const IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;

    for (auto* entry = At<const IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); entry->Name != 0; ++entry) {
        if (lstrcmpiA(At<const char>(module, entry->Name), dll) != 0) continue;
        // The lookup table names the functions; the address table beside it
        // holds where each one was bound.
        auto* names = At<const IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
        auto* slots = At<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement)
    : slot(module != nullptr ? FindSlot(module, dll, function) : nullptr) {
    if (slot == nullptr) return;
    original = *slot;
    Write(const_cast<void*>(replacement));
}

ImportPatch::~ImportPatch() {
    if (slot != nullptr) Write(original);
}

void ImportPatch::Write(void* value) {
    // The table may lie in read-only memory once the loader has bound it.
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, oldProtection, &oldProtection);
}

}  // namespace win32_test
