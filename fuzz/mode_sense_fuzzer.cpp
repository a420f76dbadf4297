// GetCoolingInfo when MODE SENSE answers with arbitrary bytes, possibly
// fewer than the 144 asked for, or fails (refused, CHECK CONDITION, at once
// or after pending). A failure must give TARNSCSI_NO_READING and leave the
// cooling byte alone; a reply must be read exactly as the page lays it out,
// with the bytes the camera did not send read as zero.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "cooling_page.h"
#include "camera_play.h"
#include "big_endian.h"
#include <tarnscsi/tarnscsi.h>
#include "sim/sim_control.h"

namespace {

constexpr std::uint8_t kModeSense = 0x1A;
constexpr int32_t kUntouched = 0x5A5A5A5A;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Disconnect();
    tarnscsi::fuzz::ResetSimulator(input);
    const char* error = nullptr;
    if (Connect(&error) != 1) tarnscsi::fuzz::Broken("the default camera was not found");

    const tarnscsi::fuzz::Fault fault = tarnscsi::fuzz::ChooseFault(input, kModeSense);
    const std::vector<std::uint8_t> reply = tarnscsi::fuzz::ReplyBytes(input, true);
    SimScriptReply(kModeSense, reply.data(), static_cast<std::uint32_t>(reply.size()), 1);

    int32_t cooling = kUntouched;
    const int32_t temperature = GetCoolingInfo(&cooling);
    if (fault != tarnscsi::fuzz::Fault::kNone) {
        if (temperature != TARNSCSI_NO_READING || cooling != kUntouched) {
            tarnscsi::fuzz::Broken("a failed reading was reported");
        }
    } else {
        // The page as the module's buffer holds it: zeros, then the reply.
        std::vector<std::uint8_t> page(tarnscsi::camera::cooling::kLength, 0);
        std::copy_n(reply.begin(), std::min(reply.size(), page.size()), page.begin());
        const auto expectedTemperature =
            static_cast<std::int16_t>(tarnscsi::GetBE16(page.data() + tarnscsi::camera::cooling::kTemperature));
        if (temperature != expectedTemperature) tarnscsi::fuzz::Broken("the temperature was misread");
        if (cooling != page[tarnscsi::camera::cooling::kCoolingByte])
            tarnscsi::fuzz::Broken("the cooling byte was misread");
    }
    Disconnect();
    return 0;
}
