// The configuration text of the simulator (TARNSCSI_SIM, SimConfigure),
// parsed on its own: what each key takes, and that every bad item is
// reported once and leaves the rest alone.
#include <gtest/gtest.h>

#include "sim/sim_config.h"
#include "sim/sim_control.h"

namespace tarnscsi::sim {
namespace {

TEST(SimConfigTest, EveryKeyTakesItsDocumentedForms) {
    const ParsedConfig parsed = ParseSimConfig(
        " seed=0x10, time-scale=0.25 ,ambient=-5.5,cooler-difference=35,cooler-rate=0.5,"
        "image=dark,covered=yes,adapters=4,camera=3:7:0,camera=0:2,device=1:5:cdrom:CD: DRIVE 2,device=2:0:31,"
        "fault=read:2:1:refuse,fault=0x1a:0:3:check,fault=any:0:1:check,fault=scan:0:1:unit-attention,"
        "completion=pending:250,unit-attention=2,,");
    EXPECT_TRUE(parsed.problems.empty()) << parsed.problems.front();
    const SimConfig& c = parsed.config;
    EXPECT_EQ(c.seed, 16u);
    EXPECT_EQ(c.timeScale, 0.25);
    EXPECT_EQ(c.ambientTenths, -55);
    EXPECT_EQ(c.coolerDifferenceTenths, 350);
    EXPECT_EQ(c.coolerRateTenthsPerSecond, 5);
    EXPECT_EQ(c.image, ImageKind::kDark);
    EXPECT_EQ(c.covered, true);
    EXPECT_EQ(c.adapters, 4);
    ASSERT_EQ(c.cameras.size(), 2u);
    EXPECT_EQ(c.cameras[0].adapter, 3);
    EXPECT_EQ(c.cameras[0].target, 7);
    EXPECT_EQ(c.cameras[0].lun, 0);
    EXPECT_EQ(c.cameras[1].target, 2);
    ASSERT_EQ(c.devices.size(), 2u);
    EXPECT_EQ(c.devices[0].type, 5);
    EXPECT_EQ(c.devices[0].product, "CD: DRIVE 2") << "the name is the rest of the value";
    EXPECT_EQ(c.devices[1].type, 31);
    EXPECT_EQ(c.devices[1].product, "");
    ASSERT_EQ(c.faults.size(), 4u);
    EXPECT_EQ(c.faults[0].opcode, 0x28);
    EXPECT_EQ(c.faults[0].skip, 2u);
    EXPECT_EQ(c.faults[0].kind, SIM_FAULT_REFUSE);
    EXPECT_EQ(c.faults[1].opcode, 0x1A);
    EXPECT_EQ(c.faults[1].kind, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(c.faults[2].opcode, SIM_ANY_OPCODE);
    EXPECT_EQ(c.faults[3].kind, SIM_FAULT_UNIT_ATTENTION);
    EXPECT_EQ(c.unitAttentions, 2u);
    ASSERT_TRUE(c.completion);
    EXPECT_TRUE(c.completion->pending);
    EXPECT_EQ(c.completion->delayMicroseconds, 250u);
    EXPECT_TRUE(c.LaysOutBus());

    const ParsedConfig empty = ParseSimConfig(" , ,");
    EXPECT_TRUE(empty.problems.empty());
    EXPECT_FALSE(empty.config.LaysOutBus() || empty.config.seed || empty.config.image || empty.config.covered);
    EXPECT_EQ(ParseSimConfig("covered=no").config.covered, false);
}

TEST(SimConfigTest, EachBadItemIsOneProblemNamingItAndChangesNothing) {
    const char* const bad[] = {
        "seed",        // no value
        "colour=red",  // unknown key
        "seed=-1",
        "seed=12x",
        "seed=18446744073709551616",
        "time-scale=-0.5",
        "time-scale=nan",
        "time-scale=",
        "ambient=99",
        "ambient=warm",
        "cooler-difference=0",
        "cooler-rate=1000",
        "image=galaxy",
        "covered=1",
        "covered=",
        "adapters=256",
        "adapters=two",
        "camera=0",
        "camera=0:16",
        "camera=0:1:8",
        "camera=0:1:0:0",
        "camera=0:x",
        "device=0:1",
        "device=0:1:34",
        "device=0:1:toaster",
        "device=0:1:disk:name longer than 16",
        "fault=read:0:1",
        "fault=write:0:1:check",
        "fault=read:x:1:check",
        "fault=read:0:1:explode",
        "fault=256:0:1:check",
        "completion=later",
        "completion=pending:-3",
        "completion=immediate:5",
        "unit-attention=0",
        "unit-attention=256",
        "unit-attention=",
    };
    for (const char* item : bad) {
        const ParsedConfig parsed = ParseSimConfig(std::string("seed=3,") + item + ",image=sky");
        ASSERT_EQ(parsed.problems.size(), 1u) << item;
        EXPECT_NE(parsed.problems[0].find(item), std::string::npos) << parsed.problems[0];
        EXPECT_EQ(parsed.config.seed, 3u) << item;
        EXPECT_EQ(parsed.config.image, ImageKind::kSky) << item;
        EXPECT_FALSE(parsed.config.LaysOutBus()) << item;
        EXPECT_TRUE(parsed.config.faults.empty()) << item;
        EXPECT_FALSE(parsed.config.completion) << item;
        EXPECT_FALSE(parsed.config.unitAttentions) << item;
    }
}

TEST(SimConfigTest, ALaterGoodValueWinsAndALaterBadOneDoesNot) {
    EXPECT_EQ(ParseSimConfig("seed=1,seed=2").config.seed, 2u);
    const ParsedConfig parsed = ParseSimConfig("seed=1,seed=oops");
    EXPECT_EQ(parsed.config.seed, 1u);
    EXPECT_EQ(parsed.problems.size(), 1u);
}

// The module searches targets 0-7 at lun 0 of each adapter: a camera or
// device elsewhere could never be found, so the text may not put one there.
TEST(SimConfigTest, AddressesTheModuleNeverSearchesAreRefusedWithTheReason) {
    const struct {
        const char* item;
        const char* reason;
    } cases[] = {
        {"camera=0:9", "target 9: the module looks at targets 0-7, lun 0 only"},
        {"camera=0:8:0", "target 8: the module looks at targets 0-7, lun 0 only"},
        {"camera=0:15:3", "target 15: the module looks at targets 0-7, lun 0 only"},
        {"camera=0:2:1", "lun 1: the module looks at targets 0-7, lun 0 only"},
        {"camera=0:2:7", "lun 7: the module looks at targets 0-7, lun 0 only"},
        {"device=0:8:disk", "target 8: the module looks at targets 0-7, lun 0 only"},
        {"camera=1:2",
         "camera on adapter 1: the bus has 1 adapter(s) and the module looks at those only (set "
         "adapters=2 or more)"},
        {"adapters=2,device=3:1:disk", "device on adapter 3: the bus has 2 adapter(s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        const ParsedConfig parsed = ParseSimConfig(c.item);
        ASSERT_EQ(parsed.problems.size(), 1u);
        EXPECT_NE(parsed.problems[0].find(c.reason), std::string::npos) << parsed.problems[0];
        EXPECT_TRUE(parsed.config.cameras.empty());
        EXPECT_TRUE(parsed.config.devices.empty());
    }
    // The edges the module does search.
    const ParsedConfig edges = ParseSimConfig("camera=0:7:0,camera=0:0,device=0:7:disk");
    EXPECT_TRUE(edges.problems.empty()) << edges.problems.front();
    EXPECT_EQ(edges.config.cameras.size(), 2u);
    EXPECT_EQ(edges.config.devices.size(), 1u);
}

TEST(SimConfigTest, DevicesOnAdaptersTheBusDoesNotHaveAreDropped) {
    ParsedConfig parsed = ParseSimConfig("camera=1:2,device=0:3:disk");
    ASSERT_EQ(parsed.problems.size(), 1u) << "one adapter unless told otherwise";
    EXPECT_NE(parsed.problems[0].find("adapter 1"), std::string::npos) << parsed.problems[0];
    EXPECT_TRUE(parsed.config.cameras.empty());
    EXPECT_EQ(parsed.config.devices.size(), 1u);

    parsed = ParseSimConfig("camera=1:2,adapters=2");  // order does not matter
    EXPECT_TRUE(parsed.problems.empty());
    EXPECT_EQ(parsed.config.cameras.size(), 1u);

    parsed = ParseSimConfig("adapters=0,camera=0:2,device=0:1:disk");
    EXPECT_EQ(parsed.problems.size(), 2u);
    EXPECT_TRUE(parsed.config.LaysOutBus()) << "an empty bus is a layout too";
}

}  // namespace
}  // namespace tarnscsi::sim