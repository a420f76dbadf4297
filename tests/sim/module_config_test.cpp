// SimConfigure, the text form of the simulator's settings (the syntax of
// TARNSCSI_SIM), as the module meets it: the bus it lays out, and items it
// ignores with a message.
#include <string>

#include "core/aspi_entry.h"
#include "module_support.h"

namespace tarnscsi::simmodule {
namespace {

constexpr std::uint32_t kAdapterCountMask = 0xFF;
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kExecute = 0x02;

// Where the module's last TEST UNIT READY went.
std::pair<int, int> LastTestUnitReadyAddress() {
    SimRequest request{};
    for (std::uint32_t i = SimLogCount(); i-- > 0;) {
        SimLogGet(i, &request);
        if (request.command == kExecute && request.cdb[0] == kTestUnitReady) {
            return {request.haId, request.target};
        }
    }
    return {-1, -1};
}

class ModuleConfigTest : public SimModuleTest {
protected:
    void SetUp() override {
        SimModuleTest::SetUp();
        Disconnect();
    }
};

TEST_F(ModuleConfigTest, TheModuleFindsTheCameraWhereTheTextPutsIt) {
    ASSERT_EQ(SimConfigure(" adapters=2, device=0:2:scanner:Flatbed, camera=1:3,device=1:1:cdrom"), 0);
    EXPECT_EQ(GetASPI32SupportInfo() & kAdapterCountMask, 2u);
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << error;
    SimLogClear();
    EXPECT_EQ(Ready(), 1);
    EXPECT_EQ(LastTestUnitReadyAddress(), std::make_pair(1, 3));
}

TEST_F(ModuleConfigTest, BadItemsAreReportedOnceEachAndTheRestApplies) {
    testing::internal::CaptureStderr();
    const int ignored =
        SimConfigure("frobnicate=1,time-scale=-1, camera=3:1 ,ambient=hot,ambient=25,fault=read:0:1:refuse");
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ignored, 4);
    for (const char* item : {"frobnicate=1", "time-scale=-1", "camera", "ambient=hot"}) {
        EXPECT_NE(messages.find(item), std::string::npos) << item << " in:\n" << messages;
    }
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << "a camera off the bus is ignored: the default stays";
    std::int32_t drive = 0;
    EXPECT_EQ(GetCoolingInfo(&drive), 250);
    EXPECT_EQ(Expose(0, 0, 0, 4, 4, 0, 0), 1);
    std::vector<std::uint8_t> image(32);
    EXPECT_EQ(Download(image.data()), 0) << "the injected fault";
}

// A camera where the module never looks would only end in "Camera not
// found": the text is refused, saying why, and the bus stays as it was.
TEST_F(ModuleConfigTest, ACameraWhereTheModuleNeverLooksIsRefusedWithTheReason) {
    const struct {
        const char* text;
        const char* item;  // how the message names the item
        const char* reason;
    } cases[] = {
        {"camera=0:9", "\"camera=0:9\"", "targets 0-7, lun 0"},
        {"camera=0:3:1", "\"camera=0:3:1\"", "targets 0-7, lun 0"},
        {"camera=2:3", "camera on adapter 2", "set adapters=3 or more"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(SimConfigure(c.text), 1);
        const std::string messages = testing::internal::GetCapturedStderr();
        EXPECT_NE(messages.find(c.item), std::string::npos) << messages;
        EXPECT_NE(messages.find(c.reason), std::string::npos) << messages;
        const char* error = nullptr;
        ASSERT_EQ(Connect(&error), 1) << error;
        SimLogClear();
        EXPECT_EQ(Ready(), 1);
        EXPECT_EQ(LastTestUnitReadyAddress(), std::make_pair(0, 2)) << "the camera where it was";
        Disconnect();
    }
}

}  // namespace
}  // namespace tarnscsi::simmodule