// Choosing the ASPI manager the module loads, and finding the simulator
// relative to where the program and this library are installed.
#include <tarnscsi/manager.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "aspi.h"
#include "common/dynamic_library.h"

#if !defined(_WIN32)
#include <dlfcn.h>

#include "aspi_sg_report.h"
#endif

#ifndef TARNSCSI_INSTALL_LIBDIR
#define TARNSCSI_INSTALL_LIBDIR "lib"
#endif

namespace tarnscsi {

namespace {

namespace fs = std::filesystem;

// The simulator's private folder below the library directory, so that the
// ordinary library search never finds it in place of the real manager.
constexpr char kSimulatorFolder[] = "tarnscsi/simulator";
// Where a build tree keeps it, next to the programs' own folders.
constexpr char kBuildTreeFolder[] = "sim";

// The folder of the running program.
fs::path ProgramFolder() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program.parent_path();
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
    // Installed: <prefix>/bin/program and <prefix>/<libdir>/tarnscsi/simulator/,
    // or a library in <prefix>/<libdir>/ itself.
    add(folder / ".." / TARNSCSI_INSTALL_LIBDIR / kSimulatorFolder / kManagerFile);
    add(folder / kSimulatorFolder / kManagerFile);
    // A build tree: <build>/tools/tarnscsi and <build>/sim/.
    add(folder / ".." / kBuildTreeFolder / kManagerFile);
}

// The name the module loads the manager by, as the system's loader knows it
// once loaded.
#if defined(_WIN32)
constexpr char kLoadedManagerName[] = "wnaspi32.dll";
constexpr char kPathSeparators[] = "/\\";
#else
constexpr const char* kLoadedManagerName = kManagerFile;
constexpr char kPathSeparators[] = "/";
#endif

// Loads the manager at `path` and keeps it, so that the module's load by
// name finds it: on Linux through its soname, on Windows because a DLL of
// the same base name already in the process is the one LoadLibrary gives.
std::string LoadManager(const std::string& path) {
    // A bare name would go through the library search, which is exactly
    // what may find another manager instead.
    if (path.find_first_of(kPathSeparators) == std::string::npos) {
        return "the manager must be given by its path (with a '/'), not \"" + path + "\"";
    }
    DynamicLibrary manager(path);
    if (!manager.IsLoaded()) return "cannot load " + path + ": " + manager.Error();
    if (!manager.Has(aspi::kSupportInfoEntry) || !manager.Has(aspi::kSendCommandEntry)) {
        return path + " is not an ASPI manager (it lacks " + aspi::kSupportInfoEntry + " or " +
               aspi::kSendCommandEntry + ")";
    }
    // The module's load by name must land on this very library.
    const DynamicLibrary byName(kLoadedManagerName, true);
    if (byName.Handle() != manager.Handle()) {
        return path + " is not known as " + kLoadedManagerName + ", so the module would not use it";
    }
    manager.Keep();  // loaded until the process ends
    return {};
}

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
