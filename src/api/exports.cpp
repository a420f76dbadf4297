// The exports and the one module-wide camera connection.
#include <tarnscsi/tarnscsi.h>

#include <new>

#include "camera/scsi_camera.h"

namespace {

using tarnscsi::ScsiCamera;

// The current connection; empty at load and after Disconnect. A failed
// Connect leaves its (invalid) connection here until Disconnect.
ScsiCamera* theCamera = nullptr;

// The connection the device exports may talk to, or null. A connection whose
// camera was not found has no address to send to.
ScsiCamera* UsableCamera() { return theCamera != nullptr && theCamera->IsValid() ? theCamera : nullptr; }

}  // namespace

extern "C" {

int32_t TARNSCSI_API Connect(const char** errorText) {
    // The old connection's library reference and event go with it.
    Disconnect();
    theCamera = new (std::nothrow) ScsiCamera;
    if (theCamera == nullptr) {
        *errorText = "Out of memory";
        return 0;
    }
    if (theCamera->IsValid()) return 1;
    *errorText = theCamera->ErrorText();
    return 0;
}

void TARNSCSI_API Disconnect(void) {
    delete theCamera;
    theCamera = nullptr;
}

int32_t TARNSCSI_API Expose(int32_t exposureTime, int32_t spare, int32_t binned, int32_t width, int32_t height,
                            int32_t originX, int32_t originY) {
    ScsiCamera* camera = UsableCamera();
    if (camera == nullptr) return 0;
    return camera->StartExposure({exposureTime, originX, originY, width, height, binned, spare}) ? 1 : 0;
}

int32_t TARNSCSI_API Download(uint8_t* image) {
    ScsiCamera* camera = UsableCamera();
    if (camera == nullptr) return 0;
    tarnscsi::ExposureSettings window;
    if (!camera->GetWindow(window)) return 0;
    return camera->ReadImage(window, image) ? 1 : 0;
}

int32_t TARNSCSI_API Ready(void) {
    ScsiCamera* camera = UsableCamera();
    return camera != nullptr && camera->TestUnitReady() ? 1 : 0;
}

int32_t TARNSCSI_API SetTemperature(int32_t setpoint) {
    ScsiCamera* camera = UsableCamera();
    return camera != nullptr && camera->WriteSetpoint(setpoint) ? 1 : 0;
}

int32_t TARNSCSI_API GetCoolingInfo(int32_t* coolingByte) {
    ScsiCamera* camera = UsableCamera();
    int32_t temperature = 0;
    int32_t cooling = 0;
    if (camera == nullptr || !camera->ReadCoolingPage(temperature, cooling)) return TARNSCSI_NO_READING;
    *coolingByte = cooling;
    return temperature;
}

}  // extern "C"
