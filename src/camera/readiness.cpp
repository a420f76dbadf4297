// Readiness: TEST UNIT READY completes with good status when the camera can
// take its next command; not ready, busy and every failure read as "no".
#include "camera/scsi_camera.h"

bool ScsiCamera::TestUnitReady() { return Run(camera::kTestUnitReady, nullptr, 0); }
