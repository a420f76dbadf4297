// Exposure and download through the exports: the window list on the bus,
// the SCAN that follows it, and the image reads.
#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "core/aspi_entry.h"
#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& list, std::size_t at, std::uint32_t v) {
    list[at] = static_cast<std::uint8_t>(v >> 24);
    list[at + 1] = static_cast<std::uint8_t>(v >> 16);
    list[at + 2] = static_cast<std::uint8_t>(v >> 8);
    list[at + 3] = static_cast<std::uint8_t>(v);
}

// The window list as the camera expects it, written out byte by byte.
Bytes ExpectedWindow(std::uint32_t exposure, bool binned, std::uint32_t width, std::uint32_t height, std::uint32_t x,
                     std::uint32_t y) {
    Bytes list(78, 0);
    list[7] = 0x46;
    list[8] = 0x01;
    const std::uint8_t resHi = binned ? 0x05 : 0x0B, resLo = binned ? 0x83 : 0x06;
    list[10] = list[12] = resHi;
    list[11] = list[13] = resLo;
    Put32(list, 14, x);
    Put32(list, 18, y);
    Put32(list, 22, width);
    Put32(list, 26, height);
    list[33] = 0x02;
    Put32(list, 44, exposure);
    list[58] = 0x7F;
    list[59] = 0xFE;
    list[62] = 0x2F;
    list[63] = 0x03;
    return list;
}

// A GET WINDOW reply reporting this window: the first `length` bytes, with
// the Y resolution (offset 12) binned or not as `binnedY` says.
void ReportWindow(bool binned, std::uint32_t width, std::uint32_t height, std::size_t length = 78,
                  std::optional<bool> binnedY = std::nullopt) {
    Bytes list = ExpectedWindow(0, binned, width, height, 0, 0);
    if (binnedY) {
        const Bytes other = ExpectedWindow(0, *binnedY, width, height, 0, 0);
        std::copy(other.begin() + 12, other.begin() + 14, list.begin() + 12);
    }
    SimScriptReply(0x25, list.data(), static_cast<std::uint32_t>(std::min(length, list.size())), 1);
}

Bytes CameraImage() {
    Bytes image(SimLastImage(nullptr, 0));
    SimLastImage(image.data(), static_cast<std::uint32_t>(image.size()));
    return image;
}

// One data-out command sent to the camera straight through the manager, as
// another program would; returns SRB_Status (completion is immediate).
std::uint8_t SendToCamera(const Bytes& cdb, Bytes& data) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = SIM_DEFAULT_ADAPTER;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = tarnscsi::aspi::SRB_DIR_OUT;
    block.SRB_BufLen = static_cast<std::uint32_t>(data.size());
    block.SRB_BufPointer = data.data();
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), block.CDBByte);
    SendASPI32Command(&block);
    return block.SRB_Status;
}

std::vector<std::uint32_t> ReadLengths() {
    std::vector<std::uint32_t> lengths;
    for (const SimRequest& read : ExecRequests(0x28)) {
        EXPECT_EQ(read.cdb[7] << 8 | read.cdb[8], static_cast<int>(read.bufferLength));
        lengths.push_back(read.bufferLength);
    }
    return lengths;
}

}  // namespace

class ExposureTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ConnectOk();
        SimLogClear();
    }
};

TEST_F(ExposureTest, SendsTheWindowThenStartsTheScan) {
    struct Case {
        std::int32_t exposure, binned, width, height, x, y;  // as given to Expose
        std::uint32_t wireWidth, wireHeight;                 // as sent
        bool binnedResolution;
        bool accepted;  // the camera takes the window (then SCAN follows)
    };
    // Binned windows are rounded down to whole 2 x 2 cells; the origin is
    // not. Any non-zero `binned` bins. Every value goes out as the two's
    // complement of what was given, evened as an unsigned number.
    const Case cases[] = {
        {1500, 1, 767, 511, 1, 1, 766, 510, true, true},
        {1500, 0, 767, 511, 1, 1, 767, 511, false, true},
        {1500, 2, 767, 511, 1, 1, 766, 510, true, true},
        {1500, -1, 767, 511, 1, 1, 766, 510, true, true},
        {1500, 1, -3, 0x7FFFFFFF, 1, 1, 0xFFFFFFFC, 0x7FFFFFFE, true, false},
        {1500, 0, -3, 0x7FFFFFFF, 1, 1, 0xFFFFFFFD, 0x7FFFFFFF, false, false},
        {-1, 0, 64, 64, INT32_MIN, -5, 64, 64, false, false},
        {INT32_MAX, 0, 64, 64, 0, 0, 64, 64, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.binned) + " " + std::to_string(c.width) + " x " + std::to_string(c.height));
        SimLogClear();
        ASSERT_EQ(Expose(c.exposure, 0, c.binned, c.width, c.height, c.x, c.y), c.accepted ? 1 : 0);
        const auto requests = ExecRequests();
        ASSERT_EQ(requests.size(), c.accepted ? 2u : 1u);
        const SimRequest& window = requests[0];
        EXPECT_EQ(Cdb(window), (Bytes{0x24, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0}));
        EXPECT_EQ(window.bufferLength, 78u);
        EXPECT_EQ(window.flags, 0x50);
        EXPECT_EQ(DataOut(window),
                  ExpectedWindow(static_cast<std::uint32_t>(c.exposure), c.binnedResolution, c.wireWidth, c.wireHeight,
                                 static_cast<std::uint32_t>(c.x), static_cast<std::uint32_t>(c.y)));
        if (!c.accepted) continue;
        const SimRequest& scan = requests[1];
        EXPECT_EQ(Cdb(scan), (Bytes{0x1B, 0, 0, 0, 0x01, 0}));
        EXPECT_EQ(DataOut(scan), Bytes{0x01});
        EXPECT_EQ(scan.flags, 0x50);
    }
}

TEST_F(ExposureTest, TheSpareArgumentNeverReachesTheCamera) {
    ASSERT_EQ(Expose(250, 0, 0, 100, 80, 10, 20), 1);
    ASSERT_EQ(Expose(250, -123456, 0, 100, 80, 10, 20), 1);
    const auto windows = ExecRequests(0x24);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(DataOut(windows[0]), DataOut(windows[1]));
    EXPECT_EQ(Cdb(windows[0]), Cdb(windows[1]));
}

TEST_F(ExposureTest, ARefusedWindowStartsNothing) {
    // The camera refuses a window outside its sensor ...
    EXPECT_EQ(Expose(100, 0, 0, 800, 512, 0, 0), 0);
    // ... and any window when the command fails.
    SimAddFault(0x24, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(Expose(100, 0, 0, 64, 64, 0, 0), 0);
    SimAddFault(0x24, 0, 1, SIM_FAULT_REFUSE);
    EXPECT_EQ(Expose(100, 0, 0, 64, 64, 0, 0), 0);
    EXPECT_EQ(ExecRequests(0x1B).size(), 0u);
}

TEST_F(ExposureTest, AFailedScanStillReportsTheWindowAccepted) {
    SimAddFault(0x1B, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(Expose(100, 0, 0, 64, 64, 0, 0), 1);
}

TEST_F(ExposureTest, DownloadsAFullFrameInOrderInReadsOf2048Bytes) {
    struct Case {
        int binned;
        std::size_t reads;
    };
    for (const Case c : {Case{0, 384}, Case{1, 96}}) {
        SCOPED_TRACE(c.binned);
        ASSERT_EQ(Expose(0, 0, c.binned, 768, 512, 0, 0), 1);
        SimLogClear();
        Bytes image(768 * 512 * 2 + 16, 0xAA);
        ASSERT_EQ(Download(image.data()), 1);

        const auto requests = ExecRequests();
        ASSERT_EQ(requests.size(), c.reads + 1);
        EXPECT_EQ(Cdb(requests[0]), (Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0}));
        EXPECT_EQ(requests[0].flags, 0x48);
        EXPECT_EQ(requests[0].bufferLength, 78u);
        for (std::size_t i = 1; i < requests.size(); ++i)
            ASSERT_EQ(Cdb(requests[i]), (Bytes{0x28, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0})) << i;

        const Bytes sent = CameraImage();
        ASSERT_EQ(sent.size(), c.reads * 2048);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), image.begin())) << "image bytes out of order";
        EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(sent.size()), image.end(), [](std::uint8_t b) {
            return b == 0xAA;
        })) << "written past the image";
    }
}

TEST_F(ExposureTest, SizesTheImageFromTheWindowTheCameraReports) {
    struct Case {
        bool binnedX, binnedY;  // the resolutions at offsets 10 and 12
        std::size_t reads;
        std::uint32_t last;
        std::size_t replyLength;
    };
    // 767 x 511: binned 383 x 255 pixels, 95 full reads and one of 770;
    // unbinned 382 full reads and one of 1538. Binning is read from the X
    // resolution alone. A reply that ends after the exposure time (48 of
    // 78 bytes) holds all the module reads.
    const Case cases[] = {{true, true, 96, 770, 78}, {true, false, 96, 770, 78}, {false, true, 383, 1538, 48}};
    Bytes image(768 * 512 * 2, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.binnedX) + std::to_string(c.binnedY));
        ASSERT_EQ(Expose(0, 0, 0, 768, 512, 0, 0), 1);
        SimLogClear();
        ReportWindow(c.binnedX, 767, 511, c.replyLength, c.binnedY);
        ASSERT_EQ(Download(image.data()), 1);
        auto lengths = ReadLengths();
        ASSERT_EQ(lengths.size(), c.reads);
        EXPECT_EQ(std::count(lengths.begin(), lengths.end(), 2048u), static_cast<long>(c.reads - 1));
        EXPECT_EQ(lengths.back(), c.last);
        EXPECT_EQ(ExecRequests(0x28).back().cdb[7], c.last >> 8);
        EXPECT_EQ(ExecRequests(0x28).back().cdb[8], c.last & 0xFF);
    }
}

TEST_F(ExposureTest, ASmallWindowIsOneShortRead) {
    ASSERT_EQ(Expose(0, 0, 0, 40, 25, 100, 100), 1);
    SimLogClear();
    Bytes image(2000);
    ASSERT_EQ(Download(image.data()), 1);
    const auto reads = ExecRequests(0x28);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].cdb[7], 0x07);
    EXPECT_EQ(reads[0].cdb[8], 0xD0);
    EXPECT_EQ(image, CameraImage());
}

TEST_F(ExposureTest, AnEmptyWindowReadsNothingAndSucceeds) {
    struct Case {
        bool binned;
        std::uint32_t width, height;
        std::size_t replyLength;
    };
    // The last: a reply that ends before the width, passed as complete (as
    // by a manager that ignores the residual; ours report it as an error).
    // The rest of the buffer reads as zeros, not as the 64 x 64 window SET
    // WINDOW left in it.
    SimPassShortTransfers(1);
    const Case cases[] = {
        {false, 0, 512, 78}, {false, 768, 0, 78}, {true, 1, 512, 78}, {true, 768, 1, 78}, {false, 768, 512, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(c.replyLength) +
                     " bytes");
        ASSERT_EQ(Expose(0, 0, 0, 64, 64, 0, 0), 1);
        SimLogClear();
        ReportWindow(c.binned, c.width, c.height, c.replyLength);
        std::uint8_t guard = 0x5A;
        EXPECT_EQ(Download(&guard), 1);
        EXPECT_EQ(guard, 0x5A);
        EXPECT_EQ(ExecRequests(0x28).size(), 0u);
    }
}

TEST_F(ExposureTest, AWindowWhoseSizeDoesNotFitIn32BitsIsRefusedWithoutAnyRead) {
    struct Case {
        bool binned;
        std::uint32_t width, height;
    };
    const Case cases[] = {
        {false, 65536, 32768},   // exactly 2^32 bytes: counted as 0
        {false, 65536, 32769},   // 2^32 + 131072: counted as a small image
        {true, 131072, 65536},   // binned, 2^32 bytes
        {false, 0xFFFFFFFF, 2},  // a "negative" width taken as unsigned
        {true, 0x80000000, 0x80000000},
        {true, 0xFFFFFFFE, 0xFFFFFFFE},  // halved as unsigned: 0x7FFFFFFF squared, not 1
    };
    ASSERT_EQ(Expose(0, 0, 0, 64, 64, 0, 0), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        SimLogClear();
        ReportWindow(c.binned, c.width, c.height);
        Bytes image(64, 0xAA);
        EXPECT_EQ(Download(image.data()), 0);
        EXPECT_EQ(ExecRequests(0x28).size(), 0u);
        EXPECT_EQ(image, Bytes(64, 0xAA));
    }
    // The window the camera really has still downloads.
    Bytes image(64 * 64 * 2);
    EXPECT_EQ(Download(image.data()), 1);
}

TEST_F(ExposureTest, AReportedWindowLargerThanTheExposedOneIsRefusedWithoutAnyRead) {
    struct Case {
        const char* what;
        int binned, width, height;  // as given to Expose
        bool reportBinned;          // as the camera reports them
        std::uint32_t reportWidth, reportHeight;
        bool refused;
    };
    const Case cases[] = {
        {"one row more", 0, 64, 64, false, 64, 65, true},
        {"binning lost: four times the bytes", 1, 128, 128, false, 128, 128, true},
        {"the same bytes in another shape", 0, 64, 64, false, 128, 32, false},
        {"smaller", 0, 64, 64, false, 64, 63, false},
        {"odd width evened by Expose", 1, 129, 128, true, 128, 128, false},
        {"binned, one cell wider", 1, 128, 128, true, 130, 128, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Expose(0, 0, c.binned, c.width, c.height, 0, 0), 1);
        const std::size_t exposed = c.binned ? static_cast<std::size_t>(c.width / 2) * (c.height / 2) * 2
                                             : static_cast<std::size_t>(c.width) * c.height * 2;
        SimLogClear();
        ReportWindow(c.reportBinned, c.reportWidth, c.reportHeight);
        // The buffer the application sized for its exposure, and guard bytes.
        Bytes image(exposed + 4096, 0xAA);
        EXPECT_EQ(Download(image.data()), c.refused ? 0 : 1);
        if (c.refused) {
            EXPECT_EQ(ExecRequests(0x28).size(), 0u);
            EXPECT_EQ(image, Bytes(exposed + 4096, 0xAA));
        }
        EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(exposed), image.end(), [](std::uint8_t b) {
            return b == 0xAA;
        })) << "written past the exposed window";
    }
}

TEST_F(ExposureTest, AnotherProgramsLargerWindowIsRefusedUntilTheNextConnection) {
    ASSERT_EQ(Expose(0, 0, 0, 32, 32, 0, 0), 1);
    // A refused window changes nothing: the camera keeps the one before.
    ASSERT_EQ(Expose(0, 0, 0, 800, 512, 0, 0), 0);
    // Another program programs a full frame and starts it.
    Bytes window = ExpectedWindow(0, false, 768, 512, 0, 0);
    ASSERT_EQ(SendToCamera({0x24, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0}, window), tarnscsi::aspi::SS_COMP);
    Bytes windowList{0x01};
    ASSERT_EQ(SendToCamera({0x1B, 0, 0, 0, 0x01, 0}, windowList), tarnscsi::aspi::SS_COMP);
    SimLogClear();
    Bytes image(32 * 32 * 2 + 4096, 0xAA);
    EXPECT_EQ(Download(image.data()), 0);
    EXPECT_EQ(ExecRequests(0x28).size(), 0u);
    EXPECT_EQ(image, Bytes(32 * 32 * 2 + 4096, 0xAA));
    // A new connection knows nothing of the old one's exposures: without an
    // Expose of its own it reads the window the camera reports, whole.
    Disconnect();
    ConnectOk();
    SimLogClear();
    Bytes frame(768 * 512 * 2);
    EXPECT_EQ(Download(frame.data()), 1);
    EXPECT_EQ(ExecRequests(0x28).size(), 384u);
    EXPECT_EQ(frame, CameraImage());
}

TEST_F(ExposureTest, AFailedWindowReadLeavesTheBufferUntouched) {
    ASSERT_EQ(Expose(0, 0, 0, 64, 64, 0, 0), 1);
    SimAddFault(0x25, 0, 1, SIM_FAULT_CHECK_CONDITION);
    Bytes image(64 * 64 * 2, 0xAA);
    EXPECT_EQ(Download(image.data()), 0);
    EXPECT_EQ(image, Bytes(64 * 64 * 2, 0xAA));
    EXPECT_EQ(ExecRequests(0x28).size(), 0u);
}

TEST_F(ExposureTest, AReadFailingMidwayKeepsWhatArrivedAndStops) {
    for (int kind : {SIM_FAULT_CHECK_CONDITION, SIM_FAULT_REFUSE}) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(Expose(0, 0, 0, 768, 512, 0, 0), 1);
        SimLogClear();
        SimAddFault(0x28, 10, 1, kind);
        Bytes image(768 * 512 * 2, 0xAA);
        EXPECT_EQ(Download(image.data()), 0);
        EXPECT_EQ(ExecRequests(0x28).size(), 11u);
        const Bytes sent = CameraImage();
        const auto arrived = static_cast<long>(10 * 2048);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + arrived, sent.begin()));
        EXPECT_TRUE(std::all_of(image.begin() + arrived, image.end(), [](std::uint8_t b) { return b == 0xAA; }));
        SimReset();
        ConnectOk();
    }
}

TEST_F(ExposureTest, DownloadBeforeAnyExposureFails) {
    Bytes image(768 * 512 * 2);
    EXPECT_EQ(Download(image.data()), 0);
}
