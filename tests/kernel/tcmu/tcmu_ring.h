/* The command ring of a target_core_user backstore, as the kernel's own
 * header (linux/target_core_user.h, written for C) lays it out: the kernel
 * queues each SCSI command the target stack does not answer itself as an
 * entry of a ring in memory it shares through a UIO device, and learns of
 * the answers when the ring's tail moves and the device is written to. */
#ifndef TARNSCSI_TCMU_RING_H
#define TARNSCSI_TCMU_RING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TcmuRing {
    int descriptor;
    uint8_t* map;
    size_t mapSize;
    char node[272]; /* "/dev/uio0" */
} TcmuRing;

/* One command: its bytes, and its data gathered into one buffer (holding
 * what the initiator sent, for a command that sends data). The handler puts
 * the reply in the last four fields. */
typedef struct RingCommand {
    const uint8_t* cdb;
    size_t cdbLength;
    uint8_t* data;
    size_t dataLength;
    uint8_t status;    /* SCSI status */
    uint8_t sense[96]; /* for CHECK CONDITION */
    size_t senseLength;
    size_t dataIn; /* bytes of `data` that go back to the initiator */
} RingCommand;

typedef void (*RingHandler)(struct RingCommand* command, void* context);

/* Opens the UIO device of the backstore named `device` (configfs
 * core/user_N/<device>) and maps its ring. 0, or -1 with a message in
 * `error`. */
int RingOpen(struct TcmuRing* ring, const char* device, char* error, size_t capacity);
void RingClose(struct TcmuRing* ring);

/* Waits up to `timeoutMs` for the kernel to ring, then answers every queued
 * command with `handler`. Returns how many were served, or -1 when the
 * device has gone. */
int RingServe(struct TcmuRing* ring, int timeoutMs, RingHandler handler, void* context);

#ifdef __cplusplus
}
#endif

#endif
