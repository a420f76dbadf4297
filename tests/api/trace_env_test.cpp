// TARNSCSI_TRACE switches the trace on for the module an application loads,
// with no change to the application: here, a file named by the variable.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <tarnscsi/tarnscsi.h>

#include "sim_control.h"

TEST(TraceEnvironmentTest, TheModuleWritesOneLinePerCommandToTheNamedFile) {
    const char* path = std::getenv("TARNSCSI_TRACE");
    ASSERT_NE(path, nullptr);
    std::remove(path);
    SimReset();
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1);
    EXPECT_EQ(Ready(), 1);
    Disconnect();

    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("INQUIRY 0:2 [12 00 00 00 20 00] in 32: completed (srb 0x01 host 0x00 target 0x00)", 0),
              0u)
        << lines[0];
    EXPECT_EQ(lines[1].rfind("TEST UNIT READY 0:2 [00 00 00 00 90 00] in 0: completed", 0), 0u) << lines[1];
}
