// Runs a program (the built tool, fitsverify) as a child process in a given
// folder, with a given library path, and collects its exit code and output.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::tool_test {

struct ProcessResult {
    int exitCode = -1;  // -1 when the child did not exit normally
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::filesystem::path workDir = ".";
    std::optional<std::string> libraryPath;  // LD_LIBRARY_PATH for the child
    // RLIMIT_FSIZE for the child, with SIGXFSZ ignored: writes beyond this size
    // fail (EFBIG) as they would on a full disk.
    std::optional<unsigned long> fileSizeLimit;
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// A fresh empty folder, removed with everything in it on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path; }
    // Names of everything in the folder, hidden files included, sorted.
    std::vector<std::string> Entries() const;

private:
    std::filesystem::path path;
};

}  // namespace tarnscsi::tool_test