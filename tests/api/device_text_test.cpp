// What the library makes of texts devices and the manager give it, as a
// real kernel and real devices deliver them: INQUIRY fields padded with NULs
// (scsi_debug does), and the manager's report of nodes this user may not open.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "api/inquiry_text.h"
#include "api/not_found_detail.h"
#include "camera_identity.h"

namespace tarnscsi {
namespace {

TEST(InquiryText, DropsTrailingSpacesAndNulsAndMarksOtherBytes) {
    std::uint8_t reply[tarnscsi::camera::kInquiryStandardLength] = {};
    std::memcpy(reply + tarnscsi::camera::kInquiryVendorOffset, "TARN", 4);  // NUL-padded
    std::memcpy(reply + tarnscsi::camera::kInquiryProductOffset, "Neb\x01ix CCD  \0 \0", 15);
    std::memcpy(reply + tarnscsi::camera::kInquiryRevisionOffset, "1.0 ", 4);
    const InquiryText text = ReadInquiryText(reply);
    EXPECT_EQ(text.vendor, "TARN");
    EXPECT_EQ(text.product, "Neb?ix CCD");
    EXPECT_EQ(text.revision, "1.0");
}

TEST(NotFoundDetail, NamesTheNodesTheGroupAndTheRuleWhenPermissionIsDenied) {
    const std::string detail = NotFoundDetail({
        "adapter 0 = host 2, channel 0",
        "/dev/sg0 [2:0:0:0] adapter 0, target 0, lun 0: usable",
        "/dev/sg3 [2:0:4:0] adapter 0, target 4, lun 0: cannot open: Permission denied",
        "command time limit: 60 s",
    });
    EXPECT_NE(detail.find("/dev/sg3 (Permission denied)"), std::string::npos) << detail;
    EXPECT_EQ(detail.find("/dev/sg0"), std::string::npos) << detail;
    EXPECT_NE(detail.find("group plugdev"), std::string::npos) << detail;
    EXPECT_NE(detail.find("60-tarnscsi.rules"), std::string::npos) << detail;

    EXPECT_EQ(NotFoundDetail({"/dev/sg0 [2:0:0:0] adapter 0, target 0, lun 0: cannot open: Device or resource busy"}),
              "");
    EXPECT_EQ(NotFoundDetail({}), "");
}

// A device that never answered INQUIRY: its node and address, the limit it
// ran out of, and the setting that gives more time (the SCSI generic
// manager's; one without a report has none).
TEST(NotFoundDetail, NamesTheDeviceThatDidNotAnswerInTimeAndWhatGivesMoreTime) {
    ManagerNode node;
    node.node = "/dev/sg3";
    node.adapter = 0;
    node.target = 4;
    EXPECT_EQ(UnansweredDetail(0, 4, {node},
                               std::vector<std::string>{"/dev/sg3 [2:0:4:0] adapter 0, target 4, lun 0: "
                                                        "usable",
                                                        "command time limit: 60 s"}),
              "/dev/sg3 (adapter 0, target 4) did not answer INQUIRY within the time limit (command time limit: 60 s); "
              "if it is the camera and needs longer to answer, set TARNSCSI_SG_TIMEOUT to more seconds");
    const std::string windows = UnansweredDetail(1, 5, {node}, std::nullopt);
    EXPECT_EQ(windows.rfind("the device at adapter 1, target 5 did not answer INQUIRY within the time limit", 0), 0u)
        << windows;
    EXPECT_EQ(windows.find("TARNSCSI_SG_TIMEOUT"), std::string::npos) << windows;
}

// The names the message gives are the installed rule's own.
TEST(NotFoundDetail, GroupIsTheOneTheInstalledRuleGives) {
    std::ifstream rule(TARNSCSI_UDEV_RULE);
    ASSERT_TRUE(rule) << TARNSCSI_UDEV_RULE;
    std::stringstream text;
    text << rule.rdbuf();
    EXPECT_NE(text.str().find(std::string("GROUP=\"") + kDeviceGroup + "\""), std::string::npos);
    EXPECT_NE(std::string(TARNSCSI_UDEV_RULE).find(kUdevRuleFile), std::string::npos);
}

}  // namespace
}  // namespace tarnscsi
