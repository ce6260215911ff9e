/*
 * The controller: IOCTL_SCSI_MINIPORT packets, a 28-byte header signed "HX"
 * naming the command, then the payload, answered in the same buffer from the
 * card model, as the simulated machine's controller answers them.
 */
#include "stand_in.h"

enum {
    kReadCsd = 0xA000002C,
    kReadMkb = 0xA0000030,
    kGetMid = 0xA0000034,
    kQueryWriteProtect = 0xA0000038,
    kSetChallenge = 0xA000003C,
    kGetChallenge = 0xA0000040,
    kGetResponse = 0xA0000044,
    kSetResponse = 0xA0000048,
    kChangeSa = 0xA000004C,
    kSetAddress = 0xA0000050,
    kReadProtectedBlock = 0xA0000054,
    kSecureRead = 0xA000005C,
    kSecureWrite = 0xA0000060,
    kQueryHighCapacity = 0xA0000068,
    kAnnounce = 0xA00000CC,
};

#define HEADER_LENGTH 28u
#define BLOCK 512u

static const uint8_t kSignature[8] = {'H', 'X', 0, 0, 0, 0, 0, 0};

static NTSTATUS copyOut(uint8_t* payload, uint32_t length, const uint8_t* bytes, uint32_t n) {
    if (length < n)
        return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(payload, bytes, n);
    return STATUS_SUCCESS;
}

static NTSTATUS copyIn(uint8_t* into, const uint8_t* payload, uint32_t length) {
    if (length < 8)
        return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(into, payload, 8);
    return STATUS_SUCCESS;
}

static NTSTATUS answer(uint8_t* payload, uint32_t length, uint32_t value) {
    if (length < 4)
        return STATUS_INVALID_PARAMETER;
    standInStoreLe32(payload, value);
    return STATUS_SUCCESS;
}

/* A data command takes the address the command before it set, once, and
 * only for exactly the blocks that command named. */
static int takeAddress(StandIn* s, uint32_t length, uint64_t* offset) {
    if (!s->addressSet || length != (uint64_t)s->addressCount * BLOCK)
        return 0;
    s->addressSet = 0;
    *offset = (uint64_t)s->address * BLOCK;
    return 1;
}

static NTSTATUS secureTransfer(StandIn* s, uint32_t code, uint8_t* payload, uint32_t length) {
    uint64_t offset;
    if (!takeAddress(s, length, &offset) || offset + length > STAND_IN_SECURE_AREA_SIZE)
        return STATUS_IO_DEVICE_ERROR;
    if (code == kSecureRead) {
        RtlZeroMemory(payload, length);
        if (offset < s->state.secureBytes) {
            uint64_t held = s->state.secureBytes - offset;
            RtlCopyMemory(payload, s->secureArea + offset, held < length ? (SIZE_T)held : length);
        }
        return STATUS_SUCCESS;
    }
    if (!s->secureArea &&
        !(s->secureArea = ExAllocatePoolWithTag(NonPagedPool, STAND_IN_SECURE_AREA_SIZE, STAND_IN_POOL_TAG)))
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(s->secureArea + offset, payload, length);
    if (offset + length > s->state.secureBytes) {
        if (offset > s->state.secureBytes)
            RtlZeroMemory(s->secureArea + s->state.secureBytes, (SIZE_T)(offset - s->state.secureBytes));
        s->state.secureBytes = (uint32_t)(offset + length);
    }
    s->state.secureHash = standInHash(STAND_IN_HASH_SEED, s->secureArea, s->state.secureBytes);
    return STATUS_SUCCESS;
}

static NTSTATUS execute(StandIn* s, uint32_t code, uint8_t* payload, uint32_t length) {
    const StandInCard* card = &s->card;
    if (code == kAnnounce)
        return STATUS_SUCCESS;
    if (!card->present)
        return STATUS_DEVICE_NOT_READY;
    switch (code) {
    case kReadCsd:
        return copyOut(payload, length, card->csd, sizeof card->csd);
    case kGetMid:
        return copyOut(payload, length, card->mediaId, sizeof card->mediaId);
    case kGetChallenge:
        return copyOut(payload, length, card->challenge, sizeof card->challenge);
    case kGetResponse:
        return copyOut(payload, length, card->response, sizeof card->response);
    case kQueryWriteProtect:
        return answer(payload, length, card->writeProtectAnswer);
    case kQueryHighCapacity:
        return answer(payload, length, card->highCapacityAnswer);
    case kSetChallenge:
        return copyIn(s->state.hostChallenge, payload, length);
    case kSetResponse:
        return copyIn(s->state.hostResponse, payload, length);
    case kChangeSa:
        ++s->state.changeSaCount;
        return STATUS_SUCCESS;
    case kSetAddress:
        if (length < 8)
            return STATUS_INVALID_PARAMETER;
        s->address = standInLe32(payload);
        s->addressCount = standInLe32(payload + 4);
        s->addressSet = 1;
        return STATUS_SUCCESS;
    case kReadMkb: {
        /* The request word: block index, selector, block count. */
        if (length < 4)
            return STATUS_INVALID_PARAMETER;
        uint32_t word = standInLe32(payload);
        uint32_t blocks = word >> 24;
        if (blocks == 0 || length < blocks * BLOCK)
            return STATUS_INVALID_PARAMETER;
        for (uint32_t b = 0; b < blocks; ++b)
            for (unsigned i = 0; i < BLOCK; ++i)
                payload[b * BLOCK + i] = standInMkbByte((uint8_t)(word >> 16), (uint16_t)(word + b), i);
        return STATUS_SUCCESS;
    }
    case kReadProtectedBlock: {
        uint64_t offset;
        if (s->addressCount != 1 || !takeAddress(s, length, &offset))
            return STATUS_IO_DEVICE_ERROR;
        for (unsigned i = 0; i < BLOCK; ++i)
            payload[i] = standInProtectedByte((uint32_t)(offset / BLOCK), i);
        return STATUS_SUCCESS;
    }
    case kSecureRead:
    case kSecureWrite:
        return secureTransfer(s, code, payload, length);
    default:
        return STATUS_IO_DEVICE_ERROR;
    }
}

NTSTATUS standInMiniport(StandIn* s, StandInRequest* r, ULONG_PTR* answered) {
    uint8_t* packet = r->buffer;
    *answered = 0;
    if (r->inSize < HEADER_LENGTH || !packet)
        return STATUS_INVALID_PARAMETER;
    const uint32_t code = standInLe32(packet + 16);
    const uint64_t total = HEADER_LENGTH + (uint64_t)standInLe32(packet + 24);
    if (standInLe32(packet) != HEADER_LENGTH || RtlCompareMemory(packet + 4, kSignature, 8) != 8 || total > r->inSize ||
        total > r->outSize)
        return STATUS_INVALID_PARAMETER;

    uint32_t returnCode = 0;
    StandInRule rule;
    if (standInTakeRule(s, code, &rule)) {
        if (rule.reply == STAND_IN_FAILS)
            return rule.status ? (NTSTATUS)rule.status : STATUS_IO_DEVICE_ERROR;
        if (rule.reply == STAND_IN_LEAVES_PAYLOAD) {
            *answered = (ULONG_PTR)total;
            return STATUS_SUCCESS;
        }
        returnCode = 1;
    }
    NTSTATUS status = execute(s, code, packet + HEADER_LENGTH, (uint32_t)(total - HEADER_LENGTH));
    if (!NT_SUCCESS(status))
        return status;
    standInStoreLe32(packet + 20, returnCode);
    *answered = (ULONG_PTR)total;
    return STATUS_SUCCESS;
}
