// Our driver next to INDI's CCD simulator in one server: the standard camera
// properties both define must have the same shape (type, permission, switch
// rule, element names in order), so that every client treats our camera as
// it treats theirs. The differences we keep are spelt out below.
#include <gtest/gtest.h>

#include <iostream>
#include <set>

#include "session.h"

namespace tarnscsi::indi_test {
namespace {

// The standard properties of a camera that our camera can serve.
const char* const kShared[] = {
    "CONNECTION",
    "CCD_INFO",
    "CCD_EXPOSURE",
    "CCD_ABORT_EXPOSURE",
    "CCD_FRAME",
    "CCD_FRAME_RESET",
    "CCD_BINNING",
    "CCD_FRAME_TYPE",
    "CCD_TEMPERATURE",
    "CCD_TEMP_RAMP",
    "CCD_CAPTURE_FORMAT",
    "CCD_TRANSFER_FORMAT",
    "UPLOAD_MODE",
    "CCD1",
    "DEBUG",
    "POLLING_PERIOD",
};

// A pause in definitions long enough to call them complete.
constexpr auto kSettle = std::chrono::milliseconds(500);

std::vector<std::string> ElementNames(const PropertyCopy& property) {
    std::vector<std::string> names;
    for (const auto& element : property.elements) names.push_back(element.name);
    return names;
}

class PropertyShape : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(session.Open({ours, theirs}, error)) << error;
        ASSERT_TRUE(session.ConnectDevice(ours.device, error)) << error << "\n" << session.Diagnostics();
        ASSERT_TRUE(session.ConnectDevice(theirs.device, error)) << error << "\n" << session.Diagnostics();
        ASSERT_TRUE(session.client.WaitForDefinitionsToSettle(kSettle));
        received = session.client.Snapshot();
    }

    void TearDown() override {
        if (HasFailure()) std::cout << session.Diagnostics();
    }

    const DriverUnderTest ours = OurDriver(0);
    const DriverUnderTest theirs = IndiCcdSimulator();
    Session session;
    Received received;
};

TEST_F(PropertyShape, SharedStandardPropertiesMatchTheSimulators) {
    for (const char* name : kShared) {
        SCOPED_TRACE(name);
        const PropertyCopy* our = received.Find(ours.device, name);
        const PropertyCopy* their = received.Find(theirs.device, name);
        ASSERT_NE(our, nullptr);
        ASSERT_NE(their, nullptr);
        EXPECT_EQ(our->type, their->type);
        EXPECT_EQ(our->permission, their->permission);
        if (our->type == INDI_SWITCH) {
            EXPECT_EQ(our->rule, their->rule);
        }
        EXPECT_EQ(ElementNames(*our), ElementNames(*their));
    }
}

// The cooler switch as the simulator has it, but readable: ours reports
// the cooler's state (on, off, warming up), which clients show. And the
// camera reports its cooler drive, which the simulator does not, as the
// standard CCD_COOLER_POWER.
TEST_F(PropertyShape, CoolerPropertiesDifferAsIntended) {
    const PropertyCopy* our = received.Find(ours.device, "CCD_COOLER");
    const PropertyCopy* their = received.Find(theirs.device, "CCD_COOLER");
    ASSERT_NE(our, nullptr);
    ASSERT_NE(their, nullptr);
    EXPECT_EQ(our->type, their->type);
    EXPECT_EQ(our->rule, their->rule);
    EXPECT_EQ(ElementNames(*our), ElementNames(*their));
    EXPECT_EQ(their->permission, IP_WO);
    EXPECT_EQ(our->permission, IP_RW);

    const PropertyCopy* power = received.Find(ours.device, "CCD_COOLER_POWER");
    ASSERT_NE(power, nullptr);
    EXPECT_EQ(power->type, INDI_NUMBER);
    EXPECT_EQ(power->permission, IP_RO);
    EXPECT_EQ(ElementNames(*power), std::vector<std::string>{"CCD_COOLER_VALUE"});
}

// Everything else we define, the simulator defines too, but for the few of
// our own: no property that clients would not know beyond these. (What only
// the simulator has is printed for the record: its simulation settings,
// guide head, filter wheel, ...)
TEST_F(PropertyShape, OurExtrasAreFewAndKnown) {
    std::set<std::string> onlyOurs;
    for (const auto& [name, property] : received.properties.at(ours.device)) {
        if (received.Find(theirs.device, name) == nullptr) onlyOurs.insert(name);
    }
    // SIMULATION is INDI's standard switch; the simulator, always simulated,
    // has none.
    const std::set<std::string> kOurOwn = {"CCD_COOLER_POWER", "CAMERA_INFO", "READOUT_ALLOWANCE", "SIMULATION",
                                           "WARM_UP_ON_DISCONNECT"};
    EXPECT_EQ(onlyOurs, kOurOwn);

    std::cout << "Only " << theirs.device << ":";
    for (const auto& [name, property] : received.properties.at(theirs.device)) {
        if (received.Find(ours.device, name) == nullptr) std::cout << " " << name;
    }
    std::cout << "\n";
}

}  // namespace
}  // namespace tarnscsi::indi_test