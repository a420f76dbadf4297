#include "manager_choice.h"

#include <dlfcn.h>

#include <cstdlib>

namespace tarnscsi::manager_choice {
namespace {

constexpr char kSupportEntry[] = "GetASPI32SupportInfo";
constexpr char kSendEntry[] = "SendASPI32Command";

std::string LastLoadError() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

}  // namespace

std::optional<std::string> RequestedSimulator(bool simulateOption, const char* variable, const std::string& builtIn) {
    if (variable != nullptr && *variable != '\0') return std::string(variable);
    if (simulateOption) return builtIn;
    return std::nullopt;
}

std::string LoadSimulator(const std::string& path) {
    // A bare name would go through the library search, which is exactly
    // what may find the real manager instead.
    if (path.find('/') == std::string::npos) {
        return "the simulator must be given by its path (with a '/'), not \"" + path + "\"";
    }
    void* const simulator = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (simulator == nullptr) return "cannot load the simulator: " + LastLoadError();
    if (dlsym(simulator, kSupportEntry) == nullptr || dlsym(simulator, kSendEntry) == nullptr) {
        dlclose(simulator);
        return path + " is not an ASPI manager (it lacks " + kSupportEntry + " or " + kSendEntry + ")";
    }
    // The module's load by name must land on this very library.
    void* const byName = dlopen(kManagerFile, RTLD_NOW | RTLD_NOLOAD);
    if (byName != nullptr) dlclose(byName);
    if (byName != simulator) {
        dlclose(simulator);
        return path + " is not known as " + kManagerFile + " (its soname), so the module would not use it";
    }
    return {};  // kept loaded until the process ends
}

std::string ApplyEnvironment() {
    const auto simulator = RequestedSimulator(false, std::getenv(kSimulatorVariable), {});
    return simulator ? LoadSimulator(*simulator) : std::string();
}

}  // namespace tarnscsi::manager_choice
