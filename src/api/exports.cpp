// The exports and the one module-wide camera connection. Every export holds
// the module lock for the whole call, so calls from several threads run one
// after another: a call waits for the one in progress (Disconnect too, so a
// connection is never destroyed under a call that uses it).
//
// Nothing is thrown across the exports: each catches everything, and a
// failure it cannot name ends the call as the export's own failure does
// (0, or no reading). Only allocation can throw inside the module; the
// manager is foreign code that might.
#include <tarnscsi/tarnscsi.h>

#include <limits>
#include <mutex>
#include <new>

#include <tarnscsi/result.h>

#include "api/module_unload.h"
#include "camera/scsi_camera.h"
#include "camera/window_list.h"
#include "common/module_lock.h"

namespace {

using tarnscsi::ScsiCamera;

constinit tarnscsi::ModuleLock moduleLock;

// The current connection; empty at load and after Disconnect. A failed
// Connect leaves its (invalid) connection here until Disconnect.
ScsiCamera* theCamera = nullptr;

// The connection the device exports may talk to, or null. A connection whose
// camera was not found has no address to send to.
ScsiCamera* UsableCamera() { return theCamera != nullptr && theCamera->IsValid() ? theCamera : nullptr; }

void DisconnectLocked() {
    delete theCamera;
    theCamera = nullptr;
}

}  // namespace

void tarnscsi::ReleaseClaimsOnUnload() noexcept {
    // Without the lock: an application unloads the module only when no
    // call of its is in progress.
    try {
        if (theCamera != nullptr) theCamera->ReleaseClaim();
    } catch (...) {
        // The manager's release is foreign code; nothing more can be done.
    }
}

extern "C" {

int32_t TARNSCSI_API Connect(const char** errorText) {
    std::lock_guard lock(moduleLock);
    // The old connection's library reference, event and claim go with it.
    DisconnectLocked();
    const char* error = nullptr;
    try {
        tarnscsi::WatchForExit();
        theCamera = new ScsiCamera;
        if (theCamera->IsValid()) return 1;
        error = tarnscsi::ConnectErrorText(theCamera->Error());
    } catch (...) {
        // The search builds texts (who holds a camera), so memory can run
        // out inside the connection as well as for it; a half-made
        // connection has already given back what it took. Nothing else
        // throws here.
        error = tarnscsi::ConnectErrorText(tarnscsi::ConnectError::kOutOfMemory);
    }
    // A caller that does not want the message may pass null.
    if (errorText != nullptr) *errorText = error;
    return 0;
}

void TARNSCSI_API Disconnect(void) {
    std::lock_guard lock(moduleLock);
    // The destructor throws nothing; the wall is for the manager's release.
    try {
        DisconnectLocked();
    } catch (...) {
        theCamera = nullptr;
    }
}

int32_t TARNSCSI_API Expose(int32_t exposureTime, int32_t spare, int32_t binned, int32_t width, int32_t height,
                            int32_t originX, int32_t originY) {
    std::lock_guard lock(moduleLock);
    try {
        ScsiCamera* camera = UsableCamera();
        if (camera == nullptr) return 0;
        return camera->StartExposure({exposureTime, originX, originY, width, height, binned, spare}) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int32_t TARNSCSI_API Download(uint8_t* image) {
    std::lock_guard lock(moduleLock);
    try {
        ScsiCamera* camera = UsableCamera();
        if (camera == nullptr || image == nullptr) return 0;
        tarnscsi::ExposureSettings window;
        if (!camera->GetWindow(window)) return 0;
        // No buffer length reaches us, but the application sized its buffer
        // for the window its own Expose programmed: a larger window reported
        // now (another program's, a camera that lost ours) would not fit.
        // Before any Expose nothing bounds it but the camera's 32-bit count.
        const std::uint64_t capacity = camera->ExposedImageBytes().value_or(std::numeric_limits<std::uint64_t>::max());
        if (!tarnscsi::camera::WindowFits(window, capacity)) return 0;
        return camera->ReadImage(window, image) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int32_t TARNSCSI_API Ready(void) {
    std::lock_guard lock(moduleLock);
    try {
        ScsiCamera* camera = UsableCamera();
        return camera != nullptr && camera->TestUnitReady() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int32_t TARNSCSI_API SetTemperature(int32_t setpoint) {
    std::lock_guard lock(moduleLock);
    try {
        ScsiCamera* camera = UsableCamera();
        return camera != nullptr && camera->WriteSetpoint(setpoint) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int32_t TARNSCSI_API GetCoolingInfo(int32_t* coolingByte) {
    std::lock_guard lock(moduleLock);
    try {
        ScsiCamera* camera = UsableCamera();
        int32_t temperature = 0;
        int32_t cooling = 0;
        // Nothing to write the cooling byte to: no reading, and no command sent.
        if (camera == nullptr || coolingByte == nullptr || !camera->ReadCoolingPage(temperature, cooling)) {
            return TARNSCSI_NO_READING;
        }
        *coolingByte = cooling;
        return temperature;
    } catch (...) {
        return TARNSCSI_NO_READING;
    }
}

}  // extern "C"
