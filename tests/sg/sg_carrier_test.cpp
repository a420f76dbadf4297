// How the SCSI generic manager carries one command: the SG_IO request it
// builds from the request block, and how the kernel's answer becomes the
// block's status, host and target status and sense data.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "sg/linux_status.h"
#include "sg/sg_completion.h"
#include "support/sg_bench.h"

using namespace tarnscsi::sg_test;

namespace {

// What the fake kernel answers to every SG_IO request.
struct Reply {
    int result = 0;  // 0, or -errno for SG_IO itself failing
    std::uint8_t status = tarnscsi::aspi::STATUS_GOOD;
    std::uint16_t host = tarnscsi::sg::kDidOk;
    std::uint16_t driver = tarnscsi::sg::kDriverOk;
    std::vector<std::uint8_t> sense;
    int resid = 0;
    std::vector<std::uint8_t> data;  // copied to a data-in buffer
};

// Puts a device at adapter 0 target 0 that answers every request as `reply` says.
void AddReplyingDevice(SgBench& bench, const Reply& reply) {
    bench.AddDevice("sg0", "0:0:0:0", 6, [&reply](sg_io_hdr_t& header) {
        if (!reply.data.empty() && header.dxfer_direction == SG_DXFER_FROM_DEV) {
            const std::size_t length = std::min<std::size_t>(reply.data.size(), header.dxfer_len);
            std::memcpy(header.dxferp, reply.data.data(), length);
        }
        header.status = reply.status;
        header.host_status = reply.host;
        header.driver_status = reply.driver;
        header.sb_len_wr = static_cast<unsigned char>(std::min<std::size_t>(reply.sense.size(), header.mx_sb_len));
        if (header.sb_len_wr > 0) std::memcpy(header.sbp, reply.sense.data(), header.sb_len_wr);
        header.resid = reply.resid;
        return reply.result;
    });
}

class CarrierTest : public ::testing::Test {
protected:
    void SetUp() override { AddReplyingDevice(bench, reply); }

    SgBench bench;
    Reply reply;
};

// Keeps how the last command that reached the bus ended.
struct LastOutcome : tarnscsi::manager::RequestHooks {
    RequestId Arrived(const void*) override { return 0; }
    tarnscsi::manager::FaultKind FaultFor(RequestId, std::uint8_t) override {
        return tarnscsi::manager::FaultKind::kNone;
    }
    void Returned(RequestId, std::uint8_t) override {}
    void Finished(RequestId, std::uint8_t, const tarnscsi::manager::ScsiOutcome* finished) override {
        if (finished != nullptr) outcome = *finished;
    }
    std::optional<tarnscsi::manager::ScsiOutcome> outcome;
};

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    for (std::size_t i = 14; i < sense.size(); ++i) sense[i] = static_cast<std::uint8_t>(0xA0 + i);
    return sense;
}

}  // namespace

TEST_F(CarrierTest, DirectionComesFromTheFlagsAndNoDataMeansNone) {
    struct Case {
        std::uint8_t flags;
        std::uint32_t length;
        bool buffer;
        std::optional<int> direction;  // nothing: refused, not sent
    };
    const Case cases[] = {
        {tarnscsi::aspi::SRB_DIR_IN, 36, true, SG_DXFER_FROM_DEV},
        {tarnscsi::aspi::SRB_DIR_OUT, 10, true, SG_DXFER_TO_DEV},
        {tarnscsi::aspi::SRB_DIR_IN | tarnscsi::aspi::SRB_EVENT_NOTIFY, 36, true, SG_DXFER_FROM_DEV},
        {tarnscsi::aspi::SRB_DIR_IN, 0, false, SG_DXFER_NONE},  // TEST UNIT READY as the module sends it
        {tarnscsi::aspi::SRB_DIR_OUT, 0, true, SG_DXFER_NONE},
        {0, 0, false, SG_DXFER_NONE},
        {0, 10, true, std::nullopt},
        {tarnscsi::aspi::SRB_DIR_IN | tarnscsi::aspi::SRB_DIR_OUT, 10, true, std::nullopt},
        {tarnscsi::aspi::SRB_DIR_IN, 10, false, std::nullopt},
    };
    std::array<std::uint8_t, 64> data{};
    for (const Case& c : cases) {
        bench.system.ClearRecords();
        auto block =
            ExecBlock(0, 0, {0x28, 0, 0, 0, 0, 0, 0, 0, 10, 0}, c.flags, c.buffer ? data.data() : nullptr, c.length);
        const std::uint32_t status = bench.manager.Send(&block);
        const auto records = bench.system.Records();
        SCOPED_TRACE("flags " + std::to_string(c.flags) + ", length " + std::to_string(c.length));
        if (!c.direction) {
            EXPECT_EQ(status, tarnscsi::aspi::SS_INVALID_SRB);
            EXPECT_TRUE(records.empty()) << "sent although the direction was unknown";
            continue;
        }
        EXPECT_EQ(status, tarnscsi::aspi::SS_COMP);
        ASSERT_EQ(records.size(), 1u);
        const IoRecord& io = records[0];
        EXPECT_EQ(io.direction, *c.direction);
        EXPECT_EQ(io.interfaceId, 'S');
        EXPECT_EQ(io.cdb, (std::vector<std::uint8_t>{0x28, 0, 0, 0, 0, 0, 0, 0, 10, 0}));
        EXPECT_EQ(io.dataLength, *c.direction == SG_DXFER_NONE ? 0u : c.length);
        EXPECT_EQ(io.hadData, *c.direction != SG_DXFER_NONE);
        EXPECT_EQ(io.timeout, static_cast<unsigned>(SgBench::kTimeLimit.count()));
        EXPECT_GE(io.senseCapacity, tarnscsi::aspi::SENSE_LEN);
    }
}

// SS_COMP only when the SCSI status, the host status and the driver status
// are all good; every other ending is SS_ERR with the host status mapped.
TEST_F(CarrierTest, ClassifiesHowTheKernelEndedTheCommand) {
    struct Case {
        const char* what;
        int result;
        std::uint8_t status;
        std::uint16_t host;
        std::uint16_t driver;
        std::uint8_t srbStatus;
        std::uint8_t haStat;
    };
    const Case cases[] = {
        {"good", 0, 0x00, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_COMP,
         tarnscsi::aspi::HASTAT_OK},
        {"check condition", 0, 0x02, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverSense, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_OK},
        {"busy", 0, 0x08, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_OK},
        {"no connect", 0, 0x00, tarnscsi::sg::kDidNoConnect, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_SEL_TO},
        {"bad target", 0, 0x00, tarnscsi::sg::kDidBadTarget, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_SEL_TO},
        {"host time out", 0, 0x00, tarnscsi::sg::kDidTimeOut, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT},
        {"aborted", 0, 0x00, tarnscsi::sg::kDidAbort, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT},
        {"driver time out", 0, 0x00, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverTimeout, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT},
        {"bus busy", 0, 0x00, tarnscsi::sg::kDidBusBusy, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_TIMEOUT},
        {"parity", 0, 0x00, tarnscsi::sg::kDidParity, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_PARITY_ERROR},
        {"bus reset", 0, 0x00, tarnscsi::sg::kDidReset, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_BUS_RESET},
        {"host error", 0, 0x00, tarnscsi::sg::kDidError, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_PHASE_ERR},
        {"driver error", 0, 0x00, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverError, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_OK},
        {"sense with good status", 0, 0x00, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverSense, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_OK},
        {"SG_IO failed", -EIO, 0x00, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_PHASE_ERR},
        {"device gone", -ENODEV, 0x00, tarnscsi::sg::kDidOk, tarnscsi::sg::kDriverOk, tarnscsi::aspi::SS_ERR,
         tarnscsi::aspi::HASTAT_SEL_TO},
    };
    std::array<std::uint8_t, 36> data{};
    for (const Case& c : cases) {
        reply = Reply{c.result, c.status, c.host, c.driver, {}, 0, {}};
        auto block = ExecBlock(0, 0, {0x12, 0, 0, 0, 36, 0}, tarnscsi::aspi::SRB_DIR_IN, data.data(), data.size());
        block.SRB_HaStat = 0x77;
        block.SRB_TargStat = 0x77;
        EXPECT_EQ(bench.manager.Send(&block), c.srbStatus) << c.what;
        EXPECT_EQ(block.SRB_Status, c.srbStatus) << c.what;
        EXPECT_EQ(block.SRB_HaStat, c.haStat) << c.what;
        EXPECT_EQ(block.SRB_TargStat, c.result == 0 ? c.status : tarnscsi::aspi::STATUS_GOOD) << c.what;
    }
    EXPECT_NE(bench.Report().find("/dev/sg0 [0:0:0:0] adapter 0, target 0, lun 0: usable; "
                                  "last command failed: No such device"),
              std::string::npos)
        << bench.Report();
}

// CHECK CONDITION brings the sense data into SenseArea, as far as
// SRB_SenseLen allows; the rest of the area is left as it was.
TEST_F(CarrierTest, CopiesSenseUpToTheBlocksSenseLength) {
    reply.status = tarnscsi::aspi::STATUS_CHKCOND;
    reply.driver = tarnscsi::sg::kDriverSense;
    reply.sense = FixedSense(0x05, 0x24);
    for (const std::uint8_t senseLength : {std::uint8_t{tarnscsi::aspi::SENSE_LEN}, std::uint8_t{8}, std::uint8_t{0}}) {
        auto block = ExecBlock(0, 0, {0x1A, 0x08, 0x09, 0, 144, 0}, tarnscsi::aspi::SRB_DIR_IN, nullptr, 0);
        block.SRB_SenseLen = senseLength;
        EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_ERR);
        EXPECT_EQ(block.SRB_TargStat, tarnscsi::aspi::STATUS_CHKCOND);
        for (std::size_t i = 0; i < sizeof block.SenseArea; ++i) {
            const std::uint8_t expected = i < senseLength ? reply.sense[i] : kUntouched;
            EXPECT_EQ(block.SenseArea[i], expected) << "byte " << i << " with SRB_SenseLen " << int(senseLength);
        }
    }
}

// Good status with a residual is a short transfer: the bytes that came stay
// in the buffer, but the block reports a data underrun, and the manager's
// report says how many arrived.
TEST_F(CarrierTest, AResidualEndsTheCommandAsADataUnderrun) {
    reply.data = {0x06, 0x00, 0x02, 0x02, 0x1F, 'A', 'B', 'C'};
    reply.resid = 28;
    LastOutcome last;
    bench.manager.SetHooks(&last);
    std::array<std::uint8_t, 36> data{};
    auto block = ExecBlock(0, 0, {0x12, 0, 0, 0, 36, 0}, tarnscsi::aspi::SRB_DIR_IN, data.data(), data.size());
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_ERR);
    bench.manager.SetHooks(nullptr);
    EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_DO_DU);
    EXPECT_EQ(block.SRB_TargStat, tarnscsi::aspi::STATUS_GOOD);
    EXPECT_TRUE(std::equal(reply.data.begin(), reply.data.end(), data.begin()));
    ASSERT_TRUE(last.outcome);
    EXPECT_EQ(last.outcome->transferred, 8u);
    EXPECT_NE(bench.Report().find("last command failed: data underrun: command 0x12 moved 8 of 36 bytes"),
              std::string::npos)
        << bench.Report();

    // All of it: complete.
    reply.resid = 0;
    EXPECT_EQ(bench.manager.Send(&block), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_OK);
}

// As installed, the manager completes execute requests from its worker and
// signals the caller's eventfd only after SRB_Status holds the result. Once
// its worker runs, a manager is never destroyed, so this one lives on.
TEST(PendingCarrierTest, SignalsTheEventAfterTheStatus) {
    static Reply* const reply = new Reply;
    static SgBench* const bench = new SgBench;
    AddReplyingDevice(*bench, *reply);
    tarnscsi::sg::UseSgCompletion(bench->manager);
    reply->data = {0x06, 0x00, 0x02};
    const int event = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(event, 3);
    std::array<std::uint8_t, 36> data{};
    auto block = ExecBlock(0, 0, {0x12, 0, 0, 0, 36, 0}, tarnscsi::aspi::SRB_DIR_IN | tarnscsi::aspi::SRB_EVENT_NOTIFY,
                           data.data(), data.size());
    block.SRB_PostProc = reinterpret_cast<void*>(static_cast<std::intptr_t>(event));

    EXPECT_EQ(bench->manager.Send(&block), tarnscsi::aspi::SS_PENDING);
    pollfd wait{event, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, 10000), 1) << "the event was never signalled";
    EXPECT_EQ(__atomic_load_n(&block.SRB_Status, __ATOMIC_ACQUIRE), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(data[0], 0x06);
    bench->manager.WaitIdle();
    close(event);
    std::filesystem::remove_all(bench->sysfs.Root());  // the only part of the bench that outlives the process
}
