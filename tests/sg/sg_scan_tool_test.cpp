// tarnscsi scan and the choice of manager, as a user runs the tool: a
// separate process with a library path, against the simulator, the SCSI
// generic manager on its fake kernel, or no manager at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "support/tool_process.h"

using namespace tarnscsi::tool_test;

namespace {

constexpr int kFailure = 1;

class ScanToolTest : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("TARNSCSI_SIMULATOR"); }
    void TearDown() override { unsetenv("TARNSCSI_SIMULATOR"); }

    static ProcessResult Tool(std::vector<std::string> args, const std::string& libraryDir,
                              std::vector<std::string> environment = {}) {
        args.insert(args.begin(), TARNSCSI_TOOL_PATH);
        ProcessOptions options;
        options.libraryPath = libraryDir;
        options.environment = std::move(environment);
        return RunProcess(args, options);
    }
};

}  // namespace

TEST_F(ScanToolTest, ListsTheSimulatorsCameraWhenAskedToSimulate) {
    const ProcessResult run = Tool({"--simulate", "scan"}, NO_MANAGER_DIR);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(std::string("Manager:       ") + SIMULATOR_PATH + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Host adapters: 1 (ok)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0        2       6 scanner         TARN      Nebrix"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("<- the camera"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Manager report"), std::string::npos) << "the simulator has no report";
}

// Through the SCSI generic manager: several adapters, the unopenable
// scanner with its INQUIRY failing, and the manager's reasons.
TEST_F(ScanToolTest, ListsTheSgBusAndSaysWhyADeviceCannotBeOpened) {
    const ProcessResult run = Tool({"scan", "--json"}, SG_FAKE_DIR);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["manager"], std::string(SG_FAKE_DIR) + "/libwnaspi32.so");
    EXPECT_EQ(out["adapters"], 3);
    EXPECT_EQ(out["camera"], (nlohmann::json{{"adapter", 2}, {"target", 2}}));
    ASSERT_EQ(out["devices"].size(), 4u) << run.out;
    const auto& disk = out["devices"][0];
    EXPECT_EQ(disk["type_name"], "disk");
    EXPECT_EQ(disk["vendor"], "TARNTEST");
    EXPECT_EQ(disk["product"], "Fake disk");
    const auto& locked = out["devices"][1];
    EXPECT_EQ(locked["adapter"], 0);
    EXPECT_EQ(locked["target"], 5);
    EXPECT_EQ(locked["type_name"], "scanner");
    EXPECT_EQ(locked["camera"], false);
    EXPECT_FALSE(locked.contains("vendor"));
    // How the INQUIRY ended, as the library describes it.
    const std::string error = locked["error"].get<std::string>();
    EXPECT_EQ(error.rfind("INQUIRY: host adapter: selection timeout;", 0), 0u) << error;
    EXPECT_NE(error.find("host adapter status 0x11"), std::string::npos) << error;
    const auto report = out["report"].get<std::vector<std::string>>();
    EXPECT_NE(std::find(report.begin(), report.end(),
                        "/dev/sg1 [0:0:5:0] adapter 0, target 5, lun 0: cannot open: Permission denied"),
              report.end())
        << run.out;

    // The manager's nodes, each address a field of its own, and the node
    // of each device the scan lists.
    ASSERT_EQ(out["nodes"].size(), 4u) << run.out;
    EXPECT_EQ(out["nodes"][1], (nlohmann::json{{"node", "/dev/sg1"},
                                               {"host", 0},
                                               {"channel", 0},
                                               {"scsi_target", 5},
                                               {"lun", 0},
                                               {"adapter", 0},
                                               {"target", 5},
                                               {"aspi_lun", 0},
                                               {"state", "cannot open: Permission denied"}}));
    EXPECT_EQ(out["nodes"][2]["state"], "usable");
    EXPECT_EQ(locked["node"], "/dev/sg1");
    EXPECT_EQ(locked["scsi_target"], 5);
    const auto& camera = out["devices"][3];
    EXPECT_EQ(camera["node"], "/dev/sg2");
    EXPECT_EQ(camera["host"], 2);
    EXPECT_EQ(camera["channel"], 1);

    const ProcessResult text = Tool({"scan"}, SG_FAKE_DIR);
    EXPECT_NE(text.out.find("cannot open: Permission denied"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("2        2       6 scanner         TARN      Nebrix"), std::string::npos) << text.out;
}

// No silent fallback: without a manager the tool fails, and a simulator
// that cannot be loaded is an error, not a reason to use another manager.
TEST_F(ScanToolTest, TheSimulatorIsOnlyEverChosenExplicitly) {
    const ProcessResult none = Tool({"scan"}, NO_MANAGER_DIR);
    EXPECT_EQ(none.exitCode, kFailure);
    EXPECT_NE(none.err.find("Missing wnaspi32"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("--simulate"), std::string::npos) << none.err;
    const ProcessResult status = Tool({"status"}, NO_MANAGER_DIR);
    EXPECT_EQ(status.exitCode, kFailure);
    EXPECT_NE(status.err.find("Missing wnaspi32"), std::string::npos) << status.err;

    // The option wins over a library path that holds another manager.
    const ProcessResult chosen = Tool({"--simulate", "status", "--json"}, SG_FAKE_DIR);
    ASSERT_EQ(chosen.exitCode, 0) << chosen.err;
    EXPECT_EQ(nlohmann::json::parse(chosen.out)["adapter"], 0) << "not the simulator's camera";

    // The variable alone chooses the simulator it names.
    setenv("TARNSCSI_SIMULATOR", SIMULATOR_PATH, 1);
    const ProcessResult byVariable = Tool({"scan"}, SG_FAKE_DIR);
    EXPECT_NE(byVariable.out.find(std::string("Manager:       ") + SIMULATOR_PATH), std::string::npos)
        << byVariable.out;

    for (const char* bad : {"/nonexistent/libwnaspi32.so", "libwnaspi32.so"}) {
        setenv("TARNSCSI_SIMULATOR", bad, 1);
        const ProcessResult refused = Tool({"--simulate", "status"}, SG_FAKE_DIR);
        EXPECT_EQ(refused.exitCode, kFailure) << bad;
        EXPECT_NE(refused.err.find("simulator"), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out.find("Camera:"), std::string::npos) << "went on with another manager: " << refused.out;
    }
}

// The time limit is the SCSI generic manager's setting, judged by the manager
// alone: a refused value is told by every command that talks to the camera
// through it, not by scan alone, and not where another manager is used.
TEST_F(ScanToolTest, ARefusedCommandTimeLimitIsToldWhereTheManagerUsesIt) {
    const std::vector<std::string> refused = {"TARNSCSI_SG_TIMEOUT=ten"};
    const std::string image = ::testing::TempDir() + "sg_time_limit.fits";
    std::remove(image.c_str());
    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>>{{"status"}, {"cool", "-5"}, {"expose", "0", "-o", image}}) {
        const ProcessResult run = Tool(command, SG_FAKE_DIR, refused);
        EXPECT_EQ(run.exitCode, 0) << command[0] << run.err;
        EXPECT_NE(run.err.find("warning: TARNSCSI_SG_TIMEOUT=\"ten\" ignored"), std::string::npos)
            << command[0] << ": " << run.err;
    }
    EXPECT_EQ(Tool({"status"}, SG_FAKE_DIR, {"TARNSCSI_SG_TIMEOUT=120"}).err, "");
    // The simulator has no such setting.
    EXPECT_EQ(Tool({"--simulate", "status"}, NO_MANAGER_DIR, refused).err, "");
    std::remove(image.c_str());
}
