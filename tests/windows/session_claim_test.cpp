// Two programs and one camera on Windows, with a manager that has no claims
// of its own (our simulator built without them, as every Windows ASPI
// manager is): the module claims the camera for the user's session. While
// one program holds it through the DLL's Connect, Connect in another fails
// and the tool is refused naming the holder, writing nothing; once the
// holder is killed, both work again.
//
// The program is its own holder: started with kHoldArgument it connects,
// signals the event handle it was given and waits to be killed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <tarnscsi/tarnscsi.h>

#include "win32_test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr char kHoldArgument[] = "--hold";
// Every wait on another process ends after this long.
constexpr DWORD kWaitMilliseconds = 60000;
// A holder nobody kills gives up after this long.
constexpr DWORD kHoldMilliseconds = 2 * kWaitMilliseconds;
constexpr int kHolderFailed = 2;
constexpr DWORD kToolFailure = 1;

// A started process, killed when still running at the end.
class Process {
public:
    Process(const std::string& commandLine, const fs::path& workDir, HANDLE errorOutput) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (errorOutput != nullptr) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = errorOutput;
            startup.hStdError = errorOutput;
        }
        std::string line = commandLine;
        const std::string dir = workDir.string();
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &startup, &info)) {
            info = {};
        }
    }
    ~Process() {
        Kill();
        if (info.hProcess != nullptr) CloseHandle(info.hProcess);
        if (info.hThread != nullptr) CloseHandle(info.hThread);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return info.hProcess != nullptr; }
    HANDLE Handle() const { return info.hProcess; }
    DWORD Id() const { return info.dwProcessId; }
    // The exit code, once it ended within the time limit; else it is killed.
    DWORD Wait() {
        if (WaitForSingleObject(info.hProcess, kWaitMilliseconds) != WAIT_OBJECT_0) {
            Kill();
            ADD_FAILURE() << "a process did not end within " << kWaitMilliseconds << " ms";
        }
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        return code;
    }
    // Ends it as a crash would, and waits until it is gone.
    void Kill() {
        if (info.hProcess == nullptr || WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) return;
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, kWaitMilliseconds);
    }

private:
    PROCESS_INFORMATION info{};
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ThisProgram() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

class SessionClaimTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tarnscsi-session-claim-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        // The tool uses the same manager as this program, and an instant clock.
        SetEnvironmentVariableA("TARNSCSI_SIMULATOR", NO_CLAIMS_MANAGER);
        SetEnvironmentVariableA("TARNSCSI_SIM", "time-scale=0");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    struct ToolRun {
        DWORD exitCode;
        std::string said;  // stdout and stderr
    };
    // `tarnscsi expose 1 -o frame.fits` in the output folder.
    ToolRun ExposeWithTool() {
        const fs::path said = dir / "said.txt";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE output = CreateFileA(said.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(output, INVALID_HANDLE_VALUE);
        DWORD code = ~DWORD{0};
        {
            Process tool(Quoted(TOOL_PATH) + " expose 1 -o frame.fits", dir / "out", output);
            EXPECT_TRUE(tool.Started()) << "error " << GetLastError();
            if (tool.Started()) code = tool.Wait();
        }
        CloseHandle(output);
        std::ifstream in(said);
        std::stringstream text;
        text << in.rdbuf();
        return {code, text.str()};
    }

    bool OutputFolderEmpty() const { return fs::is_empty(dir / "out"); }

    fs::path dir;
};

// Connects through the DLL, signals `ready` and waits to be killed.
int Hold(HANDLE ready) {
    const char* error = nullptr;
    if (Connect(&error) != 1) {
        std::fprintf(stderr, "holder: Connect failed: %s\n", error != nullptr ? error : "");
        return kHolderFailed;
    }
    SetEvent(ready);
    Sleep(kHoldMilliseconds);
    return kHolderFailed;
}

}  // namespace

TEST_F(SessionClaimTest, AnotherProgramIsRefusedNamingTheHolderUntilTheHolderIsKilled) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE ready = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    ASSERT_NE(ready, nullptr);
    const auto readyValue = reinterpret_cast<std::uintptr_t>(ready);
    Process holder(Quoted(ThisProgram()) + " " + kHoldArgument + " " + std::to_string(readyValue), dir, nullptr);
    ASSERT_TRUE(holder.Started()) << "error " << GetLastError();
    const HANDLE either[] = {ready, holder.Handle()};
    const DWORD woken = WaitForMultipleObjects(2, either, FALSE, kWaitMilliseconds);
    CloseHandle(ready);
    ASSERT_EQ(woken, WAIT_OBJECT_0) << "the holder did not connect";

    // The DLL in this process: refused.
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera in use");
    Disconnect();

    // The tool: refused, told who holds the camera and what to do, nothing written.
    const std::string holderName = "session_claim_test.exe, PID " + std::to_string(holder.Id());
    ToolRun run = ExposeWithTool();
    EXPECT_EQ(run.exitCode, kToolFailure) << run.said;
    EXPECT_NE(run.said.find("Camera in use (camera at adapter 0, target 2 is in use by " + holderName + ")"),
              std::string::npos)
        << run.said;
    EXPECT_NE(run.said.find("disconnect it there"), std::string::npos) << run.said;
    EXPECT_TRUE(OutputFolderEmpty());

    // Killed, the holder lets go: the next programs connect.
    holder.Kill();
    run = ExposeWithTool();
    EXPECT_EQ(run.exitCode, 0u) << run.said;
    EXPECT_TRUE(fs::exists(dir / "out" / "frame.fits"));
    EXPECT_EQ(Connect(&error), 1) << error;
    Disconnect();
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kHoldArgument) {
        return Hold(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoull(argv[2], nullptr, 10))));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
