/* The extra export of the SCSI generic ASPI manager (libwnaspi32.so built
 * from managers/sg/), besides GetASPI32SupportInfo and SendASPI32Command. Programs
 * look it up with dlsym on the manager they loaded; a manager without it
 * (the simulator, someone else's) simply has no report to give. */
#ifndef TARNSCSI_SG_CONTROL_H
#define TARNSCSI_SG_CONTROL_H

#include <stdint.h>

#define SG_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* The manager's report on its last look at the bus (made by
 * GetASPI32SupportInfo): which Linux host and channel each adapter is, each
 * /dev/sg device with its SCSI address and where it sits, or why it cannot
 * be used ("cannot open: Permission denied", "cannot open: Device or
 * resource busy", ...), then notes such as the command time limit. Lines
 * end with '\n'. Copies at most `capacity` - 1 bytes and a terminating NUL
 * into `text` (nothing when `capacity` is 0 or `text` is null) and returns
 * the length of the whole report, so a caller may ask with 0 first. */
SG_API uint32_t SgDiagnostics(char* text, uint32_t capacity);

typedef uint32_t (*SgDiagnosticsFn)(char* text, uint32_t capacity);
#define SG_DIAGNOSTICS_ENTRY "SgDiagnostics"

#ifdef __cplusplus
}
#endif

#endif
