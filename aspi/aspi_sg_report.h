/* The extra exports of the SCSI generic ASPI manager (libwnaspi32.so built
 * from managers/sg/, which declares them in sg/sg_exports.h), besides
 * GetASPI32SupportInfo and SendASPI32Command: what each does, its type and
 * the name it is exported by. Programs look them up with dlsym on the
 * manager they loaded; a manager without them (the simulator, someone
 * else's) simply has no report to give and no settings of its own. */
#ifndef TARNSCSI_ASPI_SG_REPORT_H
#define TARNSCSI_ASPI_SG_REPORT_H

#include <stdint.h>

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
 * the length of the whole report, so a caller may ask with 0 first. The
 * text is for people to read; SgDeviceRecords gives the devices as fields. */
typedef uint32_t (*SgDiagnosticsFn)(char* text, uint32_t capacity);
#define SG_DIAGNOSTICS_ENTRY "SgDiagnostics"

/* The same look at the bus as fields, one record per /dev/sg device in node
 * order (sg2 before sg10), for programs that show the devices: nothing in
 * it needs to be read back out of the text above. Text fields are
 * NUL-terminated and cut to fit. */
#define SG_NODE_CAPACITY 64
#define SG_REASON_CAPACITY 256

typedef struct SgDeviceRecord {
    char node[SG_NODE_CAPACITY]; /* "/dev/sg3" */
    /* The Linux address [host:channel:target:lun], when sysfs gave one. */
    uint8_t hasLinuxAddress;
    uint32_t host;
    uint32_t channel;
    uint32_t target;
    uint64_t lun;
    /* Where ASPI sees it, when it has a place there. */
    uint8_t placed;
    uint8_t adapter;
    uint8_t aspiTarget;
    uint8_t aspiLun;
    /* The peripheral device type from sysfs or the driver, when known. */
    uint8_t hasType;
    uint8_t type;
    /* Opened and passed the driver's checks at the last look; otherwise
     * `reason` says why not ("cannot open: Permission denied", ...). */
    uint8_t usable;
    char reason[SG_REASON_CAPACITY];
    /* Why the last command SG_IO could not carry failed, or how many bytes
     * the last command that ended short moved ("data underrun: command 0x28
     * moved 1024 of 2048 bytes"); "" when none did. */
    char lastError[SG_REASON_CAPACITY];
} SgDeviceRecord;

/* Copies at most `capacity` records into `records` (nothing when
 * `capacity` is 0 or `records` is null) and returns how many devices the
 * last look found, so a caller may ask with 0 first. */
typedef uint32_t (*SgDeviceRecordsFn)(SgDeviceRecord* records, uint32_t capacity);
#define SG_DEVICE_RECORDS_ENTRY "SgDeviceRecords"

/* The environment variable that sets the kernel's time limit on each
 * command, in whole seconds. */
#define SG_TIME_LIMIT_VARIABLE "TARNSCSI_SG_TIMEOUT"

/* What is wrong with the settings the manager reads from the environment
 * (TARNSCSI_SG_TIMEOUT), in its own words, on one line without '\n'; ""
 * when they are fine or unset. The manager goes on with its defaults, so a
 * program shows this as a warning. The manager alone reads and judges its
 * settings. Copies as SgDiagnostics does. */
typedef uint32_t (*SgSettingsProblemFn)(char* text, uint32_t capacity);
#define SG_SETTINGS_PROBLEM_ENTRY "SgSettingsProblem"

#ifdef __cplusplus
}
#endif

#endif
