/*
 * The card's drive: the storage descriptor with the maker's strings, READ
 * CAPACITY(10) and WRITE(10) through the pass-through requests, the geometry
 * while a card is in. Pass-through structures arrive as their caller laid
 * them out; their Length tells a 32-bit caller's layout (44 bytes, the data
 * pointer or offset at 20) from a 64-bit one's (56 bytes, at 24), as the port
 * driver tells them apart.
 */
#include "stand_in.h"

#define SECTOR 512u

/* STORAGE_DEVICE_DESCRIPTOR up to its raw properties, then its strings. */
#define DESCRIPTOR_HEADER 40u
#define BUS_TYPE_SD 12u
#define MEDIA_REMOVABLE 11u /* MediaType RemovableMedia */

/* SCSI status and fixed-format sense. */
#define SCSI_GOOD 0x00
#define SCSI_CHECK_CONDITION 0x02
#define SENSE_NOT_READY 0x02
#define SENSE_ILLEGAL_REQUEST 0x05
#define SENSE_DATA_PROTECT 0x07

typedef struct PassThroughLayout {
    uint32_t length;        /* the structure's size, its Length */
    uint32_t dataAt;        /* DataBufferOffset, or the direct form's DataBuffer pointer */
    uint32_t dataWidth;     /* 4 or 8 bytes */
    uint32_t senseOffsetAt; /* SenseInfoOffset */
    uint32_t cdbAt;
} PassThroughLayout;

static const PassThroughLayout kLayouts[] = {
    {44, 20, 4, 24, 28}, /* a 32-bit caller */
    {56, 24, 8, 32, 36}, /* a 64-bit caller */
};

static const PassThroughLayout* layoutOf(const uint8_t* request, uint32_t inSize) {
    if (inSize < 2)
        return NULL;
    const uint32_t length = request[0] | (request[1] << 8);
    for (size_t i = 0; i < sizeof kLayouts / sizeof kLayouts[0]; ++i)
        if (kLayouts[i].length == length && inSize >= length)
            return &kLayouts[i];
    return NULL;
}

static uint64_t dataField(const uint8_t* request, const PassThroughLayout* l) {
    return l->dataWidth == 8 ? standInLe64(request + l->dataAt) : standInLe32(request + l->dataAt);
}

/* A check condition with fixed-format sense, where the request left room. */
static void checkCondition(StandInRequest* r, const PassThroughLayout* l, uint8_t key, uint8_t asc) {
    uint8_t* request = r->buffer;
    request[2] = SCSI_CHECK_CONDITION;
    const uint32_t senseAt = standInLe32(request + l->senseOffsetAt);
    const uint32_t room = request[7];
    uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, 0, 0, 0, 0, 0};
    uint32_t n = room < sizeof sense ? room : sizeof sense;
    if (senseAt >= r->outSize || senseAt + n > r->outSize)
        n = 0;
    if (n)
        RtlCopyMemory(request + senseAt, sense, n);
    request[7] = (uint8_t)n;
    standInStoreLe32(request + 12, 0); /* nothing transferred */
}

static NTSTATUS queryProperty(StandIn* s, StandInRequest* r, ULONG_PTR* answered) {
    if (r->inSize < 8)
        return STATUS_INVALID_PARAMETER;
    const uint32_t property = standInLe32(r->buffer), query = standInLe32(r->buffer + 4);
    if (property != 0) /* StorageDeviceProperty */
        return STATUS_NOT_SUPPORTED;
    if (query == 1) /* PropertyExistsQuery */
        return STATUS_SUCCESS;
    if (query != 0)
        return STATUS_NOT_SUPPORTED;

    uint8_t descriptor[DESCRIPTOR_HEADER + 64];
    RtlZeroMemory(descriptor, sizeof descriptor);
    uint32_t at = DESCRIPTOR_HEADER;
    const char* strings[] = {s->card.vendor, s->card.product, "1.00"};
    uint32_t offsets[3];
    for (int i = 0; i < 3; ++i) {
        offsets[i] = at;
        for (const char* c = strings[i]; *c && at < sizeof descriptor - 1; ++c)
            descriptor[at++] = (uint8_t)*c;
        descriptor[at++] = 0;
    }
    standInStoreLe32(descriptor, DESCRIPTOR_HEADER); /* Version */
    standInStoreLe32(descriptor + 4, at);            /* Size */
    descriptor[10] = 1;                              /* RemovableMedia */
    standInStoreLe32(descriptor + 12, offsets[0]);   /* VendorIdOffset */
    standInStoreLe32(descriptor + 16, offsets[1]);   /* ProductIdOffset */
    standInStoreLe32(descriptor + 20, offsets[2]);   /* ProductRevisionOffset */
    standInStoreLe32(descriptor + 28, BUS_TYPE_SD);
    const uint32_t n = r->outSize < at ? r->outSize : at;
    RtlCopyMemory(r->buffer, descriptor, n);
    *answered = n;
    return STATUS_SUCCESS;
}

static NTSTATUS geometry(StandIn* s, StandInRequest* r, ULONG_PTR* answered) {
    /* A reader without a card has no geometry to give. */
    if (!s->card.present)
        return STATUS_NO_MEDIA_IN_DEVICE;
    if (r->outSize < 24)
        return STATUS_BUFFER_TOO_SMALL;
    uint8_t* g = r->buffer;
    RtlZeroMemory(g, 24);
    standInStoreLe32(g, s->card.cylinders); /* Cylinders, a 64-bit number */
    standInStoreLe32(g + 8, MEDIA_REMOVABLE);
    standInStoreLe32(g + 12, s->card.tracksPerCylinder);
    standInStoreLe32(g + 16, s->card.sectorsPerTrack);
    standInStoreLe32(g + 20, s->card.bytesPerSector);
    *answered = 24;
    return STATUS_SUCCESS;
}

static void readCapacity(StandIn* s, StandInRequest* r, const PassThroughLayout* l, ULONG_PTR* answered) {
    uint8_t* request = r->buffer;
    const uint64_t at = dataField(request, l);
    const uint32_t wanted = standInLe32(request + 12);
    if (request[8] != 1 /* SCSI_IOCTL_DATA_IN */ || wanted < 8 || at + 8 > r->outSize) {
        checkCondition(r, l, SENSE_ILLEGAL_REQUEST, 0x24);
        return;
    }
    if (!s->card.present) {
        checkCondition(r, l, SENSE_NOT_READY, 0x3A); /* medium not present */
        return;
    }
    standInStoreBe32(request + at, s->card.lastBlockAddress);
    standInStoreBe32(request + at + 4, s->card.bytesPerSector);
    standInStoreLe32(request + 12, 8);
    *answered = (ULONG_PTR)(at + 8);
}

/* WRITE(10): the data stays in the caller's memory (direct form) or follows
 * the structure (buffered form); either way the driver reads all of it. */
static NTSTATUS write10(StandIn* s, StandInRequest* r, const PassThroughLayout* l, int direct) {
    uint8_t* request = r->buffer;
    const uint8_t* cdb = request + l->cdbAt;
    const uint32_t length = standInLe32(request + 12);
    const uint32_t sectors = (cdb[7] << 8) | cdb[8];
    const uint64_t data = dataField(request, l);
    if (request[8] != 0 /* SCSI_IOCTL_DATA_OUT */ || length != sectors * SECTOR) {
        checkCondition(r, l, SENSE_ILLEGAL_REQUEST, 0x24);
        return STATUS_SUCCESS;
    }
    if (!s->card.present) {
        checkCondition(r, l, SENSE_NOT_READY, 0x3A);
        return STATUS_SUCCESS;
    }
    if (s->card.writeProtectAnswer == 1) {
        checkCondition(r, l, SENSE_DATA_PROTECT, 0x27);
        return STATUS_SUCCESS;
    }
    uint8_t* bytes = length ? ExAllocatePoolWithTag(NonPagedPool, length, STAND_IN_POOL_TAG) : NULL;
    if (length && !bytes)
        return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = STATUS_SUCCESS;
    if (direct)
        status = length ? standInReadCallerMemory(r->irp, data, bytes, length) : STATUS_SUCCESS;
    else if (data + length > r->inSize)
        status = STATUS_INVALID_PARAMETER;
    else if (length)
        RtlCopyMemory(bytes, request + data, length);
    if (NT_SUCCESS(status) && r->record) {
        r->record->dataAddress = direct ? data : 0;
        r->record->dataLength = length;
        r->record->dataHash = standInHash(STAND_IN_HASH_SEED, bytes, length);
        RtlCopyMemory(r->record->data, bytes, length < sizeof r->record->data ? length : sizeof r->record->data);
    }
    if (bytes)
        ExFreePoolWithTag(bytes, STAND_IN_POOL_TAG);
    if (NT_SUCCESS(status))
        request[2] = SCSI_GOOD;
    return status;
}

static NTSTATUS passThrough(StandIn* s, uint32_t code, StandInRequest* r, ULONG_PTR* answered) {
    const PassThroughLayout* l = layoutOf(r->buffer, r->inSize);
    if (!l || r->outSize < l->length)
        return STATUS_INVALID_PARAMETER;
    if (r->record)
        r->record->layout = l->length;
    uint8_t* request = r->buffer;
    /* The card sits at path 0, target 1, unit 0. */
    if (request[3] != 0 || request[4] != 1 || request[5] != 0)
        return STATUS_NO_SUCH_DEVICE;
    const uint8_t operation = request[6] ? request[l->cdbAt] : 0xFF;
    request[2] = SCSI_GOOD;
    *answered = r->outSize < r->inSize ? r->outSize : r->inSize;
    if (operation == 0x25 && code == STAND_IN_PASS_THROUGH) {
        readCapacity(s, r, l, answered);
        return STATUS_SUCCESS;
    }
    if (operation == 0x2A)
        return write10(s, r, l, code == STAND_IN_PASS_THROUGH_DIRECT);
    checkCondition(r, l, SENSE_ILLEGAL_REQUEST, 0x20); /* invalid command operation code */
    return STATUS_SUCCESS;
}

NTSTATUS standInDiskControl(StandIn* s, uint32_t code, StandInRequest* r, ULONG_PTR* answered) {
    *answered = 0;
    StandInRule rule;
    if (standInTakeRule(s, code, &rule)) {
        if (rule.reply == STAND_IN_FAILS)
            return rule.status ? (NTSTATUS)rule.status : STATUS_IO_DEVICE_ERROR;
        if (rule.reply == STAND_IN_LEAVES_PAYLOAD) {
            *answered = r->outSize < r->inSize ? r->outSize : r->inSize;
            return STATUS_SUCCESS;
        }
    }
    switch (code) {
    case STAND_IN_QUERY_PROPERTY:
        return queryProperty(s, r, answered);
    case STAND_IN_GET_GEOMETRY:
        return geometry(s, r, answered);
    case STAND_IN_PASS_THROUGH:
    case STAND_IN_PASS_THROUGH_DIRECT:
        return passThrough(s, code, r, answered);
    case STAND_IN_LOCK_VOLUME:
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}
