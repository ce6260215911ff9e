/*
 * The controller and the drive misbehaving, a code at a time: which status
 * each export answers, and which of the caller's bytes it leaves untouched
 * or overwrites with the packet as it stood.
 */
#include "scenarios.h"

#include <stdio.h>
#include <string.h>

#define UNTOUCHED 0xEE

enum Bytes { KEPT, ZEROED, CARDS };

static int all(const uint8_t* bytes, size_t n, uint8_t value) {
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] != value)
            return 0;
    return 1;
}

static void rule(uint32_t code, enum StandInReply reply, uint32_t times, uint32_t skip) {
    CHECK(standInRule(code, reply, times, skip), "the stand-in took no rule for %#x", code);
}

static uint32_t getChallenge(const Ferrocard* dd, uint8_t* b) {
    return dd->DDGetChallenge(b);
}
static uint32_t getResponse(const Ferrocard* dd, uint8_t* b) {
    return dd->DDGetResponse(b);
}
static uint32_t getMid(const Ferrocard* dd, uint8_t* b) {
    return dd->DDGetMID(b);
}
static uint32_t setChallenge(const Ferrocard* dd, uint8_t* b) {
    return dd->DDSetChallenge(b);
}
static uint32_t setResponse(const Ferrocard* dd, uint8_t* b) {
    return dd->DDSetResponse(b);
}
static uint32_t changeSa(const Ferrocard* dd, uint8_t* b) {
    return dd->DDChangeSA();
}

/* The six short commands, each answered once the way the row says. */
static void shortCommands(const Ferrocard* dd) {
    StandInCard card;
    standInDefaultCard(&card);
    static const struct {
        const char* call;
        uint32_t (*run)(const Ferrocard*, uint8_t*);
        uint32_t code;
        uint32_t length;
        enum StandInReply reply;
        uint32_t status;
        enum Bytes bytes;
    } rows[] = {
        {"DDGetChallenge", getChallenge, 0xA0000040, 8, STAND_IN_FAILS, 0x12FF, ZEROED},
        {"DDGetChallenge", getChallenge, 0xA0000040, 8, STAND_IN_LEAVES_PAYLOAD, 0, ZEROED},
        {"DDGetResponse", getResponse, 0xA0000044, 8, STAND_IN_FAILS, 0x12FF, ZEROED},
        {"DDGetResponse", getResponse, 0xA0000044, 8, STAND_IN_LEAVES_PAYLOAD, 0, ZEROED},
        {"DDGetMID", getMid, 0xA0000034, 8, STAND_IN_NONZERO_RETURN_CODE, 0, CARDS},
        {"DDGetMID", getMid, 0xA0000034, 8, STAND_IN_LEAVES_PAYLOAD, 0, ZEROED},
        {"DDSetChallenge", setChallenge, 0xA000003C, 8, STAND_IN_FAILS, 0x12FF, KEPT},
        {"DDSetResponse", setResponse, 0xA0000048, 8, STAND_IN_FAILS, 0x12FF, KEPT},
        {"DDChangeSA", changeSa, 0xA000004C, 0, STAND_IN_FAILS, 0x12FF, KEPT},
    };
    static const char* const replies[] = {"", "fails", "succeeds leaving the payload", "answers ReturnCode 1"};
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        char call[96];
        snprintf(call, sizeof call, "%s, the command %s", rows[i].call, replies[rows[i].reply]);
        uint8_t bytes[8];
        memset(bytes, UNTOUCHED, sizeof bytes);
        StandInState before, after;
        standInState(&before);
        rule(rows[i].code, rows[i].reply, 1, 0);
        standInClearLog();
        const uint32_t status = rows[i].run(dd, bytes);
        standInState(&after);
        const int bytesRight = rows[i].bytes == KEPT     ? all(bytes, 8, UNTOUCHED)
                               : rows[i].bytes == ZEROED ? all(bytes, 8, 0)
                                                         : !memcmp(bytes, card.mediaId, 8);
        CHECK(status == rows[i].status && bytesRight, "%s: %#x, expected %#x; caller's bytes %02x%02x%02x%02x... %s",
              call, status, rows[i].status, bytes[0], bytes[1], bytes[2], bytes[3],
              rows[i].bytes == KEPT     ? "expected untouched"
              : rows[i].bytes == ZEROED ? "expected zeros"
                                        : "expected the card's");
        CHECK(!memcmp(&before, &after, sizeof before), "%s: a failed command changed the card", call);
        /* The set commands send the caller's bytes, untouched still. */
        const uint8_t* sent = rows[i].bytes == KEPT ? bytes : NULL;
        Expected e = miniportPacket(rows[i].code, rows[i].length, sent, sent ? rows[i].length : 0);
        if (rows[i].reply == STAND_IN_FAILS)
            e = failing(e, STATUS_FAILED);
        EXPECT_REQUESTS(call, e);
    }
}

/* One failed attempt, then the identifier, two seconds later. */
static void mediaIdRetry(const Ferrocard* dd) {
    StandInCard card;
    standInDefaultCard(&card);
    uint8_t mid[8];
    memset(mid, UNTOUCHED, sizeof mid);
    rule(0xA0000034, STAND_IN_FAILS, 1, 0);
    standInClearLog();
    const double start = nowMs();
    const uint32_t status = dd->DDGetMID(mid);
    const double ms = nowMs() - start;
    CHECK(status == 0 && !memcmp(mid, card.mediaId, 8), "DDGetMID after one failure: %#x", status);
    CHECK(ms >= 1990 && ms < 3000, "DDGetMID after one failure took %.0f ms, expected the 2000 ms pause", ms);
    printf("  DDGetMID, the first attempt failing: %.0f ms\n", ms);
    EXPECT_REQUESTS("DDGetMID, the first attempt failing",
                    failing(miniportPacket(0xA0000034, 8, NULL, 0), STATUS_FAILED),
                    miniportPacket(0xA0000034, 8, NULL, 0));
}

/* A key-block read whose command succeeds without touching the payload:
 * the block holds the request word as sent, then zeros. */
static void mediaKeyBlockUntouched(const Ferrocard* dd) {
    uint8_t block[1024];
    memset(block, UNTOUCHED, sizeof block);
    rule(0xA0000030, STAND_IN_LEAVES_PAYLOAD, 1, 0);
    standInClearLog();
    const uint32_t status = dd->DDReadMKB(block, 1, 5, 0x0102);
    const uint8_t word[4] = {0x02, 0x01, 0x05, 0x01};
    CHECK(status == 0 && !memcmp(block, word, 4) && all(block + 4, 508, 0) && all(block + 512, 512, UNTOUCHED),
          "DDReadMKB, the payload left as sent: %#x, or other bytes", status);
    EXPECT_REQUESTS("DDReadMKB, the payload left as sent", miniportPacket(0xA0000030, 512, word, 4));
}

static void secureTransfers(const Ferrocard* dd) {
    static const struct {
        int write;
        const char* step;
        uint32_t code; /* the command that fails */
        int dataSent;
        enum Bytes bytes;
    } rows[] = {
        {0, "address-set", 0xA0000050, 0, KEPT},
        {0, "data command", 0xA000005C, 1, ZEROED},
        {1, "address-set", 0xA0000050, 0, KEPT},
        {1, "data command", 0xA0000060, 1, KEPT},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        char call[96];
        snprintf(call, sizeof call, "%s of 2 blocks, the %s failing", rows[i].write ? "DDSecureWrite" : "DDSecureRead",
                 rows[i].step);
        uint8_t blocks[1024];
        memset(blocks, UNTOUCHED, sizeof blocks);
        StandInState before, after;
        standInState(&before);
        rule(rows[i].code, STAND_IN_FAILS, 1, 0);
        standInClearLog();
        const uint32_t status = rows[i].write ? dd->DDSecureWrite(blocks, 2) : dd->DDSecureRead(blocks, 2);
        standInState(&after);
        CHECK(status == 0x12FF, "%s: %#x", call, status);
        CHECK(rows[i].bytes == KEPT ? all(blocks, sizeof blocks, UNTOUCHED) : all(blocks, sizeof blocks, 0),
              "%s: the caller's blocks %s", call, rows[i].bytes == KEPT ? "changed" : "not all overwritten with zeros");
        CHECK(after.secureBytes == before.secureBytes && after.secureHash == before.secureHash,
              "%s: the secure area changed", call);
        const uint32_t data = rows[i].write ? 0xA0000060 : 0xA000005C;
        if (rows[i].dataSent)
            EXPECT_REQUESTS(call, addressSet(0, 2),
                            failing(miniportPacket(data, 1024, rows[i].write ? blocks : NULL, rows[i].write ? 1024 : 0),
                                    STATUS_FAILED));
        else
            EXPECT_REQUESTS(call, failing(addressSet(0, 2), STATUS_FAILED));
    }
}

/* The second block of three failing: the first holds its data; the failed
 * data command leaves its slot with the packet's zeros, a failed address-set
 * leaves it untouched; the third is never asked for. */
static void protectedReads(const Ferrocard* dd) {
    uint8_t blocks[3 * 512];
    int first;

    memset(blocks, UNTOUCHED, sizeof blocks);
    rule(0xA0000054, STAND_IN_FAILS, 1, 1);
    standInClearLog();
    uint32_t status = dd->DDReadPT(blocks, 3, 0);
    first = blocks[0] == standInProtectedByte(0, 0) && blocks[511] == standInProtectedByte(0, 511);
    CHECK(status == 0x12FF && first && all(blocks + 512, 512, 0) && all(blocks + 1024, 512, UNTOUCHED),
          "DDReadPT, the second data command failing: %#x, or other bytes", status);
    EXPECT_REQUESTS("DDReadPT, the second data command failing", addressSet(0, 1),
                    miniportPacket(0xA0000054, 512, NULL, 0), addressSet(1, 1),
                    failing(miniportPacket(0xA0000054, 512, NULL, 0), STATUS_FAILED));

    memset(blocks, UNTOUCHED, sizeof blocks);
    rule(0xA0000050, STAND_IN_FAILS, 1, 1);
    standInClearLog();
    status = dd->DDReadPT(blocks, 3, 0);
    first = blocks[0] == standInProtectedByte(0, 0) && blocks[511] == standInProtectedByte(0, 511);
    CHECK(status == 0x12FF && first && all(blocks + 512, 1024, UNTOUCHED),
          "DDReadPT, the second address-set failing: %#x, or other bytes", status);
    EXPECT_REQUESTS("DDReadPT, the second address-set failing", addressSet(0, 1),
                    miniportPacket(0xA0000054, 512, NULL, 0), failing(addressSet(1, 1), STATUS_FAILED));
}

static void driveSide(const Ferrocard* dd) {
    Identity got, untouched;
    memset(&got, UNTOUCHED, sizeof got);
    memset(&untouched, UNTOUCHED, sizeof untouched);
    rule(0xA000002C, STAND_IN_FAILS, 1, 0);
    standInClearLog();
    uint32_t status = ferrocardIdentify(dd, &got);
    CHECK(status == 0x12FF && !memcmp(&got, &untouched, sizeof got),
          "DDIdentify, the CSD read failing: %#x, or an "
          "out-value written",
          status);
    EXPECT_REQUESTS("DDIdentify, the CSD read failing", propertyQuery(), capacityRequest(), geometryRequest(),
                    failing(miniportPacket(0xA000002C, 16, NULL, 0), STATUS_FAILED));

    /* A failed capacity request gives no size to report, and no CSD is read. */
    rule(0x0004D004, STAND_IN_FAILS, 1, 0);
    standInClearLog();
    status = ferrocardIdentify(dd, &got);
    CHECK(status == 0x12FF && !memcmp(&got, &untouched, sizeof got),
          "DDIdentify, the capacity request failing: %#x, or an out-value written", status);
    EXPECT_REQUESTS("DDIdentify, the capacity request failing", propertyQuery(),
                    failing(capacityRequest(), STATUS_FAILED), geometryRequest());

    uint8_t data[1024];
    memset(data, 0x3C, sizeof data);
    rule(0x0004D014, STAND_IN_FAILS, 1, 0);
    standInClearLog();
    status = dd->DDWritePT(data, 2, 9);
    CHECK(status == 0x12FF, "DDWritePT, the write failing: %#x", status);
    Expected write = failing(writeRequest(data, 2, 9), STATUS_FAILED);
    write.hasData = 0; /* a failed request reads no data */
    EXPECT_REQUESTS("DDWritePT, the write failing", propertyQuery(), write);

    uint16_t drive = 0x7777;
    rule(0x00070000, STAND_IN_FAILS, 1, 0);
    standInClearLog();
    status = dd->DDSysDrive(0, &drive);
    CHECK(status == 0x1002 && drive == 0x7777, "DDSysDrive, the geometry failing: %#x, drive %#x", status, drive);
    EXPECT_REQUESTS("DDSysDrive, the geometry failing", propertyQuery(), capacityRequest(),
                    failing(geometryRequest(), STATUS_FAILED));
}

/* A high-capacity card whose CSD read then fails: 0x12FF, the status word as
 * far as it got. */
static void highCapacityWithoutCsd(const Ferrocard* dd) {
    StandInCard card;
    standInDefaultCard(&card);
    card.highCapacityAnswer = 1;
    CHECK(standInSetCard(&card), "the stand-in took no card");
    rule(0xA000002C, STAND_IN_FAILS, 1, 0);
    uint16_t cardStatus = 0;
    standInClearLog();
    const uint32_t status = dd->DDChkSDCard(STAND_IN_DRIVE_NUMBER, &cardStatus);
    CHECK(status == 0x12FF && cardStatus == 0x0001, "DDChkSDCard, high capacity, the CSD read failing: %#x, %#x",
          status, cardStatus);
    EXPECT_REQUESTS("DDChkSDCard, high capacity, the CSD read failing", miniportPacket(0xA0000038, 4, NULL, 0),
                    miniportPacket(0xA0000068, 4, NULL, 0),
                    failing(miniportPacket(0xA000002C, 16, NULL, 0), STATUS_FAILED));
}

void failuresScenario(const Ferrocard* dd) {
    if (!openCard(dd, 1))
        return;
    shortCommands(dd);
    mediaIdRetry(dd);
    mediaKeyBlockUntouched(dd);
    secureTransfers(dd);
    protectedReads(dd);
    driveSide(dd);
    highCapacityWithoutCsd(dd);
}
