// The manager core on its own, on a stand-in bus: what it tells request
// hooks and when, the faults hooks inject, and the state object that lives
// on once a worker started.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/aspi_manager.h"
#include "core/pinned_singleton.h"
#include "aspi.h"
#include "test_event.h"

// Threads the system refuses to start: this definition stands in for the C
// library's, and refuses the next `threadStartsToRefuse` of them.
namespace {
std::atomic<int> threadStartsToRefuse{0};
}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_create(pthread_t* thread,
                                                                     const pthread_attr_t* attributes,
                                                                     void* (*start)(void*), void* argument) noexcept {
    using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    if (threadStartsToRefuse.load() > 0) {
        --threadStartsToRefuse;
        return EAGAIN;
    }
    return real(thread, attributes, start, argument);
}

namespace {

using tarnscsi::manager::FaultKind;
using tarnscsi::manager::ScsiOutcome;

constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kTransferred = 5;

// One adapter with one device at target 0 whose commands all succeed.
class StandInBus : public tarnscsi::manager::Backend {
public:
    std::uint8_t AdapterCount() override { return 1; }
    std::optional<std::uint8_t> DeviceType(std::uint8_t, std::uint8_t target, std::uint8_t) override {
        return target == 0 ? std::optional<std::uint8_t>(6) : std::nullopt;
    }
    ScsiOutcome Execute(const tarnscsi::manager::ScsiCommand&) override {
        ++executed;
        ScsiOutcome outcome;
        outcome.srbStatus = tarnscsi::aspi::SS_COMP;
        outcome.transferred = kTransferred;
        return outcome;
    }
    int executed = 0;
};

// Writes down every call, and injects `fault` into every execute request.
class RecordingHooks : public tarnscsi::manager::RequestHooks {
public:
    RequestId Arrived(const void* block) override {
        calls.push_back("arrived " + std::to_string(static_cast<const std::uint8_t*>(block)[0]));
        return ++last;
    }
    FaultKind FaultFor(RequestId id, std::uint8_t opcode) override {
        calls.push_back("fault? " + std::to_string(id) + " op " + std::to_string(opcode));
        return fault;
    }
    void Returned(RequestId id, std::uint8_t status) override {
        calls.push_back("returned " + std::to_string(id) + " " + std::to_string(status));
    }
    void Finished(RequestId id, std::uint8_t status, const ScsiOutcome* outcome) override {
        calls.push_back("finished " + std::to_string(id) + " " + std::to_string(status) +
                        (outcome != nullptr ? " moved " + std::to_string(outcome->transferred) : " off bus"));
    }
    std::vector<std::string> calls;
    FaultKind fault = FaultKind::kNone;
    RequestId last = 0;
};

tarnscsi::aspi::SRB_ExecSCSICmd Inquiry(std::uint8_t adapter, std::uint8_t* buffer) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = adapter;
    block.SRB_Flags = tarnscsi::aspi::SRB_DIR_IN;
    block.SRB_BufPointer = buffer;
    block.SRB_BufLen = kTransferred;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = 6;
    block.CDBByte[0] = kInquiry;
    block.CDBByte[4] = kTransferred;
    return block;
}

class HooksTest : public ::testing::Test {
protected:
    void SetUp() override { manager.SetHooks(&hooks); }

    StandInBus bus;
    RecordingHooks hooks;
    tarnscsi::manager::AspiManager manager{bus, "TEST"};
    std::uint8_t data[36] = {};
};

TEST_F(HooksTest, EveryBlockArrivesReturnsAndFinishesAndOnlyBusRequestsAreOfferedFaults) {
    tarnscsi::aspi::SRB_GDEVBlock type{};
    type.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
    EXPECT_EQ(manager.Send(&type), tarnscsi::aspi::SS_COMP);
    auto good = Inquiry(0, data);
    EXPECT_EQ(manager.Send(&good), tarnscsi::aspi::SS_COMP);
    auto noAdapter = Inquiry(1, data);
    EXPECT_EQ(manager.Send(&noAdapter), tarnscsi::aspi::SS_INVALID_HA);
    auto noCdb = Inquiry(0, data);
    noCdb.SRB_CDBLen = 0;
    EXPECT_EQ(manager.Send(&noCdb), tarnscsi::aspi::SS_INVALID_SRB);
    tarnscsi::aspi::SRB_GDEVBlock unknown{};
    unknown.SRB_Cmd = 0x07;
    EXPECT_EQ(manager.Send(&unknown), tarnscsi::aspi::SS_INVALID_CMD);
    EXPECT_EQ(manager.Send(nullptr), tarnscsi::aspi::SS_INVALID_SRB);

    const std::vector<std::string> expected = {
        "arrived 1",
        "returned 1 1",
        "finished 1 1 off bus",
        "arrived 2",
        "fault? 2 op 18",
        "returned 2 1",
        "finished 2 1 moved 5",
        "arrived 2",
        "returned 3 129",
        "finished 3 129 off bus",
        "arrived 2",
        "returned 4 224",
        "finished 4 224 off bus",
        "arrived 7",
        "returned 5 128",
        "finished 5 128 off bus",
    };
    EXPECT_EQ(hooks.calls, expected);
    EXPECT_EQ(bus.executed, 1);
}

TEST_F(HooksTest, InjectedFaultsNeverReachTheDevice) {
    hooks.fault = FaultKind::kRefuse;
    auto refused = Inquiry(0, data);
    EXPECT_EQ(manager.Send(&refused), tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(refused.SRB_Status, tarnscsi::aspi::SS_ERR);

    hooks.fault = FaultKind::kCheckCondition;
    auto checked = Inquiry(0, data);
    EXPECT_EQ(manager.Send(&checked), tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(checked.SRB_TargStat, tarnscsi::aspi::STATUS_CHKCOND);
    EXPECT_EQ(checked.SenseArea[2] & 0x0F, 0x0B) << "ABORTED COMMAND";
    EXPECT_EQ(bus.executed, 0);
    EXPECT_EQ(hooks.calls.back(), "finished 2 4 moved 0");
}

TEST_F(HooksTest, ThePendingPathReportsPendingFirstAndTheEndFromTheWorker) {
    manager.SetCompletion(tarnscsi::manager::CompletionMode::kPending, std::chrono::microseconds{0});
    auto block = Inquiry(0, data);
    EXPECT_EQ(manager.Send(&block), tarnscsi::aspi::SS_PENDING);
    manager.WaitIdle();
    const std::vector<std::string> expected = {"arrived 2", "fault? 1 op 18", "returned 1 0", "finished 1 1 moved 5"};
    EXPECT_EQ(hooks.calls, expected);
}

// The worker's thread refused: that request ends at once, failed and
// signalled as a pending request is, nothing stays pending, and the next
// request starts the thread.
TEST_F(HooksTest, AWorkerThatCannotStartFailsOnlyTheRequestItWasFor) {
    manager.SetCompletion(tarnscsi::manager::CompletionMode::kPending, std::chrono::microseconds{0});
    threadStartsToRefuse = 1;
    tarnscsi::simtest::TestEvent event;
    auto refused = Inquiry(0, data);
    refused.SRB_Flags |= tarnscsi::aspi::SRB_EVENT_NOTIFY;
    refused.SRB_PostProc = event.PostProc();
    EXPECT_EQ(manager.Send(&refused), tarnscsi::aspi::SS_PENDING);
    EXPECT_EQ(threadStartsToRefuse.load(), 0);
    EXPECT_EQ(refused.SRB_Status, tarnscsi::aspi::SS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(event.Count(), 1u);
    auto next = Inquiry(0, data);
    EXPECT_EQ(manager.Send(&next), tarnscsi::aspi::SS_PENDING);
    manager.WaitIdle();
    EXPECT_EQ(next.SRB_Status, tarnscsi::aspi::SS_COMP);
    const std::vector<std::string> expected = {"arrived 2", "fault? 1 op 18", "returned 1 0", "finished 1 233 off bus",
                                               "arrived 2", "fault? 2 op 18", "returned 2 0", "finished 2 1 moved 5"};
    EXPECT_EQ(hooks.calls, expected);
}

TEST(NoHooksTest, AManagerWithoutHooksCarriesRequestsOut) {
    StandInBus bus;
    tarnscsi::manager::AspiManager manager{bus, "TEST"};
    std::uint8_t data[36] = {};
    auto block = Inquiry(0, data);
    EXPECT_EQ(manager.Send(&block), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(bus.executed, 1);
}

// A state whose destruction a child process reports through a pipe.
int gDestroyedPipe = -1;

template <bool kInUse>
struct ReportingState {
    bool InUse() const { return kInUse; }
    ~ReportingState() {
        const char destroyed = 'D';
        [[maybe_unused]] const auto written = write(gDestroyedPipe, &destroyed, 1);
    }
};

// Whether a child that made the State and then exited destroyed it.
template <typename State>
bool DestroyedAtExit() {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "no pipe";
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        gDestroyedPipe = fds[1];
        State& first = tarnscsi::manager::PinnedSingleton<State>::Instance();
        const bool same = &first == &tarnscsi::manager::PinnedSingleton<State>::Instance();
        std::exit(same ? 0 : 1);  // runs the destructors of statics
    }
    close(fds[1]);
    char byte = 0;
    const bool destroyed = read(fds[0], &byte, 1) == 1 && byte == 'D';
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "Instance made a second object";
    return destroyed;
}

TEST(PinnedSingletonTest, DeletedAtExitOnlyWhileNotInUse) {
    EXPECT_TRUE(DestroyedAtExit<ReportingState<false>>());
    EXPECT_FALSE(DestroyedAtExit<ReportingState<true>>()) << "a worker or a claim's release may still use the state";
}

}  // namespace
