/* Extra exports of the test build of the SCSI generic manager
 * (build/<preset>/sg-fake/libwnaspi32.so): the SG_IO requests its fake
 * kernel carried. The build also exports the simulator's SimReset,
 * SimSetCompletion, SimSetTimeScale, SimSetManualClock, SimAdvanceClock,
 * SimScriptReply (a reply shorter than asked reaches SG_IO as a residual),
 * SimLastImage, SimTemperature and SimCoolerDrive (sim_control.h) for the camera behind its bus, so that the
 * module's tests written for the simulator run through it unchanged. */
#ifndef TARNSCSI_SG_FAKE_CONTROL_H
#define TARNSCSI_SG_FAKE_CONTROL_H

#include <stdint.h>

#define SG_FAKE_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SgFakeIo {
    char node[16];     /* "/dev/sg2" */
    int32_t direction; /* SG_DXFER_NONE, _TO_DEV or _FROM_DEV */
    uint8_t cdb[16];
    uint8_t cdbLength;
    uint32_t dataLength; /* dxfer_len */
    uint32_t timeout;    /* ms */
} SgFakeIo;

/* SG_IO requests since the last SimReset or SgFakeIoClear, oldest first. */
SG_FAKE_API uint32_t SgFakeIoCount(void);
/* 0, or -1 when there is no such entry. */
SG_FAKE_API int SgFakeIoGet(uint32_t index, SgFakeIo* out);
SG_FAKE_API void SgFakeIoClear(void);

#ifdef __cplusplus
}
#endif

#endif
