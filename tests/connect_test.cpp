// Finding the camera: Connect's outcomes and messages, the order of the
// search and what it looks at, and what the exports do without a camera.
// (Failures of the event and of the allocation need the platform's own
// means: posix_connect_test.cpp, windows/kernel_calls_test.cpp.)
#include <optional>
#include <string>
#include <vector>

#include "core/aspi_entry.h"
#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

namespace {

// Where the connection's commands go: the address of the next command sent.
struct Address {
    int adapter;
    int target;
    bool operator==(const Address&) const = default;
};

Address CameraAddress() {
    SimLogClear();
    EXPECT_EQ(Ready(), 1);
    const auto requests = ExecRequests();
    if (requests.size() != 1) return {-1, -1};
    return {requests[0].haId, requests[0].target};
}

std::string ConnectMessage() {
    const char* error = "untouched";
    EXPECT_EQ(Connect(&error), 0);
    return error;
}

void AddPlainDevice(int adapter, int target, std::uint8_t type, const std::vector<std::uint8_t>& inquiry) {
    ASSERT_EQ(SimAddDevice(adapter, target, 0, type, inquiry.data(), static_cast<std::uint32_t>(inquiry.size())), 0);
}

}  // namespace

using ConnectTest = ModuleTest;

TEST_F(ConnectTest, FindsTheDefaultCameraAndLeavesErrorTextAlone) {
    const char* error = "left as it was";
    ASSERT_EQ(Connect(&error), 1);
    EXPECT_STREQ(error, "left as it was");
    EXPECT_EQ(CameraAddress(), (Address{SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET}));
}

TEST_F(ConnectTest, ReportsCameraNotFoundOnABusWithoutOne) {
    SimClearBus(2);
    AddPlainDevice(0, 1, 5, InquiryData(5, "CD-ROM"));
    EXPECT_EQ(ConnectMessage(), "Camera not found");
}

TEST_F(ConnectTest, DeviceExportsRefuseWithoutAUsableConnectionAndSendNothing) {
    auto expectRefusals = [] {
        SimLogClear();
        std::vector<std::uint8_t> image(64, 0xAA);
        int32_t cooling = 77;
        EXPECT_EQ(Expose(100, 0, 0, 2, 2, 0, 0), 0);
        EXPECT_EQ(Download(image.data()), 0);
        EXPECT_EQ(Ready(), 0);
        EXPECT_EQ(SetTemperature(-100), 0);
        EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
        EXPECT_EQ(cooling, 77);
        EXPECT_EQ(image, std::vector<std::uint8_t>(64, 0xAA));
        EXPECT_EQ(SimLogCount(), 0u);
    };
    // No connection at all.
    expectRefusals();
    // A connection whose camera was not found stays current until Disconnect.
    SimClearBus(1);
    EXPECT_EQ(ConnectMessage(), "Camera not found");
    expectRefusals();
}

TEST_F(ConnectTest, TakesTheLowestAdapterThenTheLowestTarget) {
    SimClearBus(3);
    ASSERT_EQ(SimAddCamera(2, 0, 0), 0);
    ASSERT_EQ(SimAddCamera(1, 6, 0), 0);
    ASSERT_EQ(SimAddCamera(1, 4, 0), 0);
    ConnectOk();
    EXPECT_EQ(CameraAddress(), (Address{1, 4}));
}

TEST_F(ConnectTest, StopsSearchingAtTheFirstMatch) {
    SimClearBus(2);
    ASSERT_EQ(SimAddCamera(0, 3, 0), 0);
    ConnectOk();
    const auto queries = DeviceTypeRequests();
    ASSERT_EQ(queries.size(), 4u);
    EXPECT_EQ(queries.back().target, 3);
    EXPECT_EQ(ExecRequests().size(), 1u);
}

TEST_F(ConnectTest, MatchesTheFirstFiveCharactersOfTheProductOnly) {
    struct Case {
        const char* product;
        bool match;
    };
    const Case cases[] = {{"Nebrix CCD", true}, {"NebriQ", true},   {"Nebri", true},  {"Nebr", false},
                          {"nebrix", false},    {"XNebrix", false}, {"Neb ix", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.product);
        Disconnect();
        SimReset();
        SimClearBus(1);
        AddPlainDevice(0, 5, 6, InquiryData(6, c.product));
        const char* error = nullptr;
        EXPECT_EQ(Connect(&error), c.match ? 1 : 0);
    }
}

TEST_F(ConnectTest, IdentifiesOnlyScannerTypeDevicesAndLooksOnlyAtTheProductField) {
    SimClearBus(1);
    // The right product on a device that is not a scanner: never asked.
    AddPlainDevice(0, 0, 3, InquiryData(3, "Nebrix"));
    // A scanner whose vendor field says Nebrix but whose product does not.
    auto vendorOnly = InquiryData(6, "Flatbed");
    std::copy_n("Nebrix  ", 8, vendorOnly.begin() + 8);
    AddPlainDevice(0, 1, 6, vendorOnly);
    EXPECT_EQ(ConnectMessage(), "Camera not found");
    const auto inquiries = ExecRequests(0x12);
    ASSERT_EQ(inquiries.size(), 1u);
    EXPECT_EQ(inquiries[0].target, 1);
}

TEST_F(ConnectTest, IdentifySendsTheInquiryCommandAsTheCameraExpectsIt) {
    ConnectOk();
    const auto inquiries = ExecRequests(0x12);
    ASSERT_EQ(inquiries.size(), 1u);
    EXPECT_EQ(Cdb(inquiries[0]), (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0x00, 0x20, 0x00}));
    EXPECT_EQ(inquiries[0].bufferLength, 32u);
    EXPECT_EQ(inquiries[0].flags, 0x48);
    EXPECT_EQ(inquiries[0].lun, 0);
}

TEST_F(ConnectTest, NeverTriesTargetsAboveSevenOrOtherLogicalUnits) {
    SimClearBus(2);
    ASSERT_EQ(SimAddCamera(0, 8, 0), 0);
    ASSERT_EQ(SimAddCamera(1, 15, 0), 0);
    ASSERT_EQ(SimAddCamera(1, 3, 1), 0);
    EXPECT_EQ(ConnectMessage(), "Camera not found");
    const auto queries = DeviceTypeRequests();
    ASSERT_EQ(queries.size(), 16u);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        EXPECT_EQ(queries[i].haId, i / 8);
        EXPECT_EQ(queries[i].target, i % 8);
        EXPECT_EQ(queries[i].lun, 0);
        EXPECT_EQ(queries[i].flags, 0) << "header flags of the get-device-type block not zero";
        EXPECT_EQ(queries[i].deviceTypeIn, 0) << "device type not cleared before the request";
    }
}

TEST_F(ConnectTest, FollowsTheSupportWord) {
    struct Case {
        std::uint32_t word;
        std::size_t queries;
        int connected;
    };
    const Case cases[] = {
        {0x0000E800, 0, 0},  // no adapters
        {0x00000203, 0, 0},  // status other than SS_COMP: even a non-zero count scans nothing
        {0x00000100, 0, 0},  // SS_COMP with no adapters
        {0x00000101, 3, 1},  // one adapter: the camera sits at target 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        Disconnect();
        SimReset();
        SimSetSupportWord(c.word);
        const char* error = nullptr;
        EXPECT_EQ(Connect(&error), c.connected);
        if (!c.connected) {
            EXPECT_STREQ(error, "Camera not found");
        }
        EXPECT_EQ(DeviceTypeRequests().size(), c.queries);
    }
}

TEST_F(ConnectTest, AFailedIdentifyPassesOverThatTargetOnly) {
    SimClearBus(1);
    ASSERT_EQ(SimAddCamera(0, 1, 0), 0);
    ASSERT_EQ(SimAddCamera(0, 4, 0), 0);
    for (int kind : {SIM_FAULT_CHECK_CONDITION, SIM_FAULT_REFUSE}) {
        SCOPED_TRACE(kind);
        Disconnect();
        SimLogClear();
        SimAddFault(0x12, 0, 1, kind);
        ConnectOk();
        EXPECT_EQ(CameraAddress(), (Address{0, 4}));
    }
}

// SCSI lets a target answer INQUIRY with fewer bytes than allocated: an
// answer that carries the five characters compared (21 bytes and more) is
// the camera's. A shorter one is not, and its buffer never holds an earlier
// answer, also with a manager that passes short answers as complete (ours
// report them as errors): target 0 leaves "Xxxxi" in the product field,
// and target 1's 20 bytes end with "Nebr", which together would match.
TEST_F(ConnectTest, AShortInquiryAnswerIsTheCamerasWhenItCarriesTheName) {
    struct Case {
        bool passShort;
        std::size_t length;
        bool found;
    };
    const Case cases[] = {
        {false, 21, true}, {false, 31, true}, {false, 20, false}, {true, 20, false}, {true, 21, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + (c.passShort ? " bytes, passed as complete" : " bytes"));
        Disconnect();
        SimReset();
        SimClearBus(1);
        SimPassShortTransfers(c.passShort ? 1 : 0);
        AddPlainDevice(0, 0, 6, InquiryData(6, "Xxxxi"));
        auto answer = InquiryData(6, "Nebrix");
        answer.resize(c.length);
        AddPlainDevice(0, 1, 6, answer);
        if (c.found) {
            ConnectOk();
        } else {
            EXPECT_EQ(ConnectMessage(), "Camera not found");
        }
    }
}

TEST_F(ConnectTest, ANewConnectReplacesTheCurrentConnection) {
    SimClearBus(1);
    EXPECT_EQ(ConnectMessage(), "Camera not found");
    SimReset();
    ConnectOk();
    EXPECT_EQ(CameraAddress(), (Address{SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET}));
}

TEST_F(ConnectTest, DisconnectWithoutAConnectionDoesNothing) {
    Disconnect();
    Disconnect();
    ConnectOk();
    Disconnect();
    Disconnect();
    EXPECT_EQ(Ready(), 0);
}

// Another holder of a target, in this process: the simulator's claims are
// per process when private, so a claim made here stands for another program.
class HeldTarget {
public:
    HeldTarget(std::uint8_t heldAdapter, std::uint8_t heldTarget) : adapter(heldAdapter), target(heldTarget) {
        char holder[64] = {};
        held = AspiClaimTarget(adapter, target, holder, sizeof holder) == 1;
    }
    ~HeldTarget() {
        if (held) AspiReleaseTarget(adapter, target);
    }
    HeldTarget(const HeldTarget&) = delete;
    HeldTarget& operator=(const HeldTarget&) = delete;
    bool Held() const { return held; }

private:
    std::uint8_t adapter;
    std::uint8_t target;
    bool held = false;
};

TEST_F(ConnectTest, ACameraHeldElsewhereGetsNoCommandAndConnectSaysItIsInUse) {
    {
        HeldTarget other(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET);
        ASSERT_TRUE(other.Held());
        SimLogClear();
        EXPECT_EQ(ConnectMessage(), "Camera in use");
        EXPECT_EQ(ExecRequests().size(), 0u) << "a command reached the held camera";
        // The failed connection keeps nothing claimed and sends nothing later.
        EXPECT_EQ(Ready(), 0);
        EXPECT_EQ(ExecRequests().size(), 0u);
        Disconnect();
    }
    // Released by its holder: free for us.
    ConnectOk();
    EXPECT_EQ(CameraAddress(), (Address{SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET}));
}

TEST_F(ConnectTest, TheSearchKeepsTheCameraClaimedAndLetsOtherTargetsGoAtOnce) {
    struct Case {
        int held;            // target held elsewhere, or -1
        Address connectsTo;  // {-1, -1}: none, "Camera in use"
    };
    // Scanners at targets 1 (not the camera), 3 and 5 (cameras).
    const Case cases[] = {{-1, {0, 3}}, {3, {0, 5}}, {1, {0, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held);
        Disconnect();
        SimClearBus(1);
        AddPlainDevice(0, 1, 6, InquiryData(6, "OTHER SCANNER"));
        ASSERT_EQ(SimAddCamera(0, 3, 0), 0);
        ASSERT_EQ(SimAddCamera(0, 5, 0), 0);
        std::optional<HeldTarget> other;
        if (c.held >= 0) other.emplace(0, static_cast<std::uint8_t>(c.held));
        SimLogClear();
        ConnectOk();
        for (const SimRequest& request : ExecRequests()) EXPECT_NE(request.target, c.held);
        EXPECT_EQ(CameraAddress(), c.connectsTo);

        // The scanner that is not the camera was let go; the camera is ours
        // until Disconnect.
        char holder[64] = {};
        if (c.held != 1) {
            EXPECT_EQ(AspiClaimTarget(0, 1, holder, sizeof holder), 1u);
            AspiReleaseTarget(0, 1);
        }
        const auto camera = static_cast<std::uint8_t>(c.connectsTo.target);
        EXPECT_EQ(AspiClaimTarget(0, camera, holder, sizeof holder), 0u);
        EXPECT_NE(std::string(holder).find(", PID "), std::string::npos) << holder;
        Disconnect();
        EXPECT_EQ(AspiClaimTarget(0, camera, holder, sizeof holder), 1u);
        AspiReleaseTarget(0, camera);
    }
}

TEST_F(ConnectTest, NullPointersAreNeverWrittenOrRead) {
    // Connect's message is dropped when there is nowhere to put it.
    SimClearBus(1);
    EXPECT_EQ(Connect(nullptr), 0);
    Disconnect();
    SimReset();
    EXPECT_EQ(Connect(nullptr), 1);
    // No place for the cooling byte: no reading, and nothing is asked of the camera.
    SimLogClear();
    EXPECT_EQ(GetCoolingInfo(nullptr), TARNSCSI_NO_READING);
    EXPECT_EQ(Download(nullptr), 0);
    EXPECT_EQ(ExecRequests().size(), 0u);
    int32_t cooling = -1;
    EXPECT_NE(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
    EXPECT_EQ(cooling, 0);
}
