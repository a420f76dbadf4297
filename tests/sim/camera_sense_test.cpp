// Sense data of rejected commands: every malformed command ends with CHECK
// CONDITION, and ILLEGAL REQUEST points at the command byte (and bit) or the
// parameter-list byte in error; errors that are in no field point nowhere.
#include <functional>
#include <optional>
#include <string>

#include "cooling_page.h"
#include "window_layout.h"
#include "big_endian.h"
#include "sim_test_support.h"

namespace tarnscsi::simtest {
namespace {

namespace w = tarnscsi::camera::window;
namespace c = tarnscsi::camera::cooling;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSenseLength = 18;
constexpr std::size_t kSpecific = 15;
constexpr std::uint8_t kValid = 0x80;
constexpr std::uint8_t kInCommand = 0x40;
constexpr std::uint8_t kBitValid = 0x08;

struct Pointer {
    bool inCommand;
    std::uint16_t byte;
    std::optional<std::uint8_t> bit;
};

Bytes LastSense() {
    Bytes sense(SimLastSense(nullptr, 0));
    SimLastSense(sense.data(), static_cast<std::uint32_t>(sense.size()));
    return sense;
}

// The last sense data point at `pointer`, or at nothing.
void ExpectPointer(std::optional<Pointer> pointer) {
    const Bytes sense = LastSense();
    ASSERT_EQ(sense.size(), kSenseLength);
    if (!pointer) {
        EXPECT_EQ(sense[kSpecific] & kValid, 0) << "no field to point at";
        return;
    }
    std::uint8_t flags = kValid | (pointer->inCommand ? kInCommand : 0);
    if (pointer->bit) {
        flags |= kBitValid | *pointer->bit;
    }
    EXPECT_EQ(sense[kSpecific], flags);
    EXPECT_EQ(GetBE16(&sense[kSpecific + 1]), pointer->byte);
}

struct BadCommand {
    std::string name;
    std::function<tarnscsi::aspi::SRB_ExecSCSICmd(Bytes&)> block;  // built on this buffer
    tarnscsi::scsi::AdditionalSense code;
    std::optional<Pointer> pointer;
};

tarnscsi::aspi::SRB_ExecSCSICmd WithByte(const tarnscsi::camera::CommandSpec& command, Bytes& buffer, std::size_t byte,
                                         std::uint8_t value) {
    auto block = Block(command, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    block.CDBByte[byte] = value;
    return block;
}

tarnscsi::aspi::SRB_ExecSCSICmd WindowWith(Bytes& buffer, const std::function<void(Bytes&)>& spoil) {
    buffer = WindowList({});
    spoil(buffer);
    return Block(tarnscsi::camera::kSetWindow, buffer.data(), w::kLength);
}

tarnscsi::aspi::SRB_ExecSCSICmd CoolingWith(Bytes& buffer, std::size_t byte, std::uint8_t value) {
    buffer = CoolingList(-50);
    buffer[byte] = value;
    return Block(tarnscsi::camera::kWriteCoolingPage, buffer.data(), c::kLength);
}

void Binned(Bytes& list) {
    PutBE16(&list[w::kXResolution], w::kResolutionBinned);
    PutBE16(&list[w::kYResolution], w::kResolutionBinned);
}

class SenseTest : public SimTest {};

TEST_F(SenseTest, RejectionsPointAtTheFieldInError) {
    const auto cdb = [](std::uint16_t byte, std::optional<std::uint8_t> bit = std::nullopt) {
        return std::optional(Pointer{true, byte, bit});
    };
    const auto list = [](std::uint16_t byte) { return std::optional(Pointer{false, byte, std::nullopt}); };
    const BadCommand commands[] = {
        {"unknown opcode", [](Bytes& b) { return WithByte(tarnscsi::camera::kIdentify, b, 0, 0x08); },
         tarnscsi::scsi::kInvalidOpcode, cdb(0)},
        {"inquiry asks for vital product data",
         [](Bytes& b) { return WithByte(tarnscsi::camera::kIdentify, b, 1, 0x01); }, tarnscsi::scsi::kInvalidFieldInCdb,
         cdb(1, 0)},
        {"mode select without page format",
         [](Bytes& b) { return WithByte(tarnscsi::camera::kWriteCoolingPage, b, 1, 0x00); },
         tarnscsi::scsi::kInvalidFieldInCdb, cdb(1, 4)},
        {"allocation length beyond the buffer",
         [](Bytes& b) {
             b.resize(8);
             return Block(tarnscsi::camera::kIdentify, b.data(), 8);
         },
         tarnscsi::scsi::kInvalidFieldInCdb, cdb(4)},
        {"data out for a data-in command",
         [](Bytes& b) {
             auto block = Block(tarnscsi::camera::kIdentify, b.data(), static_cast<std::uint32_t>(b.size()));
             block.SRB_Flags = tarnscsi::aspi::SRB_DIR_OUT;
             return block;
         },
         tarnscsi::scsi::kInvalidFieldInCdb, std::nullopt},
        {"window id", [](Bytes& b) { return WindowWith(b, [](Bytes& l) { l[w::kWindowId] = 2; }); },
         tarnscsi::scsi::kInvalidFieldInParameterList, list(w::kWindowId)},
        {"negative origin",
         [](Bytes& b) { return WindowWith(b, [](Bytes& l) { PutBE32(&l[w::kOriginY], 0xFFFFFFFF); }); },
         tarnscsi::scsi::kInvalidFieldInParameterList, list(w::kOriginY)},
        {"past the right edge", [](Bytes& b) { return WindowWith(b, [](Bytes& l) { PutBE32(&l[w::kOriginX], 1); }); },
         tarnscsi::scsi::kInvalidFieldInParameterList, list(w::kWidth)},
        {"binned odd height",
         [](Bytes& b) {
             return WindowWith(b, [](Bytes& l) {
                 Binned(l);
                 PutBE32(&l[w::kHeight], 511);
             });
         },
         tarnscsi::scsi::kInvalidFieldInParameterList, list(w::kHeight)},
        {"cooling signature", [](Bytes& b) { return CoolingWith(b, c::kSignature + 1, 0); },
         tarnscsi::scsi::kInvalidFieldInParameterList, list(static_cast<std::uint16_t>(c::kSignature + 1))},
        {"scan of window 2",
         [](Bytes& b) {
             b.assign(1, 2);
             return Block(tarnscsi::camera::kStartScan, b.data(), 1);
         },
         tarnscsi::scsi::kInvalidFieldInParameterList, list(0)},
        {"scan before any window",
         [](Bytes& b) {
             b.assign(1, w::kWindowIdValue);
             return Block(tarnscsi::camera::kStartScan, b.data(), 1);
         },
         tarnscsi::scsi::kCommandSequenceError, std::nullopt},
    };
    for (const BadCommand& command : commands) {
        SCOPED_TRACE(command.name);
        Bytes buffer(w::kLength + c::kLength, 0);
        auto block = command.block(buffer);
        EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
        ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest, command.code);
        ExpectPointer(command.pointer);
    }
}

TEST_F(SenseTest, ReadPastTheImagePointsAtTheTransferLength) {
    Bytes window = WindowList({0, 0, 2, 2, false, 0});
    ASSERT_TRUE(RunCommand(tarnscsi::camera::kSetWindow, window));
    Bytes id{w::kWindowIdValue};
    ASSERT_TRUE(RunCommand(tarnscsi::camera::kStartScan, id));
    Bytes buffer(16);
    auto read = Block(tarnscsi::camera::kReadImage, buffer.data(), 16);
    read.CDBByte[tarnscsi::camera::kReadLengthOffset + 1] = 16;  // the image has 8 bytes
    Send(read);
    ExpectCheckCondition(read, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidFieldInCdb);
    ExpectPointer(Pointer{true, 6, std::nullopt});
}

TEST_F(SenseTest, ALongerSenseAreaCarriesTheFieldPointerFlags) {
    Bytes buffer(64);
    auto block = WithByte(tarnscsi::camera::kIdentify, buffer, 1, 0x01);
    block.SRB_SenseLen = sizeof block.SenseArea;
    Send(block);
    EXPECT_EQ(block.SenseArea[kSpecific], kValid | kInCommand | kBitValid | 0);
}

}  // namespace
}  // namespace tarnscsi::simtest