#include "expect.h"

#include "check.h"
#include "stand_in_client.h"

#include <stdio.h>
#include <string.h>

#define MINIPORT 0x0004D008u
#define QUERY_PROPERTY 0x002D1400u
#define PASS_THROUGH 0x0004D004u
#define PASS_THROUGH_DIRECT 0x0004D014u
#define GET_GEOMETRY 0x00070000u
#define LOCK_VOLUME 0x00090018u

/* Written out, not taken from the SDK's structures: these are what the
 * platform's records are on each architecture. */
static const PassThroughLayout k32 = {44, 704, 48, 80, 80, 48, 20, 24, 28};
static const PassThroughLayout k64 = {56, 720, 60, 92, 96, 60, 24, 32, 36};

const PassThroughLayout* passThroughLayout(void) {
    return sizeof(void*) == 4 ? &k32 : &k64;
}

static void le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = (uint8_t)(v >> (8 * i));
}

static uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* An expected request whose whole input is the `size` bytes at `bytes`. */
static Expected whole(uint32_t device, uint32_t code, const uint8_t* bytes, uint32_t size, uint32_t outSize) {
    Expected e;
    memset(&e, 0, sizeof e);
    e.device = device;
    e.code = code;
    e.inSize = size;
    e.outSize = outSize;
    e.inHash = standInHash(STAND_IN_HASH_SEED, bytes, size);
    memcpy(e.in, bytes, size < sizeof e.in ? size : sizeof e.in);
    return e;
}

Expected miniportPacket(uint32_t command, uint32_t length, const void* given, uint32_t givenLength) {
    uint8_t header[28] = {0};
    le32(header, 28);
    header[4] = 'H';
    header[5] = 'X';
    le32(header + 12, 15);
    le32(header + 16, command);
    le32(header + 24, length);
    Expected e = whole(STAND_IN_CONTROLLER, MINIPORT, header, sizeof header, 28 + length);
    e.inSize = e.outSize;
    e.inHash = standInHash(e.inHash, given, givenLength);
    static const uint8_t zeros[4096];
    for (uint32_t left = length - givenLength; left;) {
        uint32_t n = left < sizeof zeros ? left : sizeof zeros;
        e.inHash = standInHash(e.inHash, zeros, n);
        left -= n;
    }
    uint32_t shown = givenLength < sizeof e.in - 28 ? givenLength : sizeof e.in - 28;
    memcpy(e.in + 28, given, shown);
    return e;
}

Expected addressSet(uint32_t start, uint32_t count) {
    uint8_t payload[8];
    le32(payload, start);
    le32(payload + 4, count);
    return miniportPacket(0xA0000050, 8, payload, 8);
}

Expected propertyQuery(void) {
    const uint8_t query[12] = {0}; /* StorageDeviceProperty, PropertyStandardQuery */
    return whole(STAND_IN_DISK, QUERY_PROPERTY, query, sizeof query, 2048);
}

/* The fields both pass-through requests share; the rest stays zero. */
static void passThroughFields(uint8_t* r, uint8_t dataIn, uint32_t transfer, uint32_t timeout, uint32_t sense) {
    const PassThroughLayout* l = passThroughLayout();
    r[0] = (uint8_t)l->length;
    r[4] = 1;  /* TargetId */
    r[6] = 10; /* CdbLength */
    r[7] = 24; /* SenseInfoLength */
    r[8] = dataIn;
    le32(r + 12, transfer);
    le32(r + 16, timeout);
    le32(r + l->senseOffsetAt, sense);
}

Expected capacityRequest(void) {
    const PassThroughLayout* l = passThroughLayout();
    uint8_t r[56] = {0};
    passThroughFields(r, 1, 192, 2, l->capacitySense);
    le32(r + l->dataAt, l->capacityData);
    r[l->cdbAt] = 0x25; /* READ CAPACITY(10) */
    return whole(STAND_IN_DISK, PASS_THROUGH, r, l->length, l->capacityOut);
}

Expected geometryRequest(void) {
    return whole(STAND_IN_DISK, GET_GEOMETRY, NULL, 0, 24);
}

Expected writeRequest(const uint8_t* data, uint16_t secsize, uint32_t offset) {
    const PassThroughLayout* l = passThroughLayout();
    uint8_t r[96] = {0};
    passThroughFields(r, 0, secsize * 512u, 2000, l->writeSense);
    const uint64_t pointer = (uintptr_t)data;
    memcpy(r + l->dataAt, &pointer, sizeof(void*)); /* little-endian, as wide as a pointer */
    uint8_t* cdb = r + l->cdbAt;
    cdb[0] = 0x2A; /* WRITE(10) */
    cdb[2] = (uint8_t)(offset >> 24);
    cdb[3] = (uint8_t)(offset >> 16);
    cdb[4] = (uint8_t)(offset >> 8);
    cdb[5] = (uint8_t)offset;
    cdb[7] = (uint8_t)(secsize >> 8);
    cdb[8] = (uint8_t)secsize;
    Expected e = whole(STAND_IN_DISK, PASS_THROUGH_DIRECT, r, l->writeSize, l->writeSize);
    e.hasData = 1;
    e.dataAddress = pointer;
    e.dataLength = secsize * 512u;
    e.dataHash = standInHash(STAND_IN_HASH_SEED, data, e.dataLength);
    return e;
}

Expected failing(Expected e, uint32_t status) {
    e.status = status;
    return e;
}

/* ---- showing what arrived ----------------------------------------------- */

static const char* codeName(uint32_t code) {
    switch (code) {
    case MINIPORT:
        return "IOCTL_SCSI_MINIPORT";
    case QUERY_PROPERTY:
        return "IOCTL_STORAGE_QUERY_PROPERTY";
    case PASS_THROUGH:
        return "IOCTL_SCSI_PASS_THROUGH";
    case PASS_THROUGH_DIRECT:
        return "IOCTL_SCSI_PASS_THROUGH_DIRECT";
    case GET_GEOMETRY:
        return "IOCTL_DISK_GET_DRIVE_GEOMETRY";
    case LOCK_VOLUME:
        return "FSCTL_LOCK_VOLUME";
    default:
        return "request";
    }
}

static void hex(const uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        printf("%02x", p[i]);
}

static void showRecord(const StandInRecord* r) {
    const char* device = r->device == STAND_IN_CONTROLLER ? "controller" : "drive";
    if (r->major == STAND_IN_OPEN || r->major == STAND_IN_CLOSE) {
        printf("    %-10s %s\n", device, r->major == STAND_IN_OPEN ? "opened" : "closed");
        return;
    }
    const uint32_t shown = r->inSize < sizeof r->in ? r->inSize : sizeof r->in;
    printf("    %-10s %-30s in %u out %u", device, codeName(r->code), r->inSize, r->outSize);
    if (r->code == MINIPORT && shown >= 28) {
        /* HeaderLength, Signature, Timeout, ControlCode, ReturnCode, Length */
        static const uint8_t at[] = {0, 4, 12, 16, 20, 24}, width[] = {4, 8, 4, 4, 4, 4};
        printf(": header");
        for (int f = 0; f < 6; ++f) {
            printf(" ");
            hex(r->in + at[f], width[f]);
        }
        const uint32_t payload = r->inSize - 28, listed = payload < 16 ? payload : 16;
        printf(" | payload[%u] ", payload);
        hex(r->in + 28, listed);
        if (listed < payload)
            printf("... hash %016llx", (unsigned long long)r->inHash);
    } else if ((r->code == PASS_THROUGH || r->code == PASS_THROUGH_DIRECT) && r->layout) {
        const int wide = r->layout == 56;
        const uint32_t dataAt = wide ? 24 : 20, senseAt = wide ? 32 : 24, cdbAt = wide ? 36 : 28;
        const uint64_t data = get32(r->in + dataAt) | (wide ? (uint64_t)get32(r->in + dataAt + 4) << 32 : 0);
        printf(": Length %u Target %u CdbLength %u SenseInfoLength %u DataIn %u DataTransferLength %u "
               "TimeOutValue %u ",
               r->layout, r->in[4], r->in[6], r->in[7], r->in[8], get32(r->in + 12), get32(r->in + 16));
        if (r->code == PASS_THROUGH)
            printf("DataBufferOffset %llu", (unsigned long long)data);
        else
            printf("DataBuffer %#llx", (unsigned long long)data);
        printf(" SenseInfoOffset %u CDB ", get32(r->in + senseAt));
        hex(r->in + cdbAt, 10);
        if (r->code == PASS_THROUGH_DIRECT) {
            printf(" | data read in place: %u bytes ", r->dataLength);
            hex(r->data, r->dataLength < 8 ? r->dataLength : 8);
            printf("... hash %016llx", (unsigned long long)r->dataHash);
        }
    } else if (shown) {
        printf(": ");
        hex(r->in, shown);
    }
    if (r->status)
        printf(" -> failed 0x%08x\n", r->status);
    else
        printf(" -> %u bytes back\n", r->returned);
}

void showRequests(const char* call) {
    const StandInRecord* records;
    uint32_t n = standInRequests(&records, 0);
    printf("  %s: %u request%s\n", call, n, n == 1 ? "" : "s");
    for (uint32_t i = 0; i < n; ++i)
        showRecord(&records[i]);
}

/* ---- comparing ------------------------------------------------------------ */

static void compare(const char* call, size_t i, const StandInRecord* r, const Expected* e) {
    CHECK(r->device == e->device && r->code == e->code, "%s, request %u: %s on the %s, expected %s", call, (unsigned)i,
          codeName(r->code), r->device == STAND_IN_CONTROLLER ? "controller" : "drive", codeName(e->code));
    CHECK(r->inSize == e->inSize && r->outSize == e->outSize, "%s, request %u: sizes %u/%u, expected %u/%u", call,
          (unsigned)i, r->inSize, r->outSize, e->inSize, e->outSize);
    CHECK(r->status == e->status, "%s, request %u: completed with 0x%08x, expected 0x%08x", call, (unsigned)i,
          r->status, e->status);
    if (r->inHash != e->inHash) {
        uint32_t at = 0, shown = r->inSize < sizeof r->in ? r->inSize : sizeof r->in;
        while (at < shown && r->in[at] == e->in[at])
            ++at;
        CHECK(0, "%s, request %u: input differs%s at byte %u: 0x%02x, expected 0x%02x", call, (unsigned)i,
              at < shown ? "" : " past the bytes shown; first difference not before", at, at < shown ? r->in[at] : 0,
              at < shown ? e->in[at] : 0);
    } else {
        CHECK(1, "input");
    }
    if (e->hasData)
        CHECK(r->dataAddress == e->dataAddress && r->dataLength == e->dataLength && r->dataHash == e->dataHash,
              "%s, request %u: data read at 0x%llx, %u bytes, hash %016llx; expected the caller's 0x%llx, %u bytes, "
              "hash %016llx",
              call, (unsigned)i, (unsigned long long)r->dataAddress, r->dataLength, (unsigned long long)r->dataHash,
              (unsigned long long)e->dataAddress, e->dataLength, (unsigned long long)e->dataHash);
}

void expectRequests(const char* call, const Expected* expected, size_t count) {
    const StandInRecord* all;
    uint32_t n = standInRequests(&all, 0);
    printf("  %s: %u request%s\n", call, n, n == 1 ? "" : "s");
    size_t compared = 0;
    for (uint32_t i = 0; i < n; ++i) {
        showRecord(&all[i]);
        /* The volume lock is looked for on its own, where Wine's answering
         * it itself is marked. */
        if (all[i].code == LOCK_VOLUME)
            continue;
        if (compared < count)
            compare(call, compared, &all[i], &expected[compared]);
        ++compared;
    }
    CHECK(compared == count, "%s: %u requests received, expected %u", call, (unsigned)compared, (unsigned)count);
}

void expectNothingSent(const char* call) {
    const StandInRecord* records;
    uint32_t n = standInRequests(&records, 1);
    printf("  %s: %u request%s\n", call, n, n == 1 ? "" : "s");
    for (uint32_t i = 0; i < n; ++i)
        showRecord(&records[i]);
    CHECK(n == 0, "%s: %u requests received (opens included), expected none", call, n);
}
