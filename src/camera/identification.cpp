// Which device on the bus is the camera.
#include <cstring>

#include "camera/commands.h"

namespace camera {

bool IsCamera(std::uint8_t deviceType, const std::uint8_t* inquiry) {
    return deviceType == kScannerDeviceType &&
           std::strncmp(reinterpret_cast<const char*>(inquiry + kInquiryProductOffset), kProductName,
                        kProductMatchLength) == 0;
}

}  // namespace camera
