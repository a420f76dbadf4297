#include "support/tool_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tarnscsi::tool_test {

namespace {

constexpr int kExecFailed = 127;

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    TempFolder capture;
    const std::string outPath = (capture.Path() / "out").string();
    const std::string errPath = (capture.Path() / "err").string();

    // Everything the child needs is prepared before fork.
    std::vector<std::string> envStrings;
    const auto replaced = [&options](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        if (name == "LD_LIBRARY_PATH=") return true;
        return std::any_of(options.environment.begin(), options.environment.end(),
                           [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
    };
    for (char** e = environ; *e != nullptr; ++e) {
        if (!replaced(*e)) envStrings.emplace_back(*e);
    }
    envStrings.insert(envStrings.end(), options.environment.begin(), options.environment.end());
    if (options.libraryPath) envStrings.push_back("LD_LIBRARY_PATH=" + *options.libraryPath);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    const std::string workDir = options.workDir.string();
    const std::string stdoutPath = options.stdoutPath.value_or(outPath);

    // SIGINT stays blocked from before the fork until the child ignores it,
    // so that none sent early can end the child.
    sigset_t interrupt, previous;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    if (options.ignoreInterrupts) sigprocmask(SIG_BLOCK, &interrupt, &previous);
    int closedPipe[2] = {-1, -1};
    if (options.stdoutPipeClosed && pipe(closedPipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid != 0 && options.stdoutPipeClosed) {
        close(closedPipe[0]);
        close(closedPipe[1]);
    }
    if (pid != 0 && options.ignoreInterrupts) sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (pid == 0) {
        if (options.stdoutPipeClosed) close(closedPipe[0]);
        const int out =
            options.stdoutPipeClosed ? closedPipe[1] : open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = options.mergeOutput ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(kExecFailed);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        if (chdir(workDir.c_str()) != 0) _exit(kExecFailed);
        for (const int descriptor : options.closedDescriptors) close(descriptor);
        if (options.fileSizeLimit) {
            if (!options.fileSizeSignal) signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.ignoreInterrupts) {
            signal(SIGINT, SIG_IGN);
            sigprocmask(SIG_SETMASK, &previous, nullptr);
        }
        execve(argp[0], argp.data(), envp.data());
        _exit(kExecFailed);
    }
    if (options.whileRunning) options.whileRunning(pid, options.mergeOutput ? outPath : errPath);
    int status = 0;
    waitpid(pid, &status, 0);
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = options.stdoutPath || options.stdoutPipeClosed ? std::string() : ReadAll(outPath);
    result.err = ReadAll(errPath);
    return result;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnscsi_tool_test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> TempFolder::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tarnscsi::tool_test