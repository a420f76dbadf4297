// Download through the C++ camera API when GET WINDOW answers with arbitrary
// bytes (and may fail), the image reads may fail or come back short, and
// the caller's buffer has a capacity chosen by the input. The buffer sits
// inside a larger allocation whose tail is a guard region, so a write past
// the capacity is seen even where it would not leave the allocation. Beyond
// that: a refused window or a failed GET WINDOW leaves the buffer as it was,
// a success never claims more bytes than the capacity, and nothing is
// written past the bytes the reported window implies.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>

#include "camera_play.h"
#include "sim/sim_control.h"

namespace {

constexpr std::uint8_t kGetWindow = 0x25;
constexpr std::uint8_t kRead = 0x28;
constexpr std::uint32_t kMaxCapacity = 64 * 1024;
constexpr std::size_t kGuardLength = 64;
constexpr std::uint8_t kGuardByte = 0xE7;
constexpr std::uint8_t kFillByte = 0x3C;
constexpr int kMaxExposedSide = 128;
constexpr std::uint32_t kMaxReadsConsidered = kMaxCapacity / 2048;
constexpr std::uint32_t kMaxShortReads = 4;

// What the reported window really needs, without the camera's 32-bit wrap.
std::uint64_t TrueBytes(const tarnscsi::ExposureSettings& window) {
    const std::uint64_t width = static_cast<std::uint32_t>(window.width);
    const std::uint64_t height = static_cast<std::uint32_t>(window.height);
    return (window.binned ? (width / 2) * (height / 2) : width * height) * 2;
}

bool AllAre(std::span<const std::uint8_t> bytes, std::uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    tarnscsi::fuzz::ResetSimulator(input);

    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    const std::unique_ptr<tarnscsi::Camera> camera = tarnscsi::Camera::Open(error);
    if (!camera) tarnscsi::fuzz::Broken("the default camera was not found");

    // A real exposure first, so that there is usually an image to read (the
    // camera may refuse an odd window; then every read fails).
    tarnscsi::ExposureSettings exposed;
    exposed.width = input.ConsumeIntegralInRange<int>(0, kMaxExposedSide);
    exposed.height = input.ConsumeIntegralInRange<int>(0, kMaxExposedSide);
    exposed.binned = input.ConsumeBool() ? 1 : 0;
    camera->Expose(exposed);
    camera->Ready();

    const std::uint32_t capacity = input.ConsumeIntegralInRange<std::uint32_t>(0, kMaxCapacity);
    const tarnscsi::fuzz::Fault windowFault = tarnscsi::fuzz::ChooseFault(input, kGetWindow);
    tarnscsi::fuzz::ChooseFault(input, kRead, input.ConsumeIntegralInRange<std::uint32_t>(0, kMaxReadsConsidered));
    if (input.ConsumeBool()) {
        // Some reads answered with fewer (or other) bytes than asked.
        const std::vector<std::uint8_t> shortRead = tarnscsi::fuzz::ReplyBytes(input, false);
        SimScriptReply(kRead, shortRead.data(), static_cast<std::uint32_t>(shortRead.size()),
                       input.ConsumeIntegralInRange<std::uint32_t>(1, kMaxShortReads));
    }
    const std::vector<std::uint8_t> window = tarnscsi::fuzz::ReplyBytes(input, true);
    SimScriptReply(kGetWindow, window.data(), static_cast<std::uint32_t>(window.size()), 1);

    std::vector<std::uint8_t> storage(capacity + kGuardLength, kGuardByte);
    std::fill_n(storage.begin(), capacity, kFillByte);
    const std::span<std::uint8_t> buffer(storage.data(), capacity);
    const tarnscsi::DownloadResult result = camera->Download(buffer);

    if (!AllAre(std::span(storage).subspan(capacity), kGuardByte)) tarnscsi::fuzz::Broken("written past the capacity");
    switch (result.status) {
        case tarnscsi::DownloadStatus::kWindowUnreadable:
        case tarnscsi::DownloadStatus::kBufferTooSmall:
        case tarnscsi::DownloadStatus::kExposureLost:
            if (!AllAre(buffer, kFillByte)) tarnscsi::fuzz::Broken("a refused download touched the buffer");
            break;
        case tarnscsi::DownloadStatus::kOk:
        case tarnscsi::DownloadStatus::kReadFailed:
        case tarnscsi::DownloadStatus::kStopped:  // never here: no progress is given
            if (result.bytes > capacity) tarnscsi::fuzz::Broken("read a window larger than the buffer");
            if (!AllAre(buffer.subspan(result.bytes), kFillByte)) tarnscsi::fuzz::Broken("written past the window");
            break;
    }
    if (windowFault != tarnscsi::fuzz::Fault::kNone && result.status != tarnscsi::DownloadStatus::kWindowUnreadable) {
        tarnscsi::fuzz::Broken("a failed GET WINDOW was not reported");
    }
    if (result.status != tarnscsi::DownloadStatus::kWindowUnreadable && result.bytes != TrueBytes(result.window)) {
        tarnscsi::fuzz::Broken("the size does not match the reported window");
    }
    const bool fits = TrueBytes(result.window) <= capacity;
    if (result.status == tarnscsi::DownloadStatus::kBufferTooSmall && fits) {
        tarnscsi::fuzz::Broken("a window that fits was refused");
    }
    if ((result.status == tarnscsi::DownloadStatus::kOk || result.status == tarnscsi::DownloadStatus::kReadFailed) &&
        !fits) {
        tarnscsi::fuzz::Broken("read a window whose true size exceeds the buffer");
    }
    return 0;
}
