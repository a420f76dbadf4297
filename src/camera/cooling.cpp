// Cooling: the setpoint goes out in the camera's vendor mode page 09, and the
// same page brings back the sensor temperature and the cooler drive.
// Readiness: TEST UNIT READY completes with good status when the camera can
// take its next command; not ready, busy and every failure read as "no".
#include <cstring>

#include "cooling_page.h"
#include "camera/scsi_camera.h"
#include "big_endian.h"

namespace tarnscsi {

using namespace tarnscsi::camera;

bool ScsiCamera::WriteSetpoint(std::int32_t setpoint) {
    static_assert(cooling::kLength <= kDataBufferSize);
    // A setpoint the field cannot hold is refused, not cut to its low 16
    // bits: 40000 would go out as -25536 and the cooler would be driven
    // somewhere else entirely.
    if (setpoint < cooling::kSetpointMin || setpoint > cooling::kSetpointMax) return false;
    std::memset(dataBuffer, 0, cooling::kLength);
    dataBuffer[cooling::kPageCode] = cooling::kPageCodeValue;
    dataBuffer[cooling::kPageLength] = cooling::kPageLengthValue;
    dataBuffer[cooling::kSignature] = cooling::kSignatureValue[0];
    dataBuffer[cooling::kSignature + 1] = cooling::kSignatureValue[1];
    // The camera's units are used as given.
    PutBE16(dataBuffer + cooling::kSetpoint, static_cast<std::uint32_t>(setpoint));
    return Run(kWriteCoolingPage, dataBuffer, cooling::kLength);
}

bool ScsiCamera::ReadCoolingPage(std::int32_t& temperature, std::int32_t& coolingByte) {
    std::memset(dataBuffer, 0, cooling::kLength);
    if (!Run(kReadCoolingPage, dataBuffer, cooling::kLength)) return false;
    temperature = static_cast<std::int16_t>(GetBE16(dataBuffer + cooling::kTemperature));
    coolingByte = dataBuffer[cooling::kCoolingByte];
    return true;
}

bool ScsiCamera::TestUnitReady() { return Run(kTestUnitReady, nullptr, 0); }

}  // namespace tarnscsi
