// Two programs and one camera on Windows, with a manager that has no claims
// of its own (our simulator built without them, as every Windows ASPI
// manager is): the module claims the camera for the user's session. While
// one program holds it through the DLL's Connect, Connect in another fails
// and the tool is refused naming the holder, writing nothing; once the
// holder is killed, both work again. A copy of the module unloaded while
// connected lets the camera go, and a claim that cannot be made is told for
// what it is. Started with kHoldArgument, this
// program is the holder: it connects, signals the event it was given and
// waits to be killed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include <tarnscsi/tarnscsi.h>

#include "import_patch.h"
#include "win32_test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr char kHoldArgument[] = "--hold";
// Every wait on another process ends after this long; a holder nobody
// kills gives up after twice as long.
constexpr DWORD kWaitMilliseconds = 60000;

// A started process (sharing this one's inheritable handles), killed at the end.
class Process {
public:
    Process(std::string commandLine, const fs::path& workDir, HANDLE output = nullptr) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (output != nullptr) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = startup.hStdError = output;
        }
        const std::string dir = workDir.string();
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &startup,
                            &info))
            ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
    }
    ~Process() {
        Kill();
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The exit code; a process still running after the time limit is killed.
    DWORD Wait() {
        EXPECT_EQ(WaitForSingleObject(info.hProcess, kWaitMilliseconds), WAIT_OBJECT_0) << "still running";
        Kill();
        DWORD code = ~DWORD{0};
        GetExitCodeProcess(info.hProcess, &code);
        return code;
    }
    // Ends it as a crash would, and waits until it is gone.
    void Kill() {
        if (info.hProcess == nullptr || WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) return;
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, kWaitMilliseconds);
    }

    PROCESS_INFORMATION info{};
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

class SessionClaimTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        // The tool gets the manager this program has, and an instant clock.
        SetEnvironmentVariableA("TARNSCSI_SIMULATOR", NO_CLAIMS_MANAGER);
        SetEnvironmentVariableA("TARNSCSI_SIM", "time-scale=0");
    }
    void TearDown() override { fs::remove_all(dir); }

    // `tarnscsi expose 1 -o frame.fits` in the output folder: its exit code
    // and what it said.
    std::pair<DWORD, std::string> ExposeWithTool() {
        const fs::path said = dir / "said.txt";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE output = CreateFileA(said.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD code = Process(Quoted(TOOL_PATH) + " expose 1 -o frame.fits", dir / "out", output).Wait();
        CloseHandle(output);
        std::stringstream text;
        text << std::ifstream(said).rdbuf();
        return {code, text.str()};
    }

    const fs::path dir = fs::temp_directory_path() / ("tarnscsi-claim-" + std::to_string(GetCurrentProcessId()));
};

int Hold(HANDLE ready) {
    const char* error = nullptr;
    if (Connect(&error) != 1) return 2;
    SetEvent(ready);
    Sleep(2 * kWaitMilliseconds);
    return 3;
}

}  // namespace

TEST_F(SessionClaimTest, AnotherProgramIsRefusedNamingTheHolderUntilTheHolderIsKilled) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE ready = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const auto readyValue = std::to_string(reinterpret_cast<std::uintptr_t>(ready));
    Process holder(Quoted(self) + " " + kHoldArgument + " " + readyValue, dir);
    const HANDLE either[] = {ready, holder.info.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, either, FALSE, kWaitMilliseconds), WAIT_OBJECT_0) << "the holder failed";
    CloseHandle(ready);

    // The DLL in this process, and the tool: refused, the tool told who holds
    // the camera and what to do, and nothing written.
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera in use");
    Disconnect();
    auto [code, said] = ExposeWithTool();
    EXPECT_EQ(code, 1u) << said;
    const std::string holderName = "session_claim_test.exe, PID " + std::to_string(holder.info.dwProcessId);
    EXPECT_NE(said.find("Camera in use (camera at adapter 0, target 2 is in use by " + holderName +
                        "); another "
                        "program is connected to the camera: disconnect it there"),
              std::string::npos)
        << said;
    EXPECT_TRUE(fs::is_empty(dir / "out"));

    // Killed, the holder lets go: the next programs connect.
    holder.Kill();
    std::tie(code, said) = ExposeWithTool();
    EXPECT_EQ(code, 0u) << said;
    EXPECT_TRUE(fs::exists(dir / "out" / "frame.fits"));
    EXPECT_EQ(Connect(&error), 1) << error;
    Disconnect();
}

// A second copy of the module in this process (another file, as under
// another name) is another connection: refused while the first holds the
// camera. Unloaded without Disconnect, that copy gives the camera back.
TEST_F(SessionClaimTest, ACopyOfTheModuleUnloadedWhileConnectedLetsTheCameraGo) {
    char module[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(GetModuleHandleA("TARNSCSI.dll"), module, sizeof module), 0u);
    const fs::path copy = dir / "TARNSCSI-copy.dll";
    fs::copy_file(module, copy);
    HMODULE loaded = LoadLibraryA(copy.string().c_str());
    ASSERT_NE(loaded, nullptr) << "error " << GetLastError();
    const auto connect = win32_test::ProcAddress<std::int32_t(__cdecl*)(const char**)>(loaded, "Connect");
    ASSERT_TRUE(connect);
    const char* error = nullptr;
    ASSERT_EQ(connect(&error), 1) << error;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera in use");
    Disconnect();
    ASSERT_TRUE(FreeLibrary(loaded));
    EXPECT_EQ(Connect(&error), 1) << error;
    Disconnect();
}

// A claim whose mapping can be neither made nor opened: no memory is said
// so, a mapping made with other rights (an elevated program's) is held,
// and a name taken by something else leaves the camera unclaimed.
namespace {
DWORD mappingRefusal = ERROR_SUCCESS;

HANDLE WINAPI RefusingCreateFileMappingA(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR) {
    SetLastError(mappingRefusal);
    return nullptr;
}
}  // namespace

TEST_F(SessionClaimTest, AClaimThatCannotBeMadeIsToldForWhatItIs) {
    struct Case {
        DWORD error;
        const char* message;  // null: connected
    };
    const Case cases[] = {{ERROR_NOT_ENOUGH_MEMORY, "Out of memory"},
                          {ERROR_COMMITMENT_LIMIT, "Out of memory"},
                          {ERROR_ACCESS_DENIED, "Camera in use"},
                          {ERROR_INVALID_HANDLE, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        mappingRefusal = c.error;
        const char* error = "untouched";
        std::int32_t result = 0;
        {
            win32_test::ImportPatch patch(GetModuleHandleA("TARNSCSI.dll"), "KERNEL32.dll", "CreateFileMappingA",
                                          win32_test::Address(&RefusingCreateFileMappingA));
            ASSERT_TRUE(patch.Applied());
            result = Connect(&error);
        }
        Disconnect();
        EXPECT_EQ(result, c.message != nullptr ? 0 : 1);
        EXPECT_STREQ(error, c.message != nullptr ? c.message : "untouched");
    }
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kHoldArgument) {
        return Hold(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(argv[2]))));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
