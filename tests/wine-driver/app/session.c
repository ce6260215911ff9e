/*
 * An SD application's session with the default card, call by call: each
 * export's status and out-values, as the library's tests on the simulated
 * machine expect them for the same card, and every request the stand-in
 * received for it, byte for byte.
 */
#include "scenarios.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define UNTOUCHED 0xEE
#define BIG 65535u

static void drivePart(const Ferrocard* dd, uint16_t* drive) {
    uint32_t status;

    standInClearLog();
    status = dd->DDSysInit();
    CHECK(status == 0, "DDSysInit: %#x", status);
    EXPECT_REQUESTS("DDSysInit", miniportPacket(0xA00000CC, 4, NULL, 0));
    StandInState state;
    CHECK(standInState(&state) && state.opens[0] == 2,
          "the controller opened %u times, expected twice: by discovery, then for the library's handle",
          state.opens[0]);

    *drive = 0x7777;
    standInClearLog();
    status = dd->DDSysDrive(0, drive);
    CHECK(status == 0 && *drive == STAND_IN_DRIVE_NUMBER, "DDSysDrive: %#x, drive %u", status, *drive);
    EXPECT_REQUESTS("DDSysDrive", propertyQuery(), capacityRequest(), geometryRequest());
    uint32_t capacityClass = 0;
    status = dd->DDSecureIdentify(&capacityClass);
    CHECK(status == 0 && capacityClass == 20480, "DDSecureIdentify: %#x, class %u, expected 20480", status,
          capacityClass);

    uint16_t cardStatus = 0;
    standInClearLog();
    status = dd->DDChkSDCard(*drive, &cardStatus);
    CHECK(status == 0 && cardStatus == 0x0001, "DDChkSDCard: %#x, card status %#x, expected 0x0001", status,
          cardStatus);
    EXPECT_REQUESTS("DDChkSDCard", miniportPacket(0xA0000038, 4, NULL, 0), miniportPacket(0xA0000068, 4, NULL, 0));

    /* The worked example: 1,984,512 sectors, 123/255/63 from the system:
     * 992 MB, class 20480, 32 heads, 63 sectors a track, 984 cylinders. */
    Identity got, want = {1984512, 128, 984, 32, 512, 63, 9, 3859, 7, 0, 0};
    memset(&got, UNTOUCHED, sizeof got);
    standInClearLog();
    status = ferrocardIdentify(dd, &got);
    CHECK(status == 0, "DDIdentify: %#x", status);
    expectIdentity("DDIdentify", &got, &want);
    EXPECT_REQUESTS("DDIdentify", propertyQuery(), capacityRequest(), geometryRequest(),
                    miniportPacket(0xA000002C, 16, NULL, 0));
}

static void shortCommands(const Ferrocard* dd, const StandInCard* card) {
    uint8_t bytes[8];
    uint32_t status;
    StandInState state;

    memset(bytes, UNTOUCHED, sizeof bytes);
    standInClearLog();
    status = dd->DDGetMID(bytes);
    CHECK(status == 0 && !memcmp(bytes, card->mediaId, 8), "DDGetMID: %#x, or not the card's identifier", status);
    EXPECT_REQUESTS("DDGetMID", miniportPacket(0xA0000034, 8, NULL, 0));

    const uint8_t challenge[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    memcpy(bytes, challenge, 8);
    standInClearLog();
    status = dd->DDSetChallenge(bytes);
    CHECK(status == 0 && !memcmp(bytes, challenge, 8), "DDSetChallenge: %#x, or it wrote to the caller's bytes",
          status);
    CHECK(standInState(&state) && !memcmp(state.hostChallenge, challenge, 8), "the card holds another challenge");
    EXPECT_REQUESTS("DDSetChallenge", miniportPacket(0xA000003C, 8, challenge, 8));

    memset(bytes, UNTOUCHED, sizeof bytes);
    standInClearLog();
    status = dd->DDGetChallenge(bytes);
    CHECK(status == 0 && !memcmp(bytes, card->challenge, 8), "DDGetChallenge: %#x, or not the card's", status);
    EXPECT_REQUESTS("DDGetChallenge", miniportPacket(0xA0000040, 8, NULL, 0));

    const uint8_t response[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    standInClearLog();
    status = dd->DDSetResponse(response);
    CHECK(status == 0, "DDSetResponse: %#x", status);
    CHECK(standInState(&state) && !memcmp(state.hostResponse, response, 8), "the card holds another response");
    EXPECT_REQUESTS("DDSetResponse", miniportPacket(0xA0000048, 8, response, 8));

    memset(bytes, UNTOUCHED, sizeof bytes);
    standInClearLog();
    status = dd->DDGetResponse(bytes);
    CHECK(status == 0 && !memcmp(bytes, card->response, 8), "DDGetResponse: %#x, or not the card's", status);
    EXPECT_REQUESTS("DDGetResponse", miniportPacket(0xA0000044, 8, NULL, 0));

    standInClearLog();
    status = dd->DDChangeSA();
    CHECK(status == 0 && standInState(&state) && state.changeSaCount == 1, "DDChangeSA: %#x, %u change-SA commands",
          status, state.changeSaCount);
    EXPECT_REQUESTS("DDChangeSA", miniportPacket(0xA000004C, 0, NULL, 0));
}

static void blockCommands(const Ferrocard* dd) {
    uint32_t status;
    uint8_t blocks[3 * 512];

    /* Index 0xFFFE then 0xFFFF, the last there is; selector 5, one block each. */
    memset(blocks, UNTOUCHED, sizeof blocks);
    standInClearLog();
    status = dd->DDReadMKB(blocks, 2, 5, 0xFFFE);
    int same = 1;
    for (unsigned i = 0; i < 512; ++i)
        same &= blocks[i] == standInMkbByte(5, 0xFFFE, i) && blocks[512 + i] == standInMkbByte(5, 0xFFFF, i);
    CHECK(status == 0 && same && blocks[1024] == UNTOUCHED, "DDReadMKB: %#x, or other bytes", status);
    const uint8_t word0[4] = {0xFE, 0xFF, 0x05, 0x01}, word1[4] = {0xFF, 0xFF, 0x05, 0x01};
    EXPECT_REQUESTS("DDReadMKB", miniportPacket(0xA0000030, 512, word0, 4), miniportPacket(0xA0000030, 512, word1, 4));

    for (unsigned i = 0; i < 512; ++i)
        blocks[i] = (uint8_t)(i * 37 + 11);
    standInClearLog();
    status = dd->DDSecureWrite(blocks, 1);
    CHECK(status == 0, "DDSecureWrite of 1 block: %#x", status);
    EXPECT_REQUESTS("DDSecureWrite(1)", addressSet(0, 1), miniportPacket(0xA0000060, 512, blocks, 512));
    uint8_t back[512];
    memset(back, UNTOUCHED, sizeof back);
    standInClearLog();
    status = dd->DDSecureRead(back, 1);
    CHECK(status == 0 && !memcmp(back, blocks, 512), "DDSecureRead of 1 block: %#x, or not what was written", status);
    EXPECT_REQUESTS("DDSecureRead(1)", addressSet(0, 1), miniportPacket(0xA000005C, 512, NULL, 0));

    uint8_t* big = malloc(BIG * 512);
    uint8_t* bigBack = malloc(BIG * 512);
    if (CHECK(big && bigBack, "no room for 2 x 65535 blocks")) {
        for (uint32_t i = 0; i < BIG * 512; ++i)
            big[i] = (uint8_t)((i * 2654435761u) >> 13);
        memset(bigBack, UNTOUCHED, BIG * 512);
        standInClearLog();
        status = dd->DDSecureWrite(big, BIG);
        CHECK(status == 0, "DDSecureWrite of 65535 blocks: %#x", status);
        EXPECT_REQUESTS("DDSecureWrite(65535)", addressSet(0, BIG),
                        miniportPacket(0xA0000060, BIG * 512, big, BIG * 512));
        StandInState state;
        CHECK(standInState(&state) && state.secureBytes == BIG * 512 &&
                  state.secureHash == standInHash(STAND_IN_HASH_SEED, big, BIG * 512),
              "the card's secure area holds %u bytes, not the 65535 blocks written", state.secureBytes);
        standInClearLog();
        status = dd->DDSecureRead(bigBack, BIG);
        CHECK(status == 0 && !memcmp(bigBack, big, BIG * 512), "DDSecureRead of 65535 blocks: %#x, or other bytes",
              status);
        EXPECT_REQUESTS("DDSecureRead(65535)", addressSet(0, BIG), miniportPacket(0xA000005C, BIG * 512, NULL, 0));
    }
    free(big);
    free(bigBack);

    memset(blocks, UNTOUCHED, sizeof blocks);
    standInClearLog();
    status = dd->DDReadPT(blocks, 3, 7);
    same = 1;
    for (unsigned b = 0; b < 3; ++b)
        for (unsigned i = 0; i < 512; ++i)
            same &= blocks[b * 512 + i] == standInProtectedByte(7 + b, i);
    CHECK(status == 0 && same, "DDReadPT of blocks 7 to 9: %#x, or other bytes", status);
    EXPECT_REQUESTS("DDReadPT", addressSet(7, 1), miniportPacket(0xA0000054, 512, NULL, 0), addressSet(8, 1),
                    miniportPacket(0xA0000054, 512, NULL, 0), addressSet(9, 1),
                    miniportPacket(0xA0000054, 512, NULL, 0));
}

/* Whether FSCTL_LOCK_VOLUME reached the drive after it was opened and found
 * to be the reader, and before the write. */
static int lockedBeforeWrite(void) {
    const StandInRecord* r;
    uint32_t n = standInRequests(&r, 1);
    for (uint32_t i = 0; i + 3 < n; ++i)
        if (r[i].major == STAND_IN_OPEN && r[i].device == STAND_IN_DISK && r[i + 1].code == 0x002D1400u &&
            r[i + 2].code == 0x00090018u && r[i + 3].code == 0x0004D014u)
            return 1;
    return 0;
}

static void protectedWrites(const Ferrocard* dd) {
    static const struct {
        uint16_t secsize;
        uint32_t offset;
    } writes[] = {{2, 0x64}, {256, 0x12345678}};
    static uint8_t data[256 * 512];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = (uint8_t)(i ^ (i >> 9));
    for (size_t w = 0; w < sizeof writes / sizeof writes[0]; ++w) {
        char call[64];
        snprintf(call, sizeof call, "DDWritePT(%u sectors at %#x)", writes[w].secsize, writes[w].offset);
        standInClearLog();
        const double start = nowMs();
        const uint32_t status = dd->DDWritePT(data, writes[w].secsize, writes[w].offset);
        const double ms = nowMs() - start;
        CHECK(status == 0, "%s: %#x", call, status);
        CHECK(ms >= 59.0, "%s took %.1f ms: the 60 ms pause after the write is missing", call, ms);
        printf("  %s: %.1f ms, the 60 ms pause included\n", call, ms);
        EXPECT_REQUESTS(call, propertyQuery(), writeRequest(data, writes[w].secsize, writes[w].offset));
        KNOWN_DIFFERENCE("Wine answers FSCTL_LOCK_VOLUME itself; it never reaches the drive's driver") {
            CHECK(lockedBeforeWrite(), "%s: the drive's driver saw FSCTL_LOCK_VOLUME between the open and the write",
                  call);
        }
    }
    /* The record the 32-bit platform fixes, read back as the driver saw it. */
    const StandInRecord* r;
    if (sizeof(void*) == 4 && standInRequests(&r, 0) == 2)
        CHECK(r[1].inSize == 80 && r[1].outSize == 80 && r[1].layout == 44 && r[1].in[24] == 48 && r[1].in[25] == 0,
              "the 32-bit write request: %u bytes in, %u out, Length %u, SenseInfoOffset %u; expected 80, 80, 44, 48",
              r[1].inSize, r[1].outSize, r[1].layout, r[1].in[24] | (r[1].in[25] << 8));
}

void sessionScenario(const Ferrocard* dd) {
    StandInCard card;
    standInDefaultCard(&card);
    uint16_t drive = 0;
    drivePart(dd, &drive);
    shortCommands(dd, &card);
    blockCommands(dd);
    protectedWrites(dd);

    standInClearLog();
    CHECK(dd->DDFini() == 0, "DDFini");
    CHECK(dd->DDSysFini() == 0, "DDSysFini");
    expectNothingSent("DDFini, DDSysFini");

    /* The controller stays open: commands after DDSysFini still reach it. */
    uint8_t mid[8];
    CHECK(dd->DDGetMID(mid) == 0 && !memcmp(mid, card.mediaId, 8), "DDGetMID after DDSysFini");
    EXPECT_REQUESTS("DDGetMID after DDSysFini", miniportPacket(0xA0000034, 8, NULL, 0));

    /* Every handle closed but the controller's, which the library keeps
     * until the process ends. */
    StandInState state;
    CHECK(standInState(&state) && standInWaitForCloses(STAND_IN_DISK, state.opens[1]) &&
              standInWaitForCloses(STAND_IN_CONTROLLER, 1) && standInState(&state) && state.opens[0] == 2 &&
              state.closes[0] == 1 && state.opens[1] == state.closes[1] && state.opens[1] == 4,
          "handles: controller %u opened, %u closed (expected 2, 1); drive %u opened, %u closed (expected 4, 4)",
          state.opens[0], state.closes[0], state.opens[1], state.closes[1]);
}
