// Common set-up for tests that drive the module's exports against the
// simulated manager: every test starts on the default bus with no
// connection and ends disconnected.
#pragma once

#include <gtest/gtest.h>

#include "exports.h"
#include "sim_control.h"
#include "support/bus_log.h"

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        Disconnect();
        SimReset();
    }
    void TearDown() override {
        Disconnect();
        SimReset();
    }

    // Connects on the bus as laid out, expecting success.
    static void ConnectOk() {
        const char* error = nullptr;
        ASSERT_EQ(Connect(&error), 1) << (error ? error : "");
    }
};
