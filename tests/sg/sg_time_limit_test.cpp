// The kernel's time limit for every command, and TARNSCSI_SG_TIMEOUT.
#include <gtest/gtest.h>

#include "sg/time_limit.h"

TEST(TimeLimitTest, TakesWholeSecondsInRangeAndSaysWhenItIgnoresAValue) {
    const auto unset = tarnscsi::sg::CommandTimeLimit(nullptr);
    EXPECT_EQ(unset.limit, tarnscsi::sg::kDefaultTimeLimit);
    EXPECT_EQ(unset.note, "command time limit: 60 s");

    const auto set = tarnscsi::sg::CommandTimeLimit("900");
    EXPECT_EQ(set.limit, std::chrono::seconds(900));
    EXPECT_EQ(set.note, "command time limit: 900 s (TARNSCSI_SG_TIMEOUT)");
    EXPECT_EQ(tarnscsi::sg::CommandTimeLimit("86400").limit, std::chrono::seconds(86400));

    for (const char* bad : {"", "0", "-5", "1.5", "10s", "86401", "99999999999999999999"}) {
        const auto ignored = tarnscsi::sg::CommandTimeLimit(bad);
        EXPECT_EQ(ignored.limit, tarnscsi::sg::kDefaultTimeLimit) << bad;
        EXPECT_NE(ignored.note.find("ignored"), std::string::npos) << bad;
    }
}
