// The simulated manager chosen as the programs choose it with --simulate,
// in the zip's layout: no wnaspi32.dll beside this program, only
// simulator\wnaspi32.dll below its folder. Run with Wine's own manager off,
// so that nothing but the chosen one can answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/manager.h>

#include "win32_test_support.h"

namespace {

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program(path, length);
    return program.substr(0, program.find_last_of('\\'));
}

TEST(SimulatorChoiceTest, OnlyTheSimulatorFolderBesideTheProgramIsUsedAndTheModuleGetsIt) {
    // Not found by the DLL search: nothing is there without the choice.
    EXPECT_EQ(LoadLibraryA(win32_test::kManagerName), nullptr);
    EXPECT_EQ(tarnscsi::SimulatorCandidates(), std::vector<std::string>{ProgramFolder() + "\\simulator\\wnaspi32.dll"});

    ASSERT_EQ(tarnscsi::UseManager({tarnscsi::ManagerKind::kSimulator, {}}), "");
    // The module's load by name lands on the chosen manager.
    HMODULE manager = LoadLibraryA(win32_test::kManagerName);
    ASSERT_NE(manager, nullptr);
    using IdentityFn = const char* (*)();
    const auto identity = win32_test::ProcAddress<IdentityFn>(manager, "SimIdentity");
    ASSERT_NE(identity, nullptr);
    EXPECT_STREQ(identity(), win32_test::kSimIdentity);
    FreeLibrary(manager);

    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    EXPECT_TRUE(tarnscsi::Camera::Open(error)) << tarnscsi::ConnectErrorText(error);
}

TEST(SimulatorChoiceTest, AManagerIsNamedByItsPath) {
    const std::string bare = tarnscsi::UseManager({tarnscsi::ManagerKind::kPath, "wnaspi32.dll"});
    EXPECT_NE(bare.find("by its path"), std::string::npos) << bare;
}

}  // namespace
