// Choosing the ASPI manager the module loads, and finding the simulator
// relative to where the program and this library are installed.
#include <tarnscsi/manager.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "aspi.h"
#include "common/dynamic_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>

#include "aspi_sg_report.h"
#endif

#ifndef TARNSCSI_INSTALL_LIBDIR
#define TARNSCSI_INSTALL_LIBDIR "lib"
#endif

namespace tarnscsi {

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
// The simulator's folder beside the program (in the zip and in the build
// tree's bin/): Windows looks for a DLL in the program's own folder, never in
// a folder below it, so no program or application finds it by accident.
constexpr char kSimulatorFolder[] = "simulator";
#else
// The simulator's private folder below the library directory, so that the
// ordinary library search never finds it in place of the real manager.
constexpr char kSimulatorFolder[] = "tarnscsi/simulator";
// Where a build tree keeps it, next to the programs' own folders.
constexpr char kBuildTreeFolder[] = "sim";
#endif

// The folder of the running program.
fs::path ProgramFolder() {
#if defined(_WIN32)
    // The wide name, for folders with any letters; a path longer than the
    // buffer is cut short by Windows, and then not used.
    std::wstring program(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0 || length >= program.size()) return {};
    program.resize(length);
    return fs::path(program).parent_path();
#else
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program.parent_path();
#endif
}

// The folder of the file that holds this code: the program itself when the
// API is linked in statically, else the shared library.
fs::path CodeFolder() {
#if defined(_WIN32)
    return {};
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FindSimulator), &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code error;
    const fs::path file = fs::canonical(info.dli_fname, error);
    return error ? fs::path() : file.parent_path();
#endif
}

void AddCandidatesBeside(const fs::path& folder, std::vector<std::string>& candidates) {
    if (folder.empty()) return;
    const auto add = [&candidates](const fs::path& path) {
        const std::string text = path.lexically_normal().string();
        for (const std::string& known : candidates) {
            if (known == text) return;
        }
        candidates.push_back(text);
    };
#if defined(_WIN32)
    // <program folder>\simulator\wnaspi32.dll, unpacked and built alike.
    add(folder / kSimulatorFolder / kManagerFile);
#else
    // Installed: <prefix>/bin/program and <prefix>/<libdir>/tarnscsi/simulator/,
    // or a library in <prefix>/<libdir>/ itself.
    add(folder / ".." / TARNSCSI_INSTALL_LIBDIR / kSimulatorFolder / kManagerFile);
    add(folder / kSimulatorFolder / kManagerFile);
    // A build tree: <build>/tools/tarnscsi and <build>/sim/.
    add(folder / ".." / kBuildTreeFolder / kManagerFile);
#endif
}

#if defined(_WIN32)
std::string LoadManager(const std::string& path) {
    // A bare name would go through the DLL search, which is exactly what may
    // find another manager instead.
    if (path.find_first_of("/\\") == std::string::npos) {
        return "the manager must be given by its path (with a '\\'), not \"" + path + "\"";
    }
    // Narrow paths are UTF-8 here (std::filesystem's conversion both ways).
    const HMODULE manager = LoadLibraryW(fs::path(path).wstring().c_str());
    if (manager == nullptr) return "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    const auto missing = [manager](const char* entry) { return GetProcAddress(manager, entry) == nullptr; };
    std::string problem;
    if (missing(aspi::kSupportInfoEntry) || missing(aspi::kSendCommandEntry)) {
        problem = path + " is not an ASPI manager (it lacks " + aspi::kSupportInfoEntry + " or " +
                  aspi::kSendCommandEntry + ")";
    } else if (GetModuleHandleA(kManagerFile) != manager) {
        // Windows gives a load by name the module already loaded under that
        // name: another wnaspi32.dll loaded before would win.
        problem = std::string("another ") + kManagerFile + " is already loaded, so the module would not use " + path;
    }
    if (!problem.empty()) {
        FreeLibrary(manager);
        return problem;
    }
    return {};  // loaded until the process ends
}
#else
std::string LoadManager(const std::string& path) {
    // A bare name would go through the library search, which is exactly
    // what may find another manager instead.
    if (path.find('/') == std::string::npos) {
        return "the manager must be given by its path (with a '/'), not \"" + path + "\"";
    }
    DynamicLibrary manager(path);
    if (!manager.IsLoaded()) return "cannot load " + path + ": " + manager.Error();
    if (!manager.Has(aspi::kSupportInfoEntry) || !manager.Has(aspi::kSendCommandEntry)) {
        return path + " is not an ASPI manager (it lacks " + aspi::kSupportInfoEntry + " or " +
               aspi::kSendCommandEntry + ")";
    }
    // The module's load by name must land on this very library.
    const DynamicLibrary byName(kManagerFile, true);
    if (byName.Handle() != manager.Handle()) {
        return path + " is not known as " + kManagerFile + " (its soname), so the module would not use it";
    }
    manager.Keep();  // loaded until the process ends
    return {};
}
#endif

}  // namespace

std::vector<std::string> SimulatorCandidates() {
    std::vector<std::string> candidates;
    if (const char* named = std::getenv(kSimulatorVariable); named != nullptr && *named != '\0') {
        candidates.emplace_back(named);
    }
    AddCandidatesBeside(ProgramFolder(), candidates);
    AddCandidatesBeside(CodeFolder(), candidates);
    return candidates;
}

std::string FindSimulator() {
    for (const std::string& candidate : SimulatorCandidates()) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return {};
}

std::string UseManager(const ManagerChoice& choice) {
    switch (choice.kind) {
        case ManagerKind::kInstalled: return {};
        case ManagerKind::kPath: return LoadManager(choice.path);
        case ManagerKind::kSimulator: {
            if (const char* named = std::getenv(kSimulatorVariable); named != nullptr && *named != '\0') {
                return LoadManager(named);
            }
            const std::string simulator = FindSimulator();
            if (simulator.empty()) {
                std::string looked;
                for (const std::string& candidate : SimulatorCandidates()) looked += "\n  " + candidate;
                return "the simulated camera's library was not found; looked for:" + looked + "\nset " +
                       kSimulatorVariable + " to its path";
            }
            return LoadManager(simulator);
        }
    }
    return {};
}

std::string UseManagerFromEnvironment() {
    const char* named = std::getenv(kSimulatorVariable);
    if (named == nullptr || *named == '\0') return {};
    return UseManager({ManagerKind::kPath, named});
}

std::string ManagerSettingsProblem() {
#if defined(_WIN32)
    return {};
#else
    // The manager the module will load, found as the module finds it; a
    // manager without settings of its own (the simulator) has no problem.
    const DynamicLibrary manager(kManagerFile);
    if (!manager.IsLoaded()) return {};
    const auto problem = manager.Symbol<SgSettingsProblemFn>(SG_SETTINGS_PROBLEM_ENTRY);
    if (problem == nullptr) return {};
    std::string text(problem(nullptr, 0), '\0');
    text.resize(problem(text.data(), static_cast<std::uint32_t>(text.size() + 1)));
    return text;
#endif
}

}  // namespace tarnscsi
