// The simulator as a loadable library: what each build exports, and that it
// unloads cleanly unless its completion worker has started (then it must
// stay mapped for good). Loads the libraries itself; not linked to them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "common/dynamic_library.h"
#include "sim/sim_control.h"
#include "aspi.h"

namespace {

using SupportFn = std::uint32_t (*)();
using SendFn = std::uint32_t (*)(void*);
using IdentityFn = const char* (*)();
using CompletionFn = void (*)(int, std::uint32_t);

using tarnscsi::DynamicLibrary;

bool Mapped(const char* path) { return DynamicLibrary(path, true).IsLoaded(); }

TEST(LibraryTest, BrokenBuildsLackExactlyOneEntryPoint) {
    {
        const DynamicLibrary noSend(SIM_NO_SEND_PATH);
        ASSERT_TRUE(noSend.IsLoaded()) << noSend.Error();
        EXPECT_TRUE(noSend.Has("GetASPI32SupportInfo"));
        EXPECT_FALSE(noSend.Has("SendASPI32Command"));
        const auto identity = noSend.Symbol<IdentityFn>("SimIdentity");
        ASSERT_NE(identity, nullptr);
        EXPECT_STREQ(identity(), "tarnscsi-aspi-sim");
        EXPECT_FALSE(noSend.Has("SimReset"));
    }
    EXPECT_FALSE(Mapped(SIM_NO_SEND_PATH)) << "the wrapper did not release the library";

    const DynamicLibrary noSupport(SIM_NO_SUPPORT_PATH);
    ASSERT_TRUE(noSupport.IsLoaded()) << noSupport.Error();
    EXPECT_FALSE(noSupport.Has("GetASPI32SupportInfo"));
    EXPECT_TRUE(noSupport.Has("SendASPI32Command"));
}

TEST(LibraryTest, UnloadsAfterImmediateUseButStaysPinnedOnceItsWorkerRuns) {
    // Immediate completion: nothing of ours outlives the unload.
    auto library = std::make_unique<DynamicLibrary>(SIM_LIBRARY_PATH);
    ASSERT_TRUE(library->IsLoaded()) << library->Error();
    EXPECT_EQ(library->Symbol<SupportFn>("GetASPI32SupportInfo")(), 0x0101u);
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = tarnscsi::aspi::SRB_DIR_IN;
    block.SRB_CDBLen = 6;
    EXPECT_EQ(library->Symbol<SendFn>("SendASPI32Command")(&block), tarnscsi::aspi::SS_COMP);
    library.reset();
    EXPECT_FALSE(Mapped(SIM_LIBRARY_PATH));

    // Pending completion starts the worker thread, which pins the library.
    library = std::make_unique<DynamicLibrary>(SIM_LIBRARY_PATH);
    ASSERT_TRUE(library->IsLoaded()) << library->Error();
    library->Symbol<CompletionFn>("SimSetCompletion")(SIM_PENDING, 0);
    block.SRB_Status = 0;
    EXPECT_EQ(library->Symbol<SendFn>("SendASPI32Command")(&block), tarnscsi::aspi::SS_PENDING);
    library->Symbol<void (*)()>("SimReset")();
    EXPECT_EQ(block.SRB_Status, tarnscsi::aspi::SS_COMP);
    library.reset();
    EXPECT_TRUE(Mapped(SIM_LIBRARY_PATH));
}

}  // namespace
