// ScsiCamera: the camera connection. On construction it loads the ASPI
// manager (through its AspiTransport base) and searches every adapter and
// target for the camera; its further methods are the camera operations, all
// sharing one parameter buffer and addressing the camera found.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <tarnscsi/bus.h>

#include "camera/request_block.h"
#include "camera_identity.h"
#include <tarnscsi/exposure_settings.h>
#include "transport/aspi_transport.h"

namespace tarnscsi {

class ScsiCamera : public AspiTransport {
public:
    // The largest parameter list a command of the table moves.
    static constexpr std::uint32_t kDataBufferSize =
        std::max({camera::cooling::kLength, camera::window::kLength, std::size_t{camera::kIdentifyLength}});

    ScsiCamera();
    ~ScsiCamera() override;

    // The transport is complete and the camera was found.
    bool IsValid() const override;
    // The transport's error when it is incomplete, else kNone when found,
    // kCameraInUse when the search skipped a candidate another process
    // holds, else kCameraNotFound.
    ConnectError Error() const override;
    // For kCameraInUse: "camera at adapter 0, target 2 is in use by NAME,
    // PID N"; else "".
    const std::string& InUseDetail() const { return inUseDetail; }
    // The first scanner-type target the search asked and that did not answer
    // INQUIRY within the time limit (the host adapter ended it: command
    // timeout); nothing when every one answered.
    struct Address {
        std::uint8_t adapter = 0;
        std::uint8_t target = 0;
    };
    std::optional<Address> Unanswered() const { return unanswered; }

    // Gives back the claim on the camera found, if this connection holds
    // one (the destructor does too); the connection goes on unclaimed.
    void ReleaseClaim();

    std::uint32_t AdapterId() const { return adapterId; }
    std::uint32_t TargetId() const { return targetId; }

    // Exposure and download.
    // Programs the window (rounded to whole 2 x 2 cells when binned) and
    // starts the exposure. False only when the window was refused: SCAN's
    // status is not examined, since the camera may end it with other than
    // good status while its exposure starts all the same.
    bool StartExposure(const ExposureSettings& requested);
    // The image bytes of the window the last StartExposure that the camera
    // accepted programmed (counted without wrapping); none before the first.
    std::optional<std::uint64_t> ExposedImageBytes() const { return exposedImageBytes; }
    bool SetWindow(const ExposureSettings& settings);
    bool StartScan();
    bool GetWindow(ExposureSettings& settings);
    // Reads ImageByteCount(settings) bytes into `image`, in reads of at most
    // 2048 bytes; stops at the first failed read, keeping what arrived.
    // `beforeRead`, when given, is asked before each read with the bytes in
    // so far; false ends the download there (ReadImage returns false with
    // the last command good).
    using ReadGate = std::function<bool(std::uint32_t bytesRead)>;
    bool ReadImage(const ExposureSettings& settings, std::uint8_t* image, const ReadGate& beforeRead = {});
    // Bytes the last ReadImage brought in before it ended.
    std::uint32_t BytesRead() const { return bytesRead; }

    // Cooling and readiness.
    // False, with nothing sent, for a setpoint the page's 16-bit field cannot
    // hold (outside -32768..32767).
    bool WriteSetpoint(std::int32_t setpoint);
    // On success: the reported temperature (sign-extended) and the cooling
    // byte (0..255). On failure neither is written.
    bool ReadCoolingPage(std::int32_t& temperature, std::int32_t& coolingByte);
    bool TestUnitReady();

private:
    // Walks the bus (camera/bus_walk.h) for the first scanner whose
    // identification is the camera's, which then stays claimed.
    void FindCamera();
    // Executes one command of the table at (adapter, target, lun 0) with the
    // given data buffer and length.
    bool Run(const tarnscsi::camera::CommandSpec& command, std::uint8_t* data, std::uint32_t length,
             std::uint8_t adapter, std::uint8_t target);
    // The same, addressed to the camera found.
    bool Run(const tarnscsi::camera::CommandSpec& command, std::uint8_t* data, std::uint32_t length);

    std::uint8_t dataBuffer[kDataBufferSize] = {};
    std::uint32_t adapterCount = 0;
    std::uint32_t adapterId = 0;
    std::uint32_t targetId = 0;
    bool found = false;
    bool claimed = false;        // the camera found is claimed for this process
    bool heldElsewhere = false;  // the search skipped a candidate another process holds
    std::string inUseDetail;
    std::optional<Address> unanswered;
    std::uint32_t bytesRead = 0;
    std::optional<std::uint64_t> exposedImageBytes;
};

}  // namespace tarnscsi
