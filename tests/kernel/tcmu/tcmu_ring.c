#include "tcmu_ring.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
/* Brings the kernel's struct iovec (linux/uio.h), which glibc's sys/uio.h
 * would define a second time: that header stays out of this file. */
#include <linux/target_core_user.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#define UIO_CLASS "/sys/class/uio"
/* UIO device names of target_core_user: "tcm-user/<hba>/<device>/<config>". */
#define TCMU_PREFIX "tcm-user/"

static int ReadLine(const char* path, char* line, size_t capacity) {
    FILE* file = fopen(path, "re");
    if (file == NULL) return -1;
    const int got = fgets(line, (int)capacity, file) != NULL;
    fclose(file);
    if (!got) return -1;
    line[strcspn(line, "\n")] = '\0';
    return 0;
}

static int NamesDevice(const char* uioName, const char* device) {
    if (strncmp(uioName, TCMU_PREFIX, strlen(TCMU_PREFIX)) != 0) return 0;
    const char* hbaEnd = strchr(uioName + strlen(TCMU_PREFIX), '/');
    if (hbaEnd == NULL) return 0;
    const size_t length = strlen(device);
    return strncmp(hbaEnd + 1, device, length) == 0 && hbaEnd[1 + length] == '/';
}

int RingOpen(struct TcmuRing* ring, const char* device, char* error, size_t capacity) {
    memset(ring, 0, sizeof *ring);
    ring->descriptor = -1;
    DIR* folder = opendir(UIO_CLASS);
    if (folder == NULL) {
        snprintf(error, capacity, "%s: %s (is the uio module loaded?)", UIO_CLASS, strerror(errno));
        return -1;
    }
    char path[512];
    char line[256];
    const struct dirent* entry;
    while ((entry = readdir(folder)) != NULL) {
        snprintf(path, sizeof path, UIO_CLASS "/%s/name", entry->d_name);
        if (ReadLine(path, line, sizeof line) != 0 || !NamesDevice(line, device)) continue;
        snprintf(path, sizeof path, UIO_CLASS "/%s/maps/map0/size", entry->d_name);
        if (ReadLine(path, line, sizeof line) != 0) break;
        ring->mapSize = strtoul(line, NULL, 0);
        snprintf(ring->node, sizeof ring->node, "/dev/%s", entry->d_name);
        closedir(folder);
        ring->descriptor = open(ring->node, O_RDWR | O_CLOEXEC);
        if (ring->descriptor < 0) {
            snprintf(error, capacity, "%s: %s", ring->node, strerror(errno));
            return -1;
        }
        void* map = mmap(NULL, ring->mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, ring->descriptor, 0);
        if (map == MAP_FAILED) {
            snprintf(error, capacity, "%s: cannot map the ring: %s", ring->node, strerror(errno));
            close(ring->descriptor);
            ring->descriptor = -1;
            return -1;
        }
        ring->map = map;
        return 0;
    }
    closedir(folder);
    snprintf(error, capacity, "no UIO device of a target_core_user backstore named %s", device);
    return -1;
}

void RingClose(struct TcmuRing* ring) {
    if (ring->map != NULL) munmap(ring->map, ring->mapSize);
    if (ring->descriptor >= 0) close(ring->descriptor);
    ring->map = NULL;
    ring->descriptor = -1;
}

/* The shared memory at `offset`: the kernel aligns the mailbox and every
 * ring entry for their types. */
static void* At(const TcmuRing* ring, size_t offset) { return ring->map + offset; }

/* The length of a command descriptor block from its operation code's group. */
static size_t CdbLength(uint8_t opcode) {
    switch (opcode >> 5) {
        case 0: return 6;
        case 1:
        case 2: return 10;
        case 5: return 12;
        default: return 16;
    }
}

static void Answer(struct TcmuRing* ring, struct tcmu_cmd_entry* entry, RingHandler handler, void* context) {
    /* Request and reply share the entry's memory: everything the request
     * says is taken before a byte of the reply is written. */
    const uint32_t pieces = entry->req.iov_cnt;
    struct iovec* iov = calloc(pieces + 1, sizeof *iov);
    if (iov == NULL) return;
    memcpy(iov, entry->req.iov, pieces * sizeof *iov);
    size_t total = 0;
    for (uint32_t i = 0; i < pieces; ++i) total += iov[i].iov_len;

    struct RingCommand command;
    memset(&command, 0, sizeof command);
    command.cdb = ring->map + entry->req.cdb_off;
    command.cdbLength = CdbLength(command.cdb[0]);
    command.data = malloc(total + 1);
    command.dataLength = total;
    if (command.data == NULL) {
        free(iov);
        return;
    }
    size_t at = 0;
    for (uint32_t i = 0; i < pieces; ++i) { /* iov_base holds an offset into the shared memory */
        memcpy(command.data + at, ring->map + (uintptr_t)iov[i].iov_base, iov[i].iov_len);
        at += iov[i].iov_len;
    }

    handler(&command, context);

    size_t left = command.dataIn < total ? command.dataIn : total;
    at = 0;
    for (uint32_t i = 0; i < pieces && left > 0; ++i) {
        const size_t part = left < iov[i].iov_len ? left : iov[i].iov_len;
        memcpy(ring->map + (uintptr_t)iov[i].iov_base, command.data + at, part);
        at += part;
        left -= part;
    }
    const struct tcmu_mailbox* mailbox = At(ring, 0);
    if ((mailbox->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN) != 0 && command.dataIn < total) {
        /* Fewer bytes than asked: the kernel reports the residual. */
        entry->hdr.uflags |= TCMU_UFLAG_READ_LEN;
        entry->rsp.read_len = (uint32_t)command.dataIn;
    }
    memset(entry->rsp.sense_buffer, 0, sizeof entry->rsp.sense_buffer);
    memcpy(entry->rsp.sense_buffer, command.sense,
           command.senseLength < sizeof command.sense ? command.senseLength : sizeof command.sense);
    entry->rsp.scsi_status = command.status;
    free(command.data);
    free(iov);
}

int RingServe(struct TcmuRing* ring, int timeoutMs, RingHandler handler, void* context) {
    struct pollfd waiting = {ring->descriptor, POLLIN, 0};
    const int ready = poll(&waiting, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    if ((waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return -1;
    uint32_t interrupts; /* UIO's count of the kernel's rings: only the wake-up matters */
    if (read(ring->descriptor, &interrupts, sizeof interrupts) != (ssize_t)sizeof interrupts) return -1;

    struct tcmu_mailbox* mailbox = At(ring, 0);
    int served = 0;
    uint32_t tail = __atomic_load_n(&mailbox->cmd_tail, __ATOMIC_ACQUIRE);
    while (tail != __atomic_load_n(&mailbox->cmd_head, __ATOMIC_ACQUIRE)) {
        struct tcmu_cmd_entry* entry = At(ring, mailbox->cmdr_off + tail);
        const uint32_t lengthAndOp = entry->hdr.len_op;
        if (tcmu_hdr_get_op(lengthAndOp) == TCMU_OP_CMD) {
            Answer(ring, entry, handler, context);
            ++served;
        }
        /* Padding, and task management entries we never asked for, are
         * passed over. */
        tail = (tail + tcmu_hdr_get_len(lengthAndOp)) % mailbox->cmdr_size;
        __atomic_store_n(&mailbox->cmd_tail, tail, __ATOMIC_RELEASE);
    }
    /* Tells the kernel to collect the answers. */
    const uint32_t kick = 0;
    return write(ring->descriptor, &kick, sizeof kick) == (ssize_t)sizeof kick ? served : -1;
}
