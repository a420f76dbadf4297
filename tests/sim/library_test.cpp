// The simulator as a loadable library: what each build exports, and that it
// unloads cleanly unless its completion worker has started (then it must
// stay mapped for good). Loads the libraries itself; not linked to them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "sim/sim_control.h"
#include "transport/aspi.h"

namespace {

using SupportFn = std::uint32_t (*)();
using SendFn = std::uint32_t (*)(void*);
using IdentityFn = const char* (*)();
using CompletionFn = void (*)(int, std::uint32_t);

template <typename Fn>
Fn Symbol(void* library, const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

bool Mapped(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
}

TEST(LibraryTest, BrokenBuildsLackExactlyOneEntryPoint) {
    void* noSend = dlopen(SIM_NO_SEND_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(noSend, nullptr) << dlerror();
    EXPECT_NE(dlsym(noSend, "GetASPI32SupportInfo"), nullptr);
    EXPECT_EQ(dlsym(noSend, "SendASPI32Command"), nullptr);
    ASSERT_NE(dlsym(noSend, "SimIdentity"), nullptr);
    EXPECT_STREQ(Symbol<IdentityFn>(noSend, "SimIdentity")(), "tarnscsi-aspi-sim");
    EXPECT_EQ(dlsym(noSend, "SimReset"), nullptr);
    dlclose(noSend);

    void* noSupport = dlopen(SIM_NO_SUPPORT_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(noSupport, nullptr) << dlerror();
    EXPECT_EQ(dlsym(noSupport, "GetASPI32SupportInfo"), nullptr);
    EXPECT_NE(dlsym(noSupport, "SendASPI32Command"), nullptr);
    dlclose(noSupport);
}

TEST(LibraryTest, UnloadsAfterImmediateUseButStaysPinnedOnceItsWorkerRuns) {
    // Immediate completion: nothing of ours outlives dlclose.
    void* library = dlopen(SIM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(Symbol<SupportFn>(library, "GetASPI32SupportInfo")(), 0x0101u);
    aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = aspi::SRB_DIR_IN;
    block.SRB_CDBLen = 6;
    EXPECT_EQ(Symbol<SendFn>(library, "SendASPI32Command")(&block), aspi::SS_COMP);
    dlclose(library);
    EXPECT_FALSE(Mapped(SIM_LIBRARY_PATH));

    // Pending completion starts the worker thread, which pins the library.
    library = dlopen(SIM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    Symbol<CompletionFn>(library, "SimSetCompletion")(SIM_PENDING, 0);
    block.SRB_Status = 0;
    EXPECT_EQ(Symbol<SendFn>(library, "SendASPI32Command")(&block), aspi::SS_PENDING);
    Symbol<void (*)()>(library, "SimReset")();
    EXPECT_EQ(block.SRB_Status, aspi::SS_COMP);
    dlclose(library);
    EXPECT_TRUE(Mapped(SIM_LIBRARY_PATH));
}

}  // namespace
