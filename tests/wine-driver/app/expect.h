/*
 * The requests a call is expected to make, byte for byte, and their
 * comparison with what the stand-in received. The pass-through records are
 * written out per architecture: a 32-bit caller's are the 44-byte layouts
 * (sense at 48, data at 80; the write request 80 bytes in all), a 64-bit
 * caller's the 56-byte ones.
 */
#ifndef EXPECT_H
#define EXPECT_H

#include "../stand_in_protocol.h"

#include <stddef.h>

#define STATUS_OK 0x00000000u
#define STATUS_FAILED 0xC0000185u    /* STATUS_IO_DEVICE_ERROR: the stand-in's failure */
#define STATUS_NOT_READY 0xC00000A3u /* STATUS_DEVICE_NOT_READY: a command with no card in */
#define STATUS_NO_MEDIA 0xC0000013u  /* STATUS_NO_MEDIA_IN_DEVICE: the geometry with no card in */

typedef struct Expected {
    uint32_t device;
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    uint32_t status;
    uint64_t inHash;
    uint8_t in[128];
    int hasData; /* a write's data, read where the caller keeps it */
    uint64_t dataAddress;
    uint32_t dataLength;
    uint64_t dataHash;
} Expected;

/* The pass-through layouts of this program's architecture. */
typedef struct PassThroughLayout {
    uint32_t length;        /* the structure's Length */
    uint32_t capacityOut;   /* the capacity request's buffer */
    uint32_t capacitySense; /* its SenseInfoOffset */
    uint32_t capacityData;  /* its DataBufferOffset */
    uint32_t writeSize;     /* the write request: structure, filler, sense */
    uint32_t writeSense;
    uint32_t dataAt; /* DataBuffer or DataBufferOffset */
    uint32_t senseOffsetAt;
    uint32_t cdbAt;
} PassThroughLayout;
const PassThroughLayout* passThroughLayout(void);

/* A miniport packet: the header for `command` and `length`, then the payload,
 * whose first `givenLength` bytes are `given` and the rest zero. */
Expected miniportPacket(uint32_t command, uint32_t length, const void* given, uint32_t givenLength);
/* The address-set command before a data command. */
Expected addressSet(uint32_t start, uint32_t count);
/* The drive probe's three requests. */
Expected propertyQuery(void);
Expected capacityRequest(void);
Expected geometryRequest(void);
/* DDWritePT's request, with the data it hands over in place. */
Expected writeRequest(const uint8_t* data, uint16_t secsize, uint32_t offset);
Expected failing(Expected e, uint32_t status);

/* The requests received since the log was last cleared, opens and closes
 * aside, against `expected` in order; every one is printed under `call`. */
void expectRequests(const char* call, const Expected* expected, size_t count);
#define EXPECT_REQUESTS(call, ...)                                                                                     \
    do {                                                                                                               \
        const Expected expected_[] = {__VA_ARGS__};                                                                    \
        expectRequests(call, expected_, sizeof expected_ / sizeof expected_[0]);                                       \
    } while (0)
/* Nothing received at all, not even an open. */
void expectNothingSent(const char* call);

/* Prints the requests received since the log was last cleared. */
void showRequests(const char* call);

#endif /* EXPECT_H */
