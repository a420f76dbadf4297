#include "output_plan.h"

#include <filesystem>
#include <string>
#include <unordered_map>

#include "errors.h"
#include "interrupt.h"
#include "pending_file.h"

namespace tarnscsi::tool {

namespace fs = std::filesystem;

namespace {

// Resolves each folder once: a sequence's names mostly share one.
class PathResolver {
public:
    // The path with its folder resolved (links, "..", "."), the name kept.
    std::string Resolve(const fs::path& path) {
        const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
        auto found = folders.find(folder.string());
        if (found == folders.end()) {
            std::error_code error;
            fs::path resolved = fs::weakly_canonical(fs::absolute(folder, error), error);
            if (error) resolved = fs::absolute(folder).lexically_normal();
            found = folders.emplace(folder.string(), resolved).first;
        }
        return (found->second / path.filename()).string();
    }
    const std::unordered_map<std::string, fs::path>& Folders() const { return folders; }

private:
    std::unordered_map<std::string, fs::path> folders;
};

struct PlannedOutput {
    std::string name;  // as the user gave it, expanded
    std::string role;  // "the FITS of frame 3"
};

std::string Role(const char* what, int number, int count) {
    return count > 1 ? std::string(what) + " of frame " + std::to_string(number) : std::string(what);
}

}  // namespace

void CheckOutputs(const ExposeRequest& request) {
    if (request.toStandardOutput) return;
    PathResolver resolver;
    std::unordered_map<std::string, PlannedOutput> planned;
    const auto plan = [&](const std::string& name, const std::string& role) {
        const auto [where, fresh] = planned.try_emplace(resolver.Resolve(name), PlannedOutput{name, role});
        if (!fresh) {
            throw UsageError(role + " (" + name + ") and " + where->second.role + " (" + where->second.name +
                             ") are the same file; give them different names");
        }
        CheckWritable(name, request.overwrite);
    };
    for (int number = 1; number <= request.count; ++number) {
        ThrowIfInterrupted();
        plan(request.output.Expand(number), Role("the FITS", number, request.count));
        // A preview name without a counter is written again for every frame.
        if (request.preview && (number == 1 || request.preview->HasCounter())) {
            plan(request.preview->Expand(number),
                 Role("the preview", number, request.preview->HasCounter() ? request.count : 1));
        }
    }
    for (const auto& [name, folder] : resolver.Folders()) RemoveStaleTemporaries(folder);
}

}  // namespace tarnscsi::tool
