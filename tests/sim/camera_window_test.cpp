// SET WINDOW and GET WINDOW: which window lists the camera takes, which it
// rejects, and what it reports back.
#include <functional>
#include <string>

#include "window_layout.h"
#include "big_endian.h"
#include "sim_test_support.h"

namespace tarnscsi::simtest {
namespace {

namespace w = tarnscsi::camera::window;
using Bytes = std::vector<std::uint8_t>;

Bytes GetWindow() {
    Bytes list(w::kLength, 0xEE);
    EXPECT_TRUE(RunCommand(tarnscsi::camera::kGetWindow, list));
    return list;
}

class WindowTest : public SimTest {};

TEST_F(WindowTest, BeforeAnySetWindowReportsTheFullUnbinnedFrame) {
    Bytes expected = WindowList({});
    EXPECT_EQ(GetWindow(), expected);
}

TEST_F(WindowTest, AcceptedWindowIsReportedBackWithAZeroHeader) {
    for (const WindowFields fields : {WindowFields{1, 2, 100, 50, false, 1234}, WindowFields{766, 510, 2, 2, true, 0},
                                      WindowFields{767, 511, 1, 1, false, 0xFFFFFFFF}}) {
        Bytes list = WindowList(fields);
        list[0] = 0x55;  // header bytes are the initiator's business
        ASSERT_TRUE(RunCommand(tarnscsi::camera::kSetWindow, list));
        list[0] = 0;
        EXPECT_EQ(GetWindow(), list);
    }
}

struct Rejection {
    std::string name;
    std::function<void(Bytes&)> spoil;
};

void PutSigned(Bytes& list, std::size_t offset, std::int32_t value) {
    PutBE32(&list[offset], static_cast<std::uint32_t>(value));
}

TEST_F(WindowTest, EveryMalformedListEndsWithInvalidFieldInParameterList) {
    const Rejection rejections[] = {
        {"descriptor length", [](Bytes& l) { PutBE16(&l[w::kDescriptorLength], 69); }},
        {"window id", [](Bytes& l) { l[w::kWindowId] = 2; }},
        {"resolutions differ", [](Bytes& l) { PutBE16(&l[w::kYResolution], w::kResolutionBinned); }},
        {"unknown resolution",
         [](Bytes& l) {
             PutBE16(&l[w::kXResolution], 1000);
             PutBE16(&l[w::kYResolution], 1000);
         }},
        {"composition", [](Bytes& l) { l[w::kImageComposition] = 1; }},
        {"fixed byte 58", [](Bytes& l) { l[w::kFixedBytes[0].offset] = 0; }},
        {"fixed byte 59", [](Bytes& l) { l[w::kFixedBytes[1].offset] = 0; }},
        {"fixed byte 62", [](Bytes& l) { l[w::kFixedBytes[2].offset] = 0; }},
        {"fixed byte 63", [](Bytes& l) { l[w::kFixedBytes[3].offset] = 0; }},
        {"negative origin x", [](Bytes& l) { PutSigned(l, w::kOriginX, -1); }},
        {"negative origin y", [](Bytes& l) { PutSigned(l, w::kOriginY, -1); }},
        {"zero width", [](Bytes& l) { PutSigned(l, w::kWidth, 0); }},
        {"zero height", [](Bytes& l) { PutSigned(l, w::kHeight, 0); }},
        {"negative width", [](Bytes& l) { PutSigned(l, w::kWidth, -2); }},
        {"past right edge", [](Bytes& l) { PutSigned(l, w::kOriginX, 1); }},
        {"past bottom edge", [](Bytes& l) { PutSigned(l, w::kOriginY, 1); }},
        {"sum overflows",
         [](Bytes& l) {
             PutSigned(l, w::kOriginX, 0x7FFFFFFF);
             PutSigned(l, w::kWidth, 2);
         }},
        {"binned odd width",
         [](Bytes& l) {
             PutBE16(&l[w::kXResolution], w::kResolutionBinned);
             PutBE16(&l[w::kYResolution], w::kResolutionBinned);
             PutSigned(l, w::kWidth, 767);
         }},
        {"binned odd height",
         [](Bytes& l) {
             PutBE16(&l[w::kXResolution], w::kResolutionBinned);
             PutBE16(&l[w::kYResolution], w::kResolutionBinned);
             PutSigned(l, w::kHeight, 511);
         }},
    };
    const Bytes current = WindowList({10, 10, 20, 20, false, 5});
    Bytes set = current;
    ASSERT_TRUE(RunCommand(tarnscsi::camera::kSetWindow, set));

    for (const Rejection& rejection : rejections) {
        SCOPED_TRACE(rejection.name);
        Bytes list = WindowList({});
        rejection.spoil(list);
        auto block = Block(tarnscsi::camera::kSetWindow, list.data(), w::kLength);
        EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
        ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest,
                             tarnscsi::scsi::kInvalidFieldInParameterList);
        EXPECT_EQ(GetWindow(), current) << "a rejected list must not change the window";
    }
}

TEST_F(WindowTest, CommandBytesOtherThanTheLengthMustBeExact) {
    Bytes list = WindowList({});
    auto setWindow = Block(tarnscsi::camera::kSetWindow, list.data(), w::kLength);
    setWindow.CDBByte[8] = w::kLength - 1;
    Send(setWindow);
    ExpectCheckCondition(setWindow, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidFieldInCdb);

    auto getWindow = Block(tarnscsi::camera::kGetWindow, list.data(), w::kLength);
    getWindow.CDBByte[2] = 1;
    Send(getWindow);
    ExpectCheckCondition(getWindow, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidFieldInCdb);
}

}  // namespace
}  // namespace tarnscsi::simtest