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

struct tcmu_ring {
    int descriptor;
    uint8_t* map;
    size_t map_size;
    char node[272]; /* "/dev/uio0" */
};

/* One command: its bytes, and its data gathered into one buffer (holding
 * what the initiator sent, for a command that sends data). The handler puts
 * the reply in the last four fields. */
struct tcmu_command {
    const uint8_t* cdb;
    size_t cdb_length;
    uint8_t* data;
    size_t data_length;
    uint8_t status;        /* SCSI status */
    uint8_t sense[96];     /* for CHECK CONDITION */
    size_t sense_length;
    size_t data_in;        /* bytes of `data` that go back to the initiator */
};

typedef void (*tcmu_handler)(struct tcmu_command* command, void* context);

/* Opens the UIO device of the backstore named `device` (configfs
 * core/user_N/<device>) and maps its ring. 0, or -1 with a message in
 * `error`. */
int tcmu_ring_open(struct tcmu_ring* ring, const char* device, char* error, size_t capacity);
void tcmu_ring_close(struct tcmu_ring* ring);

/* Waits up to `timeout_ms` for the kernel to ring, then answers every queued
 * command with `handler`. Returns how many were served, or -1 when the
 * device has gone. */
int tcmu_ring_serve(struct tcmu_ring* ring, int timeout_ms, tcmu_handler handler, void* context);

#ifdef __cplusplus
}
#endif

#endif
