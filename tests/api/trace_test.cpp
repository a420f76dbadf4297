// The command trace: one line per command, the same conversation every time
// for the same session (checked against a kept transcript), nothing when off.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>

#include "sim_control.h"

using tarnscsi::Camera;
using tarnscsi::ConnectError;

namespace {

// Durations differ from run to run; everything else must not.
std::string WithoutDuration(const std::string& line) {
    static const std::regex kDuration(R"( [0-9]+\.[0-9]{3} ms$)");
    return std::regex_replace(line, kDuration, " <duration>");
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        tarnscsi::SetTraceSink([this](const std::string& line) { lines.push_back(WithoutDuration(line)); });
    }
    void TearDown() override {
        tarnscsi::StopTrace();
        SimReset();
    }
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(TraceTest, ATypicalExposureTalksAsTheTranscriptSays) {
    SimSetCompletion(SIM_PENDING, 50);
    ConnectError error = ConnectError::kNone;
    auto camera = Camera::Open(error);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->SetTemperature(-100));
    ASSERT_TRUE(camera->Expose({1000, 16, 8, 64, 34, 1, 0}));  // binned: 32 x 17 pixels
    ASSERT_TRUE(camera->Ready());
    std::vector<std::uint8_t> image(32 * 17 * 2);
    const tarnscsi::DownloadResult downloaded = camera->Download(image);
    ASSERT_TRUE(downloaded) << downloaded.message;
    ASSERT_TRUE(camera->ReadCooling());
    SimAddFault(0x00, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_FALSE(camera->Ready());

    // After a deliberate change of the conversation, TARNSCSI_UPDATE_GOLDEN=1
    // rewrites the transcript; review its diff before committing it.
    if (const char* update = std::getenv("TARNSCSI_UPDATE_GOLDEN"); update != nullptr && *update == '1') {
        std::ofstream out(TARNSCSI_GOLDEN_TRACE);
        out << "# The trace of a typical exposure against the simulated camera (durations masked).\n";
        for (const std::string& line : lines) out << line << '\n';
    }
    const std::vector<std::string> expected = ReadLines(TARNSCSI_GOLDEN_TRACE);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < std::min(lines.size(), expected.size()); ++i) {
        EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    }
}

TEST_F(TraceTest, NothingIsWrittenWhenOff) {
    tarnscsi::StopTrace();
    EXPECT_FALSE(tarnscsi::TraceEnabled());
    ConnectError error = ConnectError::kNone;
    auto camera = Camera::Open(error);
    ASSERT_TRUE(camera);
    EXPECT_TRUE(camera->Ready());
    EXPECT_TRUE(lines.empty());
}

// A sink may hand the trace on or stop it from within its own call; the
// sink replaced is not called again, and its captures stay alive until its
// call ends.
TEST_F(TraceTest, ASinkMayReplaceOrStopTheTraceFromItsOwnCall) {
    ConnectError error = ConnectError::kNone;
    auto camera = Camera::Open(error);
    ASSERT_TRUE(camera);
    lines.clear();
    std::vector<std::string> second;
    auto marker = std::make_shared<int>(0);
    tarnscsi::SetTraceSink([this, &second, marker](const std::string& line) {
        tarnscsi::SetTraceSink([&second](const std::string& next) {
            second.push_back(next);
            tarnscsi::StopTrace();
        });
        lines.push_back(line + " " + std::to_string(*marker));
    });
    marker.reset();
    EXPECT_TRUE(camera->Ready());
    EXPECT_TRUE(camera->Ready());
    EXPECT_TRUE(camera->Ready());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("TEST UNIT READY", 0), 0u) << lines[0];
    EXPECT_EQ(second.size(), 1u);
    EXPECT_FALSE(tarnscsi::TraceEnabled());
}

TEST_F(TraceTest, AFileThatCannotBeOpenedIsReportedAndLeavesTheTraceOff) {
    const std::string error = tarnscsi::TraceToFile("/nonexistent-folder/trace.log");
    EXPECT_NE(error.find("/nonexistent-folder/trace.log"), std::string::npos) << error;
    EXPECT_FALSE(tarnscsi::TraceEnabled());
}

TEST_F(TraceTest, ACommandThatIsNeverSentIsTracedAsSuch) {
    tarnscsi::CommandResult result;
    result.cdb[0] = 0x28;
    result.cdbLength = 10;
    result.dataIn = true;
    result.length = 2048;
    EXPECT_EQ(tarnscsi::FormatTraceLine(result, 1500),
              "READ(10) 0:0 [28 00 00 00 00 00 00 00 00 00] in 2048: not sent 1.500 ms");
}
