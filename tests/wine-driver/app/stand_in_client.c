#include "stand_in_client.h"

#include "../reader_device.h"

#include <stdlib.h>

static HANDLE gControl = INVALID_HANDLE_VALUE;
static StandInRecord* gRecords;
static uint32_t gRecordCapacity;

static int control(uint32_t code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    DWORD ignored = 0;
    return DeviceIoControl(gControl, code, (void*)in, inSize, out, outSize, returned ? returned : &ignored, NULL) !=
           FALSE;
}

int standInBegin(void) {
    gControl = CreateFileA(STAND_IN_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (gControl == INVALID_HANDLE_VALUE)
        return 0;
    readerDeviceRemove(); /* whatever a run that ended early left */
    return standInReset() && readerDeviceAdd();
}

void standInEnd(void) {
    readerDeviceRemove();
    if (gControl != INVALID_HANDLE_VALUE)
        CloseHandle(gControl);
    gControl = INVALID_HANDLE_VALUE;
    free(gRecords);
    gRecords = NULL;
    gRecordCapacity = 0;
}

int standInReset(void) {
    return control(STAND_IN_RESET, NULL, 0, NULL, 0, NULL);
}

int standInSetCard(const StandInCard* card) {
    return control(STAND_IN_SET_CARD, card, sizeof *card, NULL, 0, NULL);
}

int standInRule(uint32_t code, enum StandInReply reply, uint32_t times, uint32_t skip) {
    StandInRule rule = {code, (uint32_t)reply, times, skip, 0};
    return control(STAND_IN_SET_RULE, &rule, sizeof rule, NULL, 0, NULL);
}

int standInClearRules(void) {
    return control(STAND_IN_CLEAR_RULES, NULL, 0, NULL, 0, NULL);
}

int standInClearLog(void) {
    return control(STAND_IN_CLEAR_LOG, NULL, 0, NULL, 0, NULL);
}

int standInState(StandInState* state) {
    DWORD returned = 0;
    return control(STAND_IN_READ_STATE, NULL, 0, state, sizeof *state, &returned) && returned == sizeof *state;
}

uint32_t standInRequests(const StandInRecord** records, int withOpens) {
    enum { kChunk = 64 };
    static uint8_t reply[sizeof(StandInLogHeader) + kChunk * sizeof(StandInRecord)];
    uint32_t kept = 0;
    for (uint32_t first = 0;;) {
        DWORD returned = 0;
        if (!control(STAND_IN_READ_LOG, &first, sizeof first, reply, sizeof reply, &returned) ||
            returned < sizeof(StandInLogHeader))
            break;
        const StandInLogHeader* header = (const StandInLogHeader*)reply;
        const StandInRecord* chunk = (const StandInRecord*)(reply + sizeof *header);
        for (uint32_t i = 0; i < header->count; ++i) {
            if (!withOpens && (chunk[i].major == STAND_IN_OPEN || chunk[i].major == STAND_IN_CLOSE))
                continue;
            if (kept == gRecordCapacity) {
                uint32_t capacity = gRecordCapacity ? 2 * gRecordCapacity : 256;
                StandInRecord* grown = realloc(gRecords, capacity * sizeof *grown);
                if (!grown)
                    break;
                gRecords = grown;
                gRecordCapacity = capacity;
            }
            gRecords[kept++] = chunk[i];
        }
        first += header->count;
        if (header->count == 0 || first >= header->total)
            break;
    }
    *records = gRecords;
    return kept;
}

int standInWaitForCloses(uint32_t device, uint32_t closes) {
    StandInState state;
    for (int waited = 0; waited <= 1000; waited += 10) {
        if (standInState(&state) && state.closes[device - 1] >= closes)
            return 1;
        Sleep(10);
    }
    return 0;
}
