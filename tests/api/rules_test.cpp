// The rules every front-end shares: connect error texts, sense decoding,
// frame checks and the window a frame becomes, unit conversions, pixels.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>

using namespace tarnscsi;

TEST(ConnectErrorTest, TextsAreTheModulesMessages) {
    const std::pair<ConnectError, const char*> known[] = {
        {ConnectError::kOutOfMemory, "Out of memory"},       {ConnectError::kMissingManager, "Missing wnaspi32"},
        {ConnectError::kCorruptManager, "Corrupt wnaspi32"}, {ConnectError::kNoEvent, "Error (no event)"},
        {ConnectError::kCameraNotFound, "Camera not found"}, {ConnectError::kCameraInUse, "Camera in use"},
    };
    for (const auto& [error, text] : known) {
        EXPECT_STREQ(ConnectErrorText(error), text);
        EXPECT_STRNE(ConnectAdvice(error), "") << text;
    }
    EXPECT_STREQ(ConnectErrorText(ConnectError::kNone), "");
}

// One wording of a failure for every program: the command, how it ended
// and what to try; Connect's message, what more the library said, then the
// advice.
TEST(FailureTextTest, NamesTheCommandTheSenseAndTheAdvice) {
    constexpr std::uint8_t kModeSenseOpcode = 0x1A;
    constexpr std::uint8_t kRequestError = 0x04;
    constexpr std::uint8_t kCheckCondition = 0x02;
    constexpr std::uint8_t kNotReady = 0x02;
    CommandResult failed;
    failed.cdb[0] = kModeSenseOpcode;
    failed.cdbLength = 6;
    failed.sent = true;
    failed.srbStatus = kRequestError;
    failed.targetStatus = kCheckCondition;
    failed.sense = {true, kNotReady, 0, 0};
    const std::string text = failed.Explained();
    EXPECT_EQ(text.rfind("MODE SENSE(6): ", 0), 0u) << text;
    EXPECT_NE(text.find("NOT READY"), std::string::npos) << text;
    ASSERT_FALSE(failed.Advice().empty());
    EXPECT_EQ(text, failed.Describe() + "; " + failed.Advice());

    const std::string connect = ConnectFailureExplained(ConnectError::kMissingManager, "");
    EXPECT_EQ(connect, std::string("Missing wnaspi32; ") + ConnectAdvice(ConnectError::kMissingManager));
    // Who holds the camera, between the message and the advice.
    const std::string inUse = ConnectFailureExplained(ConnectError::kCameraInUse, "in use by tarnscsi, PID 4242");
    EXPECT_EQ(inUse, std::string("Camera in use (in use by tarnscsi, PID 4242); ") +
                         ConnectAdvice(ConnectError::kCameraInUse));
}

TEST(SenseTest, FixedAndDescriptorFormatsDecodeAlike) {
    std::uint8_t fixed[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    const Sense a = DecodeSense(fixed, 14);
    ASSERT_TRUE(a.valid);
    EXPECT_EQ(a.Describe(), "ILLEGAL REQUEST, invalid field in CDB (5/24/00)");

    const std::uint8_t descriptor[8] = {0x72, 0x02, 0x04, 0x01};
    const Sense b = DecodeSense(descriptor, sizeof descriptor);
    ASSERT_TRUE(b.valid);
    EXPECT_EQ(b.Describe(), "NOT READY, logical unit is in process of becoming ready (2/04/01)");

    // Deferred errors and the valid bit (0x80) decode the same way.
    fixed[0] = 0xF1;
    EXPECT_TRUE(DecodeSense(fixed, 14).valid);
}

TEST(SenseTest, ShortOrForeignSenseIsNotTakenForMeaning) {
    const std::uint8_t fixed[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    EXPECT_FALSE(DecodeSense(fixed, 13).valid);  // ASCQ missing
    EXPECT_FALSE(DecodeSense(fixed, 0).valid);
    EXPECT_FALSE(DecodeSense(nullptr, 14).valid);
    const std::uint8_t zeros[14] = {};
    EXPECT_FALSE(DecodeSense(zeros, sizeof zeros).valid);
    EXPECT_EQ(Sense{}.Describe(), "none");
    // Codes outside the table still show as numbers.
    const std::uint8_t vendor[14] = {0x70, 0, 0x09, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x80, 0x01};
    EXPECT_EQ(DecodeSense(vendor, sizeof vendor).Describe(), "VENDOR SPECIFIC (9/80/01)");
}

TEST(FrameTest, FramesOnTheSensorPassAndOthersSayWhy) {
    EXPECT_EQ(FrameProblem(Frame{}), "");
    EXPECT_EQ(FrameProblem(Frame{767, 511, 1, 1, 1}), "");
    EXPECT_EQ(FrameProblem(Frame{766, 510, 2, 2, 2}), "");
    EXPECT_NE(FrameProblem(Frame{767, 511, 1, 1, 2}), "");  // smaller than one binned pixel
    EXPECT_EQ(FrameProblem(Frame{100, 51, 200, 100, 2}),
              "with 2x2 binning the origin (100, 51) must be a multiple of 2, so that the image header (XORGSUBF, "
              "YORGSUBF in binned pixels) can record it exactly");
    EXPECT_NE(FrameProblem(Frame{0, 0, 769, 512, 1}), "");
    EXPECT_NE(FrameProblem(Frame{-1, 0, 10, 10, 1}), "");
    EXPECT_NE(FrameProblem(Frame{0, 0, 0, 10, 1}), "");
    EXPECT_EQ(FrameProblem(Frame{0, 0, 10, 10, 3}), "the camera bins 1x1 or 2x2 only, not 3x3");
}

TEST(FrameTest, HugeValuesNeverWrapOntoTheSensor) {
    EXPECT_NE(FrameProblem(Frame{1, 0, INT_MAX, 10, 1}), "");
    EXPECT_NE(FrameProblem(Frame{INT_MAX, 0, INT_MAX, 10, 1}), "");
    EXPECT_NE(FrameProblem(Frame{INT_MIN, 0, INT_MAX, 10, 1}), "");
    EXPECT_NE(FrameProblem(Frame{0, INT_MAX, 10, 2, 1}), "");
}

TEST(FrameTest, ABinnedFrameBecomesTheWindowTheCameraBins) {
    const ExposureSettings window = WindowFor(Frame{3, 5, 101, 61, 2}, 1500);
    EXPECT_EQ(window, (ExposureSettings{1500, 3, 5, 100, 60, 1, 0}));
    EXPECT_EQ(FrameOf(window), (Frame{3, 5, 100, 60, 2}));
    EXPECT_EQ(ImageBytes(window), 50u * 30 * 2);
    EXPECT_EQ(WindowFor(Frame{3, 5, 101, 61, 1}, 0).width, 101);
    EXPECT_EQ(BinnedOrigin(3, 2), 1);
    EXPECT_EQ(BinnedSize(101, 2), 50);
}

TEST(FrameTest, AReportedWindowOffTheSensorIsNamed) {
    EXPECT_EQ(ReportedWindowProblem({10, 0, 0, 768, 512, 0, 0}), "");
    EXPECT_NE(ReportedWindowProblem({10, 1, 0, 768, 512, 0, 0}), "");
    EXPECT_NE(ReportedWindowProblem({-1, 0, 0, 768, 512, 0, 0}), "");
    EXPECT_NE(ReportedWindowProblem({10, 0, 0, 65536, 32768, 0, 0}), "");
    EXPECT_EQ(ImageBytes({0, 0, 0, 65536, 32768, 0, 0}), std::uint64_t{1} << 32);
}

TEST(UnitsTest, ConversionsRoundToTheCamerasResolution) {
    EXPECT_EQ(CelsiusToTenths(-10.04), -100);
    EXPECT_EQ(CelsiusToTenths(-10.05), -101);
    EXPECT_DOUBLE_EQ(TenthsToCelsius(-105), -10.5);
    EXPECT_EQ(SecondsToMilliseconds(kMaxExposureSeconds), INT32_MAX);
    EXPECT_EQ(SecondsToMilliseconds(0.0004), 0);
    EXPECT_DOUBLE_EQ(DriveToPercent(255), 100.0);
    EXPECT_EQ(PercentToDrive(DriveToPercent(128)), 128);
}

TEST(PixelsTest, TheCamerasByteOrderBecomesTheMachines) {
    const std::vector<std::uint8_t> bytes = {0x12, 0x34, 0xFF, 0x00, 0x01};
    std::vector<std::uint16_t> pixels(3, 0xAAAA);
    PixelsFromCamera(bytes, pixels);
    EXPECT_EQ(pixels, (std::vector<std::uint16_t>{0x1234, 0xFF00, 0xAAAA}));
    std::vector<std::uint8_t> inPlace = bytes;
    PixelsFromCameraInPlace(inPlace);
    std::uint16_t first = 0;
    std::memcpy(&first, inPlace.data(), sizeof first);
    EXPECT_EQ(first, 0x1234);
    EXPECT_EQ(inPlace[4], 0x01);
}

#if !defined(_WIN32)  // the manager is chosen by path on POSIX systems only
TEST(ManagerChoiceTest, TheNamedSimulatorComesFirstThenPlacesBesideTheProgram) {
    ASSERT_EQ(setenv(kSimulatorVariable, "/opt/elsewhere/libwnaspi32.so", 1), 0);
    const std::vector<std::string> candidates = SimulatorCandidates();
    unsetenv(kSimulatorVariable);
    ASSERT_GE(candidates.size(), 3u);
    EXPECT_EQ(candidates[0], "/opt/elsewhere/libwnaspi32.so");
    // Every other place is a folder beside the running program (here the
    // test, in build/.../tests/api/), never one compiled in.
    const std::string besideProgram = "/tests/sim/" + std::string(kManagerFile);
    bool found = false;
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        EXPECT_EQ(candidates[i].front(), '/') << candidates[i];
        EXPECT_EQ(candidates[i].rfind('/'), candidates[i].size() - std::strlen(kManagerFile) - 1) << candidates[i];
        found = found || candidates[i].ends_with(besideProgram);
    }
    EXPECT_TRUE(found) << "no candidate in the build tree's sim/ beside the program";
}

TEST(ManagerChoiceTest, AManagerMustBeNamedByItsPath) {
    const std::string error = UseManager({ManagerKind::kPath, "libwnaspi32.so"});
    EXPECT_NE(error.find("by its path"), std::string::npos) << error;
    const std::string missing = UseManager({ManagerKind::kPath, "/nonexistent/libwnaspi32.so"});
    EXPECT_NE(missing.find("cannot load /nonexistent/libwnaspi32.so"), std::string::npos) << missing;
    EXPECT_EQ(UseManager({ManagerKind::kInstalled, {}}), "");
}
#endif
