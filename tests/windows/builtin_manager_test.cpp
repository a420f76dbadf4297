// Against an ASPI manager we did not write: Wine's own built-in wnaspi32,
// found in Wine's system directory because this program's directory has
// none. On a machine without SCSI adapters it reports none and refuses
// every request without signalling; the module must find no camera, refuse
// every device call, and never hang or crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "camera_commands.h"
#include <tarnscsi/tarnscsi.h>
#include "transport/aspi_transport.h"
#include "win32_test_support.h"

namespace {

constexpr int kRounds = 3;
constexpr std::uint32_t kAdapterCountMask = 0xFF;

// The manager the current connection holds: Wine's, not ours.
void ExpectWinesOwnManager() {
    HMODULE manager = GetModuleHandleA(win32_test::kManagerName);
    ASSERT_NE(manager, nullptr) << "the connection holds no wnaspi32";
    EXPECT_EQ(GetProcAddress(manager, "SimIdentity"), nullptr) << "our simulator was loaded";
    EXPECT_NE(GetProcAddress(manager, "GetASPI32SupportInfo"), nullptr);
    EXPECT_NE(GetProcAddress(manager, "SendASPI32Command"), nullptr);
}

}  // namespace

TEST(WineBuiltinManager, ConnectFindsNoCameraAndEveryExportRefuses) {
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const char* error = nullptr;
        EXPECT_EQ(Connect(&error), 0);
        EXPECT_STREQ(error, "Camera not found");
        ExpectWinesOwnManager();

        std::vector<std::uint8_t> image(64, 0xAA);
        int32_t cooling = 9;
        EXPECT_EQ(Expose(100, 0, 0, 4, 4, 0, 0), 0);
        EXPECT_EQ(Ready(), 0);
        EXPECT_EQ(Download(image.data()), 0);
        EXPECT_EQ(SetTemperature(-100), 0);
        EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
        EXPECT_EQ(cooling, 9);
        EXPECT_EQ(image, std::vector<std::uint8_t>(64, 0xAA));

        Disconnect();
        EXPECT_FALSE(win32_test::ManagerLoaded()) << "Disconnect kept the manager loaded";
        Disconnect();
    }
}

// The transport on its own, for what the module never sends on a bus
// without adapters: requests the manager refuses at once, and never
// signals, end without a wait.
TEST(WineBuiltinManager, RequestsItRefusesFailWithoutAWait) {
    tarnscsi::AspiTransport transport;
    ASSERT_TRUE(transport.IsValid()) << tarnscsi::ConnectErrorText(transport.Error());
    const tarnscsi::aspi::DWORD support = transport.GetSupportInfo();
    RecordProperty("SupportWord", static_cast<int>(support));
    if ((support & kAdapterCountMask) != 0) {
        GTEST_SKIP() << "this machine has SCSI adapters";
    }

    tarnscsi::aspi::SRB_GDEVBlock query{};
    query.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
    EXPECT_NE(transport.SendRequest(&query), tarnscsi::aspi::SS_COMP);

    const tarnscsi::camera::CommandSpec& inquiry = tarnscsi::camera::kIdentify;
    std::vector<std::uint8_t> answer(inquiry.dataLength);
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Flags = inquiry.direction;
    block.SRB_BufLen = inquiry.dataLength;
    block.SRB_BufPointer = answer.data();
    block.SRB_CDBLen = inquiry.cdbLength;
    std::copy_n(inquiry.cdb.begin(), inquiry.cdbLength, block.CDBByte);
    EXPECT_FALSE(transport.Execute(block));
}
