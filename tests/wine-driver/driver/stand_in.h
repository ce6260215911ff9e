/*
 * The card-reader stand-in's insides: what the driver keeps between requests,
 * and the jobs its files share out. Test-only, never shipped: it plays the
 * maker's driver under Wine, where a kernel driver runs in Wine's device host
 * process, so that Ferrocard.dll meets real device requests.
 */
#ifndef STAND_IN_H
#define STAND_IN_H

#include <ntifs.h>

#include "../stand_in_protocol.h"

/* Codes of the requests the drive answers; the SDK's user-mode headers name
 * them, the kernel's do not all. */
#define STAND_IN_QUERY_PROPERTY 0x002D1400u      /* IOCTL_STORAGE_QUERY_PROPERTY */
#define STAND_IN_PASS_THROUGH 0x0004D004u        /* IOCTL_SCSI_PASS_THROUGH */
#define STAND_IN_MINIPORT 0x0004D008u            /* IOCTL_SCSI_MINIPORT */
#define STAND_IN_PASS_THROUGH_DIRECT 0x0004D014u /* IOCTL_SCSI_PASS_THROUGH_DIRECT */
#define STAND_IN_GET_GEOMETRY 0x00070000u        /* IOCTL_DISK_GET_DRIVE_GEOMETRY */
#define STAND_IN_LOCK_VOLUME 0x00090018u         /* FSCTL_LOCK_VOLUME */

/* "StIn", as pool dumps show it. */
#define STAND_IN_POOL_TAG 0x6E497453u
#define STAND_IN_LOG_CAPACITY 1024u
#define STAND_IN_RULE_CAPACITY 16u
/* The secure area: start address 0 and up to 65535 blocks fit. */
#define STAND_IN_SECURE_AREA_SIZE (32u << 20)

/* Everything the driver keeps. One mutex guards it all: Wine's device host
 * may dispatch requests on more than one thread. */
typedef struct StandIn {
    FAST_MUTEX lock;
    StandInCard card;
    StandInRule rules[STAND_IN_RULE_CAPACITY];
    uint32_t ruleCount;

    /* What the host left with the card. */
    StandInState state;
    uint8_t* secureArea; /* allocated at the first secure write */
    /* The address-set command's start and count, taken by the data command
     * right after it. */
    int addressSet;
    uint32_t address;
    uint32_t addressCount;

    StandInRecord* log; /* STAND_IN_LOG_CAPACITY records */
    uint32_t logTotal;
} StandIn;

extern StandIn gStandIn;

/* Back to the card a reset puts in, no rules, an empty log. Under the lock. */
void standInReset(StandIn* s);

/* The rule for `code`, if one applies to this request: it then counts the
 * request against the rule's skip and times. Under the lock. */
int standInTakeRule(StandIn* s, uint32_t code, StandInRule* rule);

/* A new record for a request that arrived, or NULL when the log is full.
 * The input's first bytes and hash are taken here. Under the lock. */
StandInRecord* standInLogRequest(StandIn* s, uint32_t device, uint32_t major, uint32_t code, const void* input,
                                 uint32_t inSize, uint32_t outSize);

/* A buffered request's input and output, one system buffer for both. */
typedef struct StandInRequest {
    IRP* irp;
    uint8_t* buffer;
    uint32_t inSize;
    uint32_t outSize;
    StandInRecord* record; /* may be NULL */
} StandInRequest;

/* The controller's answer to one IOCTL_SCSI_MINIPORT packet; sets the bytes
 * answered. Under the lock. */
NTSTATUS standInMiniport(StandIn* s, StandInRequest* r, ULONG_PTR* answered);

/* The drive's answer to one of its requests. Under the lock. */
NTSTATUS standInDiskControl(StandIn* s, uint32_t code, StandInRequest* r, ULONG_PTR* answered);

/* Copies `length` bytes at `address` in the address space of the process
 * that sent `irp` into `into`, as a port driver reads a direct
 * pass-through's data where the caller keeps it. */
NTSTATUS standInReadCallerMemory(IRP* irp, uint64_t address, void* into, SIZE_T length);

/* Little- and big-endian fields of the buffers. */
static inline uint32_t standInLe32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline uint64_t standInLe64(const uint8_t* p) {
    return standInLe32(p) | ((uint64_t)standInLe32(p + 4) << 32);
}
static inline void standInStoreLe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}
static inline uint32_t standInBe32(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
static inline void standInStoreBe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

#endif /* STAND_IN_H */
