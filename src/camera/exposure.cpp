// Exposure and download: SET WINDOW, SCAN, GET WINDOW and the image reads.
#include <algorithm>
#include <cstring>

#include "camera/scsi_camera.h"
#include "window_layout.h"
#include "camera/window_list.h"
#include "big_endian.h"

namespace tarnscsi {

using namespace tarnscsi::camera;

bool ScsiCamera::StartExposure(const ExposureSettings& requested) {
    const ExposureSettings window = EvenForBinning(requested);
    if (!SetWindow(window)) return false;
    exposedImageBytes = ExactImageByteCount(window);
    StartScan();
    return true;
}

bool ScsiCamera::SetWindow(const ExposureSettings& settings) {
    EncodeWindow(settings, dataBuffer);
    return Run(kSetWindow, dataBuffer, window::kLength);
}

bool ScsiCamera::StartScan() {
    dataBuffer[0] = window::kWindowIdValue;  // the window identifier list: window 1
    return Run(kStartScan, dataBuffer, kStartScan.dataLength);
}

bool ScsiCamera::GetWindow(ExposureSettings& settings) {
    std::memset(dataBuffer, 0, window::kLength);
    if (!Run(kGetWindow, dataBuffer, window::kLength)) return false;
    settings = DecodeWindow(dataBuffer);
    return true;
}

bool ScsiCamera::ReadImage(const ExposureSettings& settings, std::uint8_t* image, const ReadGate& beforeRead) {
    const std::uint32_t total = ImageByteCount(settings);
    CommandSpec read = kReadImage;
    bytesRead = 0;
    // Each read is a command of its own and carries no address: the camera
    // sends the image as one stream, so the pieces land in order.
    for (std::uint32_t offset = 0; offset < total;) {
        if (beforeRead && !beforeRead(offset)) return false;
        const std::uint32_t chunk = std::min(kMaxReadLength, total - offset);
        PutBE16(read.cdb.data() + kReadLengthOffset, chunk);
        if (!Run(read, image + offset, chunk)) return false;
        offset += chunk;
        bytesRead = offset;
    }
    return true;
}

}  // namespace tarnscsi
