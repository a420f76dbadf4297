// Pending completion: SS_PENDING at once, then the worker finishes the block,
// sets SRB_Status and only then signals the event.
#include <atomic>
#include <chrono>
#include <thread>

#include "sim_test_support.h"
#include "test_event.h"

namespace tarnscsi::simtest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

tarnscsi::aspi::SRB_ExecSCSICmd Notifying(tarnscsi::aspi::SRB_ExecSCSICmd block, const TestEvent& event) {
    block.SRB_Flags |= tarnscsi::aspi::SRB_EVENT_NOTIFY;
    block.SRB_PostProc = event.PostProc();
    return block;
}

std::uint8_t StatusNow(const tarnscsi::aspi::SRB_ExecSCSICmd& block) {
    return std::atomic_ref<const tarnscsi::aspi::BYTE>(block.SRB_Status).load(std::memory_order_acquire);
}

class CompletionTest : public SimTest {};

TEST_F(CompletionTest, PendingRequestIsFinishedBeforeItsEventIsSignalled) {
    SimSetCompletion(SIM_PENDING, 50'000);
    TestEvent event;
    Bytes data(32, 0);
    auto block = Notifying(Block(tarnscsi::camera::kIdentify, data.data(), 32), event);

    const auto start = Clock::now();
    EXPECT_EQ(Send(block), tarnscsi::aspi::SS_PENDING);
    EXPECT_EQ(StatusNow(block), tarnscsi::aspi::SS_PENDING);
    ASSERT_TRUE(event.Wait(5000ms));
    EXPECT_GE(Clock::now() - start, 50ms);
    EXPECT_EQ(StatusNow(block), tarnscsi::aspi::SS_COMP) << "status must be final when the event fires";
    EXPECT_EQ(block.SRB_TargStat, tarnscsi::aspi::STATUS_GOOD);
    EXPECT_EQ(data[16], 'N');
    EXPECT_EQ(event.Count(), 1u);

    SimRequest entry{};
    ASSERT_EQ(SimLogGet(0, &entry), 0);
    EXPECT_EQ(entry.returned, tarnscsi::aspi::SS_PENDING);
    EXPECT_EQ(entry.finalStatus, tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(entry.transferred, 32u);
}

TEST_F(CompletionTest, StatusIsNeverSeenPendingOnceSignalled) {
    // Many short requests: each time the event fires, the status is final.
    SimSetCompletion(SIM_PENDING, 0);
    TestEvent event;
    for (int i = 0; i < 500; ++i) {
        auto block = Notifying(Block(tarnscsi::camera::kTestUnitReady, nullptr, 0), event);
        ASSERT_EQ(Send(block), tarnscsi::aspi::SS_PENDING);
        ASSERT_TRUE(event.Wait(5000ms));
        ASSERT_EQ(StatusNow(block), tarnscsi::aspi::SS_COMP) << "request " << i;
        event.Count();
    }
}

TEST_F(CompletionTest, FailuresCompleteThroughTheEventToo) {
    SimSetCompletion(SIM_PENDING, 0);
    SimAddFault(SIM_ANY_OPCODE, 0, 1, SIM_FAULT_CHECK_CONDITION);
    TestEvent event;
    auto block = Notifying(Block(tarnscsi::camera::kTestUnitReady, nullptr, 0), event);
    ASSERT_EQ(Send(block), tarnscsi::aspi::SS_PENDING);
    ASSERT_TRUE(event.Wait(5000ms));
    ASSERT_EQ(StatusNow(block), tarnscsi::aspi::SS_ERR);
    ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kAbortedCommand, {0, 0});
}

TEST_F(CompletionTest, NoSignalWithoutNotifyFlagRefusalOrImmediateCompletion) {
    TestEvent event;
    auto immediate = Notifying(Block(tarnscsi::camera::kTestUnitReady, nullptr, 0), event);
    EXPECT_EQ(Send(immediate), tarnscsi::aspi::SS_COMP);

    SimSetCompletion(SIM_PENDING, 0);
    auto unflagged = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
    unflagged.SRB_PostProc = event.PostProc();
    ASSERT_EQ(Send(unflagged), tarnscsi::aspi::SS_PENDING);
    SimReset();  // waits for the request
    EXPECT_EQ(StatusNow(unflagged), tarnscsi::aspi::SS_COMP);

    SimAddFault(SIM_ANY_OPCODE, 0, 1, SIM_FAULT_REFUSE);
    SimSetCompletion(SIM_PENDING, 0);
    auto refused = Notifying(Block(tarnscsi::camera::kTestUnitReady, nullptr, 0), event);
    EXPECT_EQ(Send(refused), tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(StatusNow(refused), tarnscsi::aspi::SS_ERR);

    EXPECT_FALSE(event.Wait(200ms));
}

TEST_F(CompletionTest, ResetWaitsForRequestsInFlight) {
    SimSetCompletion(SIM_PENDING, 100'000);
    TestEvent event;
    auto block = Notifying(Block(tarnscsi::camera::kTestUnitReady, nullptr, 0), event);
    ASSERT_EQ(Send(block), tarnscsi::aspi::SS_PENDING);
    SimReset();
    EXPECT_EQ(StatusNow(block), tarnscsi::aspi::SS_COMP);
    EXPECT_TRUE(event.Wait(0ms));
}

TEST_F(CompletionTest, GetDeviceTypeNeverGoesPending) {
    SimSetCompletion(SIM_PENDING, 100'000);
    tarnscsi::aspi::SRB_GDEVBlock block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    EXPECT_EQ(SendASPI32Command(&block), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(block.SRB_DeviceType, tarnscsi::camera::kScannerDeviceType);
}

}  // namespace
}  // namespace tarnscsi::simtest