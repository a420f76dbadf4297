// Connect against a device that answers INQUIRY with arbitrary bytes. The
// bus: one adapter, the fuzzed device at a target 0..6 with a device type
// chosen by the input (mostly 6, which makes the module ask INQUIRY; else
// any byte, qualifier bits and all), and
// the real camera on target 7. The first INQUIRY may be refused or end with
// CHECK CONDITION; the support word may be arbitrary. Besides not crashing,
// Connect must find exactly the camera the replies describe: the fuzzed
// device when its answer carries the product name within the bytes it
// sent, else the camera behind it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "aspi.h"
#include "camera_play.h"
#include <tarnscsi/tarnscsi.h>
#include "sim/sim_control.h"

namespace {

constexpr std::uint8_t kScanner = 6;
constexpr std::uint8_t kInquiry = 0x12;
constexpr int kCameraTarget = 7;
constexpr std::size_t kProductOffset = 16;
constexpr char kProductPrefix[] = "Nebri";  // the five characters the module compares
constexpr std::size_t kProductLength = sizeof kProductPrefix - 1;

bool NamesTheCamera(const std::vector<std::uint8_t>& reply) {
    return reply.size() >= kProductOffset + kProductLength &&
           std::memcmp(reply.data() + kProductOffset, kProductPrefix, kProductLength) == 0;
}

// The target the module's next command goes to.
int AddressedTarget() {
    SimLogClear();
    Ready();
    SimRequest request{};
    if (SimLogGet(0, &request) != 0) tarnscsi::fuzz::Broken("a found camera was sent nothing");
    return request.target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Disconnect();
    tarnscsi::fuzz::ResetSimulator(input);

    const int fuzzedTarget = input.ConsumeIntegralInRange<int>(0, kCameraTarget - 1);
    const std::uint8_t deviceType = input.ConsumeBool() ? kScanner : input.ConsumeIntegral<std::uint8_t>();
    const bool oddSupportWord = input.ConsumeIntegralInRange<int>(0, 7) == 0;
    const std::uint32_t supportWord = input.ConsumeIntegral<std::uint32_t>();
    const tarnscsi::fuzz::Fault fault = tarnscsi::fuzz::ChooseFault(input, kInquiry);
    const std::vector<std::uint8_t> reply = tarnscsi::fuzz::ReplyBytes(input, true);

    SimClearBus(1);
    SimAddDevice(0, fuzzedTarget, 0, deviceType, reply.data(), static_cast<std::uint32_t>(reply.size()));
    SimAddCamera(0, kCameraTarget, 0);
    if (oddSupportWord) SimSetSupportWord(supportWord);

    // What the module must conclude. INQUIRY goes only to devices of type 6
    // (the whole device-type byte), in target order, and the fault hits the
    // first one.
    const bool searched = !oddSupportWord || (tarnscsi::aspi::SupportStatus(supportWord) == tarnscsi::aspi::SS_COMP &&
                                              tarnscsi::aspi::SupportAdapterCount(supportWord) != 0);
    const bool fuzzedAsked = deviceType == kScanner;
    const bool fuzzedFound = fuzzedAsked && fault == tarnscsi::fuzz::Fault::kNone && NamesTheCamera(reply);
    const bool cameraFailed = !fuzzedAsked && fault != tarnscsi::fuzz::Fault::kNone;
    const bool expectFound = searched && (fuzzedFound || !cameraFailed);

    const char* error = nullptr;
    const int32_t connected = Connect(&error);
    if (connected != (expectFound ? 1 : 0)) tarnscsi::fuzz::Broken("Connect's result differs from what the bus holds");
    if (connected == 1) {
        const int expectedTarget = fuzzedFound ? fuzzedTarget : kCameraTarget;
        if (AddressedTarget() != expectedTarget) tarnscsi::fuzz::Broken("the wrong device was taken");
    } else if (error == nullptr || std::strcmp(error, "Camera not found") != 0) {
        tarnscsi::fuzz::Broken("a failed search gave another message");
    }
    Disconnect();
    return 0;
}
