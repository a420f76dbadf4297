// The module with a manager that has no claim functions, as every Windows
// ASPI manager is: the simulator built without AspiClaimTarget and
// AspiReleaseTarget. The camera is found and driven exactly as with claims,
// and the bus sees only the commands of the session, no more.
#include <string>
#include <vector>

#include "common/dynamic_library.h"
#include "support/module_fixture.h"
#include "aspi_claim.h"

using namespace tarnscsi::testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

#if defined(_WIN32)
constexpr char kManagerName[] = "wnaspi32";
#else
constexpr char kManagerName[] = "libwnaspi32.so";
#endif

// One request as the camera must see it.
struct Expected {
    int command;  // 1 get device type, 2 execute
    int target;
    Bytes cdb;  // execute only
    int flags;
    std::uint32_t length;
};

void ExpectTraffic(const std::vector<Expected>& expected) {
    const auto requests = AllRequests();
    ASSERT_EQ(requests.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        const SimRequest& request = requests[i];
        const Expected& want = expected[i];
        EXPECT_EQ(request.command, want.command);
        EXPECT_EQ(request.haId, SIM_DEFAULT_ADAPTER);
        EXPECT_EQ(request.target, want.target);
        EXPECT_EQ(request.lun, 0);
        EXPECT_EQ(request.flags, want.flags);
        if (want.command == 2) {
            EXPECT_EQ(Cdb(request), want.cdb);
            EXPECT_EQ(request.bufferLength, want.length);
            EXPECT_EQ(request.senseLength, 14);
        }
    }
}

std::string ConnectMessage() {
    const char* error = "untouched";
    EXPECT_EQ(Connect(&error), 0);
    return error;
}

}  // namespace

using NoClaimsManager = ModuleTest;

TEST_F(NoClaimsManager, IsOursAndHasNoClaimFunctions) {
    const tarnscsi::DynamicLibrary manager(kManagerName);
    ASSERT_TRUE(manager.IsLoaded()) << manager.Error();
    EXPECT_TRUE(manager.Has("SimIdentity"));
    EXPECT_TRUE(manager.Has("SendASPI32Command"));
    EXPECT_FALSE(manager.Has(ASPI_CLAIM_TARGET_ENTRY));
    EXPECT_FALSE(manager.Has(ASPI_RELEASE_TARGET_ENTRY));
}

class NoClaimsManagerTest : public ModuleTest, public ::testing::WithParamInterface<int> {};

TEST_P(NoClaimsManagerTest, ASessionSendsExactlyItsCommands) {
    SimSetCompletion(GetParam(), 200);
    const char* error = "left alone";
    ASSERT_EQ(Connect(&error), 1) << error;
    EXPECT_STREQ(error, "left alone");
    ASSERT_NO_FATAL_FAILURE(TakeACheckedImage());
    Disconnect();
    EXPECT_EQ(Ready(), 0);

    constexpr int kIn = 0x48;
    constexpr int kOut = 0x50;
    constexpr int kCamera = SIM_DEFAULT_TARGET;
    const Bytes read2048{0x28, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0};
    ExpectTraffic({
        {1, 0, {}, 0, 0},
        {1, 1, {}, 0, 0},
        {1, 2, {}, 0, 0},
        {2, kCamera, {0x12, 0, 0, 0, 0x20, 0}, kIn, 32},
        {2, kCamera, {0x15, 0x10, 0, 0, 0x90, 0}, kOut, 144},
        {2, kCamera, {0x24, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0}, kOut, 78},
        {2, kCamera, {0x1B, 0, 0, 0, 0x01, 0}, kOut, 1},
        {2, kCamera, {0x00, 0, 0, 0, 0x90, 0}, kIn, 0},
        {2, kCamera, {0x25, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0}, kIn, 78},
        {2, kCamera, read2048, kIn, 2048},
        {2, kCamera, read2048, kIn, 2048},
        {2, kCamera, {0x1A, 0x08, 0x09, 0, 0x90, 0}, kIn, 144},
    });
}

TEST_P(NoClaimsManagerTest, ConnectingAgainFindsTheCameraEveryTime) {
    SimSetCompletion(GetParam(), 200);
    // Nothing is held between connections, replaced or ended, so nothing
    // can stand in the way of the next one.
    ConnectOk();
    ConnectOk();
    Disconnect();
    ConnectOk();
    EXPECT_EQ(Ready(), 1);
}

TEST_P(NoClaimsManagerTest, ABusWithoutTheCameraIsCameraNotFound) {
    SimSetCompletion(GetParam(), 200);
    // Another scanner is identified and passed over, never taken for a
    // camera in use.
    SimClearBus(1);
    const Bytes other = InquiryData(6, "Flatbed");
    ASSERT_EQ(SimAddDevice(0, 3, 0, 6, other.data(), static_cast<std::uint32_t>(other.size())), 0);
    EXPECT_EQ(ConnectMessage(), "Camera not found");
    ASSERT_EQ(ExecRequests(0x12).size(), 1u);
    EXPECT_EQ(ExecRequests(0x12)[0].target, 3);
}

INSTANTIATE_TEST_SUITE_P(Completion, NoClaimsManagerTest, ::testing::Values(SIM_IMMEDIATE, SIM_PENDING),
                         [](const auto& param_info) {
                             return param_info.param == SIM_IMMEDIATE ? "Immediate" : "Pending";
                         });
