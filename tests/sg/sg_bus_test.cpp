// How the SCSI generic manager lays the kernel's devices out as ASPI
// adapters and targets, answers the support word and get-device-type
// requests, and reports the devices it cannot use.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

#include <cstring>

#include "sg/diagnostics.h"
#include "sg/linux_address.h"
#include "sg/lock_holder.h"
#include "support/sg_bench.h"

using namespace tarnscsi::sg_test;

namespace {

constexpr std::uint32_t kNoAdapters = std::uint32_t{tarnscsi::aspi::SS_NO_ADAPTERS} << 8;

std::uint32_t Adapters(std::uint32_t count) { return (std::uint32_t{tarnscsi::aspi::SS_COMP} << 8) | count; }

int Answering(sg_io_hdr_t&) { return 0; }  // GOOD, nothing else

}  // namespace

TEST(LinuxAddressTest, ParsesOnlyFourDecimalFields) {
    const auto address = tarnscsi::sg::ParseLinuxAddress("12:3:400:18446744073709551615");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->host, 12u);
    EXPECT_EQ(address->channel, 3u);
    EXPECT_EQ(address->target, 400u);
    EXPECT_EQ(address->lun, UINT64_MAX);
    EXPECT_EQ(tarnscsi::sg::ToString(*address), "12:3:400:18446744073709551615");
    for (const char* bad : {"", "1:2:3", "1:2:3:4:5", "1::3:4", "1:2:3:", "a:0:0:0", "-1:0:0:0", "+1:0:0:0", "1:2:3:4 ",
                            "4294967296:0:0:0", "target0:0:0"}) {
        EXPECT_FALSE(tarnscsi::sg::ParseLinuxAddress(bad)) << bad;
    }
}

// Host and channel pairs in ascending order, whatever the node numbers and
// however many numbers are skipped; targets keep their number.
TEST(SgBusTest, NumbersHostChannelPairsInAscendingOrder) {
    SgBench bench;
    bench.AddDevice("sg0", "5:0:1:0", 0, Answering);
    bench.AddDevice("sg1", "0:0:3:0", 6, Answering);
    bench.AddDevice("sg2", "0:2:0:0", 5, Answering);
    bench.AddDevice("sg10", "3:0:6:0", 1, Answering);
    bench.AddDevice("sg7", "0:0:4:0", 6, Answering);
    bench.AddDevice("sg3", "5:0:2:0", 8, Answering);

    EXPECT_EQ(bench.SupportWord(), Adapters(4));
    struct Expected {
        std::uint8_t adapter, target, type;
    };
    for (const Expected& e : {Expected{0, 3, 6}, Expected{0, 4, 6}, Expected{1, 0, 5}, Expected{2, 6, 1},
                              Expected{3, 1, 0}, Expected{3, 2, 8}}) {
        const auto answer = bench.GetDeviceType(e.adapter, e.target);
        EXPECT_EQ(answer.status, tarnscsi::aspi::SS_COMP) << int(e.adapter) << ":" << int(e.target);
        EXPECT_EQ(answer.type, e.type) << int(e.adapter) << ":" << int(e.target);
    }
    // Empty addresses leave the type field alone; a fifth adapter does not exist.
    for (const auto& [adapter, target, lun] :
         {std::tuple{0, 0, 0}, std::tuple{0, 3, 1}, std::tuple{1, 2, 0}, std::tuple{3, 6, 0}}) {
        const auto answer = bench.GetDeviceType(adapter, target, lun);
        EXPECT_EQ(answer.status, tarnscsi::aspi::SS_NO_DEVICE) << adapter << ":" << target << ":" << lun;
        EXPECT_EQ(answer.type, kUntouched);
    }
    EXPECT_EQ(bench.GetDeviceType(4, 0).status, tarnscsi::aspi::SS_INVALID_HA);
    // Answered from sysfs: not one command went to a device.
    EXPECT_TRUE(bench.system.Records().empty());

    const std::string report = bench.Report();
    EXPECT_NE(report.find("adapter 0 = host 0, channel 0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("adapter 1 = host 0, channel 2\n"), std::string::npos) << report;
    EXPECT_NE(report.find("adapter 3 = host 5, channel 0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("/dev/sg10 [3:0:6:0] adapter 2, target 6, lun 0: usable\n"), std::string::npos) << report;
    // Node order in the report: sg2 before sg10.
    EXPECT_LT(report.find("/dev/sg2 "), report.find("/dev/sg10 "));
}

TEST(SgBusTest, NoDriverOrNoDeviceMeansNoAdaptersAndANewLookFindsLaterOnes) {
    SgBench bench;
    EXPECT_EQ(bench.SupportWord(), kNoAdapters);
    EXPECT_NE(bench.Report().find("the sg driver is not loaded"), std::string::npos) << bench.Report();

    bench.sysfs.LoadDriver();
    bench.bus.Rescan();
    EXPECT_EQ(bench.SupportWord(), kNoAdapters);
    EXPECT_NE(bench.Report().find("no SCSI generic devices"), std::string::npos) << bench.Report();

    bench.AddDevice("sg4", "7:0:2:0", 6, Answering);
    EXPECT_EQ(bench.SupportWord(), kNoAdapters) << "looked at the bus without being asked to";
    bench.bus.Rescan();
    EXPECT_EQ(bench.SupportWord(), Adapters(1));
    EXPECT_EQ(bench.GetDeviceType(0, 2).type, 6);
}

// Devices ASPI cannot address still make their adapter count (the numbering
// does not depend on them), and the report says why they are missing.
TEST(SgBusTest, ReportsDevicesBeyondAspiAndUnreadableEntries) {
    SgBench bench;
    bench.AddDevice("sg0", "1:0:300:0", 6, Answering);
    bench.AddDevice("sg1", "1:0:2:256", 6, Answering);
    bench.AddDevice("sg2", "host-only", 6, Answering);
    bench.AddDevice("sg3", "2:0:1:0", 6, Answering);
    bench.AddDevice("sg4", "2:0:1:0", 6, Answering);

    EXPECT_EQ(bench.SupportWord(), Adapters(2));
    EXPECT_EQ(bench.GetDeviceType(1, 1).type, 6);
    EXPECT_EQ(bench.GetDeviceType(0, 2).status, tarnscsi::aspi::SS_NO_DEVICE);
    const std::string report = bench.Report();
    EXPECT_NE(report.find("/dev/sg0 [1:0:300:0]: target 300 is beyond what ASPI can address"), std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/sg1 [1:0:2:256]: logical unit 256 is beyond what ASPI can address"), std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/sg2: no SCSI address (H:C:T:L)"), std::string::npos) << report;
    EXPECT_NE(report.find("/dev/sg4 [2:0:1:0]: same SCSI address as sg3"), std::string::npos) << report;
}

// The records say as fields what the report's lines say: only the parts a
// device has are marked present, the largest logical unit survives, a
// failed command is kept apart from the reason, and a name too long for
// its field is cut and still ended.
TEST(SgBusTest, RecordsCarryTheReportsFieldsAndOnlyThoseADeviceHas) {
    SgBench bench;
    const std::string longName = "sg" + std::string(2 * SG_NODE_CAPACITY, '9');
    bench.AddDevice("sg0", "1:0:2:18446744073709551615", 6, Answering);
    bench.AddDevice("sg1", "host-only", {}, Answering);
    bench.AddDevice("sg2", "2:3:1:0", 6);  // every command fails with EIO
    bench.AddDevice(longName, "4:0:0:0", 0, Answering);
    bench.bus.Rescan();
    auto block = ExecBlock(1, 1, {0x00, 0, 0, 0, 0, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
    bench.manager.Send(&block);

    std::vector<SgDeviceRecord> records(4);
    ASSERT_EQ(tarnscsi::sg::CopyRecords(bench.bus.Devices(), records.data(), 4), 4u);
    const std::string report = bench.Report();

    const SgDeviceRecord& beyond = records[0];
    EXPECT_STREQ(beyond.node, "/dev/sg0");
    ASSERT_TRUE(beyond.hasLinuxAddress);
    EXPECT_EQ(beyond.host, 1u);
    EXPECT_EQ(beyond.target, 2u);
    EXPECT_EQ(beyond.lun, UINT64_MAX);
    EXPECT_FALSE(beyond.placed);
    EXPECT_FALSE(beyond.usable);
    EXPECT_NE(report.find(std::string("/dev/sg0 [1:0:2:18446744073709551615]: ") + beyond.reason + "\n"),
              std::string::npos)
        << report;

    const SgDeviceRecord& unread = records[1];
    EXPECT_FALSE(unread.hasLinuxAddress);
    EXPECT_FALSE(unread.placed);
    EXPECT_FALSE(unread.hasType);
    EXPECT_EQ(std::string(unread.reason).rfind("no SCSI address (H:C:T:L)", 0), 0u) << unread.reason;

    const SgDeviceRecord& failing = records[2];
    ASSERT_TRUE(failing.placed);
    EXPECT_EQ(failing.adapter, 1);
    EXPECT_EQ(failing.aspiTarget, 1);
    EXPECT_EQ(failing.aspiLun, 0);
    EXPECT_EQ(failing.channel, 3u);
    EXPECT_TRUE(failing.hasType);
    EXPECT_EQ(failing.type, 6);
    EXPECT_TRUE(failing.usable);
    EXPECT_STREQ(failing.reason, "");
    EXPECT_STRNE(failing.lastError, "");
    EXPECT_NE(report.find(std::string("/dev/sg2 [2:3:1:0] adapter 1, target 1, lun 0: usable; last command failed: ") +
                          failing.lastError + "\n"),
              std::string::npos)
        << report;

    const SgDeviceRecord& cut = records[3];
    EXPECT_EQ(std::strlen(cut.node), SG_NODE_CAPACITY - 1u);
    EXPECT_EQ(std::string(cut.node), ("/dev/" + longName).substr(0, SG_NODE_CAPACITY - 1));
    EXPECT_TRUE(cut.usable);
}

TEST(SgBusTest, TypeComesFromTheDriverWhenSysfsHasNone) {
    SgBench bench;
    bench.sysfs.AddDevice("sg0", "0:0:1:0", std::nullopt);
    bench.system.Attach("/dev/sg0", Answering, 6);
    bench.sysfs.AddDevice("sg1", "0:0:2:0", std::nullopt);
    bench.system.RefuseOpen("/dev/sg1", EACCES);

    EXPECT_EQ(bench.GetDeviceType(0, 1).type, 6);
    EXPECT_EQ(bench.GetDeviceType(0, 2).type, 0x1F) << "unknown type, neither sysfs nor driver could say";
}

// Devices the process may not open are reported with the reason, keep their
// place and type, and fail every command without reaching the kernel; once
// they can be opened, the next look at the bus makes them usable.
TEST(SgBusTest, DevicesThatCannotBeOpenedAreReportedNotSkipped) {
    SgBench bench;
    bench.AddDevice("sg0", "0:0:1:0", 6, Answering);
    bench.system.RefuseOpen("/dev/sg0", EACCES);
    bench.AddDevice("sg1", "0:0:2:0", 6, Answering);
    bench.system.RefuseOpen("/dev/sg1", EBUSY);
    bench.AddDevice("sg2", "0:0:3:0", 6, Answering);
    bench.system.SetVersion("/dev/sg2", 20134);
    bench.AddDevice("sg3", "0:0:4:0", 6, Answering);

    EXPECT_EQ(bench.SupportWord(), Adapters(1));
    const std::string report = bench.Report();
    EXPECT_NE(report.find("/dev/sg0 [0:0:1:0] adapter 0, target 1, lun 0: cannot open: Permission denied\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/sg1 [0:0:2:0] adapter 0, target 2, lun 0: cannot open: Device or resource busy\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/sg2 [0:0:3:0] adapter 0, target 3, lun 0: sg driver too old for SG_IO"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/sg3 [0:0:4:0] adapter 0, target 4, lun 0: usable\n"), std::string::npos) << report;

    const auto answer = bench.GetDeviceType(0, 1);
    EXPECT_EQ(answer.status, tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(answer.type, 6);
    std::uint8_t data[36] = {};
    for (std::uint8_t target : {1, 2, 3}) {
        auto block = ExecBlock(0, target, {0x12, 0, 0, 0, 36, 0}, tarnscsi::aspi::SRB_DIR_IN, data, sizeof data);
        EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_ERR);
        EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_SEL_TO);
    }
    EXPECT_TRUE(bench.system.Records().empty());

    // Opened read-write and non-blocking, and only for the look: no device
    // stays open, usable or not.
    for (const int flags : bench.system.OpenFlags()) {
        EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
        EXPECT_NE(flags & O_NONBLOCK, 0);
    }
    EXPECT_EQ(bench.system.OpenDescriptors(), 0);

    bench.system.RefuseOpen("/dev/sg0", 0);
    bench.bus.Rescan();
    auto block = ExecBlock(0, 1, {0x00, 0, 0, 0, 0, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(bench.system.Records().size(), 1u);
    EXPECT_EQ(bench.system.OpenDescriptors(), 0) << "a device was left open after its command";
}

TEST(SgBusTest, AClaimedDeviceStaysOpenAndLockedAndOthersCommandsAreKeptAway) {
    SgBench bench;
    bench.AddDevice("sg0", "0:0:2:0", 6, Answering);
    bench.AddDevice("sg1", "0:0:3:0", 6, Answering);
    bench.bus.Rescan();
    std::string holder;

    // Ours: open, locked, kept across a new look at the bus, used for commands.
    ASSERT_TRUE(bench.bus.Claim(0, 2, holder));
    EXPECT_EQ(bench.system.OpenDescriptors(), 1);
    bench.bus.Rescan();
    auto block = ExecBlock(0, 2, {0x00, 0, 0, 0, 0, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(bench.system.OpenDescriptors(), 1);
    // Claimed twice is held, and the holder is named.
    EXPECT_FALSE(bench.bus.Claim(0, 2, holder));
    EXPECT_NE(holder.find("this test"), std::string::npos) << holder;

    // Another process's: no claim, and no command reaches it.
    bench.system.HoldElsewhere("/dev/sg1", "indi_tarnscsi_ccd, PID 4242");
    EXPECT_FALSE(bench.bus.Claim(0, 3, holder));
    EXPECT_EQ(holder, "indi_tarnscsi_ccd, PID 4242");
    bench.system.ClearRecords();
    block = ExecBlock(0, 3, {0x00, 0, 0, 0, 0, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_ERR);
    EXPECT_TRUE(bench.system.Records().empty());
    EXPECT_NE(bench.Report().find("in use by indi_tarnscsi_ccd, PID 4242"), std::string::npos);

    // Released: closed, and free for the next claim.
    bench.bus.Release(0, 2);
    EXPECT_EQ(bench.system.OpenDescriptors(), 0);
    EXPECT_TRUE(bench.bus.Claim(0, 2, holder));
    bench.bus.Release(0, 2);
}

// As the real kernel does when a device is deleted while a program holds
// its node open: commands on the old descriptor fail with ENODEV, the old
// node's number stays taken while that descriptor is open, and the device
// comes back under another node; after the program lets go of the old one,
// claims and commands reach the device at its new node.
TEST(SgBusTest, AClaimedDeviceThatWentAwayIsFoundAgainAtItsNewNode) {
    SgBench bench;
    bench.AddDevice("sg2", "1:0:1:0", 6, Answering);
    bench.bus.Rescan();
    std::string holder;
    ASSERT_TRUE(bench.bus.Claim(0, 1, holder));

    bench.sysfs.RemoveDevice("sg2", "1:0:1:0");
    bench.system.Detach("/dev/sg2");
    auto block = ExecBlock(0, 1, {0x00, 0, 0, 0, 0, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_SEL_TO);
    EXPECT_NE(bench.Report().find("last command failed: No such device"), std::string::npos) << bench.Report();

    bench.AddDevice("sg3", "1:0:1:0", 6, Answering);
    bench.bus.Rescan();
    bench.bus.Release(0, 1);
    EXPECT_EQ(bench.system.OpenDescriptors(), 0);
    ASSERT_TRUE(bench.bus.Claim(0, 1, holder));
    bench.system.ClearRecords();
    block = ExecBlock(0, 1, {0x00, 0, 0, 0, 0, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_COMP);
    ASSERT_EQ(bench.system.Records().size(), 1U);
    EXPECT_EQ(bench.system.Records()[0].node, "/dev/sg3");
    bench.bus.Release(0, 1);
}

TEST(SgBusTest, TheLockTableNamesTheHolderByDeviceAndInode) {
    const std::string table =
        "1: POSIX  ADVISORY  WRITE 17 00:19:99 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 4242 00:05:1234 0 EOF\n"
        "2: -> FLOCK  ADVISORY  WRITE 5151 00:05:1234 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 77 0a:05:1234 0 EOF\n";
    EXPECT_EQ(tarnscsi::sg::FlockHolderPid(table, 0, 5, 1234), 4242);
    EXPECT_EQ(tarnscsi::sg::FlockHolderPid(table, 10, 5, 1234), 77);
    EXPECT_EQ(tarnscsi::sg::FlockHolderPid(table, 0, 0x19, 99), 0) << "a POSIX lock is not a claim";
    EXPECT_EQ(tarnscsi::sg::FlockHolderPid(table, 0, 5, 123), 0);
}
