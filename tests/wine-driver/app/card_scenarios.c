/*
 * What the card in the reader changes: no card, a write-protected card, and
 * the kinds of card the status word and DDIdentify tell apart.
 */
#include "scenarios.h"

#include <stdio.h>
#include <string.h>

#define UNTOUCHED 0xEE

static void setCard(const StandInCard* card) {
    CHECK(standInSetCard(card), "the stand-in took no card");
}

static void writesRefused(const Ferrocard* dd, const char* when);

void noCardScenario(const Ferrocard* dd) {
    StandInCard card;
    standInDefaultCard(&card);
    card.present = 0;
    setCard(&card);

    /* The controller is there without a card. */
    CHECK(dd->DDSysInit() == 0, "DDSysInit with an empty reader");

    uint16_t drive = 0x7777;
    standInClearLog();
    uint32_t status = dd->DDSysDrive(0, &drive);
    CHECK(status == 0x1002 && drive == 0x7777, "DDSysDrive with no card: %#x, drive %#x; expected 0x1002, drive kept",
          status, drive);
    /* The reader's drive answers who it is, and READ CAPACITY(10) with a
     * check condition, but gives no geometry. */
    EXPECT_REQUESTS("DDSysDrive with no card", propertyQuery(), capacityRequest(),
                    failing(geometryRequest(), STATUS_NO_MEDIA));

    /* No drive found: the drive ID is still 0, whose path opens nothing. */
    Identity id, untouched;
    memset(&id, UNTOUCHED, sizeof id);
    memset(&untouched, UNTOUCHED, sizeof untouched);
    standInClearLog();
    status = ferrocardIdentify(dd, &id);
    CHECK(status == 0x12FF && !memcmp(&id, &untouched, sizeof id),
          "DDIdentify with no drive: %#x, or an out-value written", status);
    expectNothingSent("DDIdentify with no drive");

    /* Neither question can be asked: the check fails, and the card may be
     * write-protected for all anyone knows, so writes stay refused. */
    uint16_t cardStatus = 0;
    standInClearLog();
    status = dd->DDChkSDCard(0, &cardStatus);
    CHECK(status == 0x12FF && cardStatus == 0x0001, "DDChkSDCard with no card: %#x, status %#x", status, cardStatus);
    EXPECT_REQUESTS("DDChkSDCard with no card", failing(miniportPacket(0xA0000038, 4, NULL, 0), STATUS_NOT_READY),
                    failing(miniportPacket(0xA0000068, 4, NULL, 0), STATUS_NOT_READY));
    writesRefused(dd, "with no card");

    /* The card goes in: the same call finds its drive. */
    card.present = 1;
    setCard(&card);
    standInClearLog();
    status = dd->DDSysDrive(0, &drive);
    CHECK(status == 0 && drive == STAND_IN_DRIVE_NUMBER, "DDSysDrive once the card is in: %#x, drive %u", status,
          drive);
    EXPECT_REQUESTS("DDSysDrive once the card is in", propertyQuery(), capacityRequest(), geometryRequest());

    /* And out again: DDIdentify probes the drive afresh and finds no
     * geometry; the class of the last successful probe stays. */
    card.present = 0;
    setCard(&card);
    memset(&id, UNTOUCHED, sizeof id);
    standInClearLog();
    status = ferrocardIdentify(dd, &id);
    CHECK(status == 0x12FF && !memcmp(&id, &untouched, sizeof id),
          "DDIdentify once the card is out: %#x, or an out-value written", status);
    EXPECT_REQUESTS("DDIdentify once the card is out", propertyQuery(), capacityRequest(),
                    failing(geometryRequest(), STATUS_NO_MEDIA));
    uint32_t capacityClass = 0;
    status = dd->DDSecureIdentify(&capacityClass);
    CHECK(status == 0 && capacityClass == 20480, "DDSecureIdentify once the card is out: %#x, class %u", status,
          capacityClass);
}

/* Both writes refused, with nothing sent: not a command, not even an open
 * of the drive. */
static void writesRefused(const Ferrocard* dd, const char* when) {
    uint8_t data[512];
    memset(data, 0x5A, sizeof data);
    char call[96];
    standInClearLog();
    uint32_t secure = dd->DDSecureWrite(data, 1);
    uint32_t sectors = dd->DDWritePT(data, 1, 0);
    snprintf(call, sizeof call, "DDSecureWrite and DDWritePT %s", when);
    CHECK(secure == 0x1005 && sectors == 0x1005, "%s: %#x and %#x, expected 0x1005 twice", call, secure, sectors);
    expectNothingSent(call);
}

void writeProtectedScenario(const Ferrocard* dd) {
    if (!openCard(dd, 0))
        return;
    writesRefused(dd, "before any card check");

    StandInCard card;
    standInDefaultCard(&card);
    card.writeProtectAnswer = 1;
    setCard(&card);
    uint16_t cardStatus = 0;
    uint32_t status = dd->DDChkSDCard(STAND_IN_DRIVE_NUMBER, &cardStatus);
    CHECK(status == 0 && cardStatus == 0x0003, "DDChkSDCard, a write-protected card: %#x, status %#x", status,
          cardStatus);
    writesRefused(dd, "on a write-protected card");

    /* Only an answer of exactly 1 protects: 2 lets the writes through. */
    card.writeProtectAnswer = 2;
    setCard(&card);
    status = dd->DDChkSDCard(STAND_IN_DRIVE_NUMBER, &cardStatus);
    CHECK(status == 0 && cardStatus == 0x0001, "DDChkSDCard, a card answering 2: %#x, status %#x", status, cardStatus);
    uint8_t data[512];
    memset(data, 0x5A, sizeof data);
    standInClearLog();
    status = dd->DDSecureWrite(data, 1);
    CHECK(status == 0, "DDSecureWrite once the card is writable: %#x", status);
    EXPECT_REQUESTS("DDSecureWrite once the card is writable", addressSet(0, 1),
                    miniportPacket(0xA0000060, 512, data, 512));
}

void cardKindsScenario(const Ferrocard* dd) {
    /* CSD bytes 7 to 9 hold C_SIZE (bits 69..48 of a high-capacity card's
     * register); the rest is the default card's. */
    static const struct {
        const char* card;
        uint32_t writeProtect, highCapacity;
        uint8_t r7, r8, r9;
        uint16_t status; /* DDChkSDCard's status word */
        uint16_t Csize;
        uint8_t CsizeMult;
    } cards[] = {
        {"standard, 1 GB", 0, 0, 0xC4, 0xF6, 0xDB, 0x0001, 3859, 7},
        {"standard, write-protected", 1, 0, 0xC4, 0xF6, 0xDB, 0x0003, 3859, 7},
        {"high capacity, C_SIZE 15159", 0, 1, 0x00, 0x3B, 0x37, 0x0005, 15159, 0},
        {"high capacity, C_SIZE 65535 (32 GB)", 0, 1, 0x00, 0xFF, 0xFF, 0x0005, 65535, 0},
        {"high capacity, C_SIZE 65536", 0, 1, 0x01, 0x00, 0x00, 0x0011, 0, 0},
        {"extended, C_SIZE 121151, top bits of byte 7 set", 0, 1, 0xC1, 0xD9, 0x3F, 0x0011, 0xD93F, 0},
        {"high capacity, write-protected", 1, 1, 0x00, 0x3B, 0x37, 0x0007, 15159, 0},
    };
    if (!openCard(dd, 0))
        return;
    for (size_t i = 0; i < sizeof cards / sizeof cards[0]; ++i) {
        StandInCard card;
        standInDefaultCard(&card);
        card.writeProtectAnswer = cards[i].writeProtect;
        card.highCapacityAnswer = cards[i].highCapacity;
        card.csd[7] = cards[i].r7;
        card.csd[8] = cards[i].r8;
        card.csd[9] = cards[i].r9;
        setCard(&card);

        char call[128];
        snprintf(call, sizeof call, "DDChkSDCard, %s", cards[i].card);
        uint16_t cardStatus = 0;
        standInClearLog();
        uint32_t status = dd->DDChkSDCard(STAND_IN_DRIVE_NUMBER, &cardStatus);
        CHECK(status == 0 && cardStatus == cards[i].status, "%s: %#x, status %#x, expected %#x", call, status,
              cardStatus, cards[i].status);
        if (cards[i].highCapacity)
            EXPECT_REQUESTS(call, miniportPacket(0xA0000038, 4, NULL, 0), miniportPacket(0xA0000068, 4, NULL, 0),
                            miniportPacket(0xA000002C, 16, NULL, 0));
        else
            EXPECT_REQUESTS(call, miniportPacket(0xA0000038, 4, NULL, 0), miniportPacket(0xA0000068, 4, NULL, 0));

        snprintf(call, sizeof call, "DDIdentify, %s", cards[i].card);
        Identity got, want = {1984512, 128, 984, 32, 512, 63, 9, cards[i].Csize, cards[i].CsizeMult, 0, 0};
        memset(&got, UNTOUCHED, sizeof got);
        CHECK(ferrocardIdentify(dd, &got) == 0, "%s failed", call);
        expectIdentity(call, &got, &want);
    }
}
