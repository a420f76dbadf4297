// Runs a program (the built tool, fitsverify) as a child process in a given
// folder, with a given library path, and collects its exit code and output.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::tool_test {

struct ProcessResult {
    int exitCode = -1;  // -1 when the child did not exit normally
    int signal = 0;     // the signal that ended it, if one did
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::filesystem::path workDir = ".";
    std::optional<std::string> libraryPath;  // LD_LIBRARY_PATH for the child
    // RLIMIT_FSIZE for the child, with SIGXFSZ ignored: writes beyond this size
    // fail (EFBIG) as they would on a full disk.
    std::optional<unsigned long> fileSizeLimit;
    bool fileSizeSignal = false;            // with fileSizeLimit: SIGXFSZ left at its default (ends the child)
    bool mergeOutput = false;               // stderr into the same file as stdout, in order
    std::optional<std::string> stdoutPath;  // stdout to this file instead (e.g. /dev/full)
    bool stdoutPipeClosed = false;          // stdout a pipe whose reader has gone (as after "| head -c 0")
    bool ignoreInterrupts = false;          // SIGINT ignored until the program sets its own handler
    std::vector<int> closedDescriptors;     // closed when the program starts (as by ">&-")
    std::vector<std::string> environment;   // NAME=VALUE added to (or replacing in) the child's
    // Called in this process while the child runs, with its id and the path
    // its stderr is written to.
    std::function<void(pid_t, const std::filesystem::path&)> whileRunning;
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