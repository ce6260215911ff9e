/*
 * cardinfo: what Ferrocard tells about the card in the reader, calling it in
 * the order Ferrocard.h gives and printing each status in words. The first
 * call that fails ends the run, after the clean-up, with exit code 1.
 *
 * Built in the SDK folder (README.txt), it runs beside Ferrocard.dll, as an
 * administrator:
 *   cl /W4 /I. sample\cardinfo.c Ferrocard.lib
 *   x86_64-w64-mingw32-gcc -Wall -Wextra -I. sample/cardinfo.c -L. -lFerrocard -o cardinfo.exe
 */
#include <stdio.h>

#include "Ferrocard.h"

/* Prints a call's status in words; nonzero when it succeeded. */
static int succeeded(const char* call, uint32_t status) {
    printf("%-17s 0x%04X (%s)\n", call, (unsigned)status, FerrocardStatusText(status));
    return status == FERROCARD_OK;
}

static void printBytes(const char* what, const uint8_t* bytes, size_t count) {
    size_t i;
    printf("  %s:", what);
    for (i = 0; i < count; ++i)
        printf(" %02X", bytes[i]);
    printf("\n");
}

int main(void) {
    uint16_t drive = 0, cardStatus = 0, cylinders, noHeads, bytesPerSector, sectorsPerTrack, Csize;
    uint32_t noSectors, erasesize, capacityClass;
    uint8_t readBlLen, CsizeMult, reserved1, reserved2;
    uint8_t mediaId[8], block[512];
    int failed = 1;

    if (!succeeded("DDSysInit", DDSysInit()))
        goto end; /* no controller: the maker's driver is not bound */
    if (!succeeded("DDSysDrive", DDSysDrive(0, &drive)))
        goto end; /* no card in the reader */
    printf("  the card's drive: %c:\n", 'A' + drive - 1);

    /* Before DDIdentify: the high-capacity answer says how to read the CSD. */
    if (!succeeded("DDChkSDCard", DDChkSDCard(drive, &cardStatus)))
        goto end;
    printf("  card status 0x%04X: %s%s\n", (unsigned)cardStatus,
           cardStatus & FERROCARD_CARD_WRITE_PROTECTED ? "write-protected" : "writable",
           cardStatus & FERROCARD_CARD_EXTENDED_CAPACITY ? ", high capacity above 32 GB"
           : cardStatus & FERROCARD_CARD_HIGH_CAPACITY   ? ", high capacity up to 32 GB"
                                                          : ", standard capacity");

    if (!succeeded("DDIdentify", DDIdentify(&noSectors, &erasesize, &cylinders, &noHeads, &bytesPerSector,
                                            &sectorsPerTrack, &readBlLen, &Csize, &CsizeMult, &reserved1,
                                            &reserved2)))
        goto end;
    printf("  %lu sectors of %u bytes (%lu MB); %u cylinders, %u heads, %u sectors a track\n",
           (unsigned long)noSectors, (unsigned)bytesPerSector, (unsigned long)(noSectors / 2048),
           (unsigned)cylinders, (unsigned)noHeads, (unsigned)sectorsPerTrack);
    printf("  CSD: READ_BL_LEN %u, C_SIZE %u, C_SIZE_MULT %u; erasable sector %lu blocks\n", (unsigned)readBlLen,
           (unsigned)Csize, (unsigned)CsizeMult, (unsigned long)erasesize);

    if (!succeeded("DDSecureIdentify", DDSecureIdentify(&capacityClass)))
        goto end;
    printf("  capacity class %lu\n", (unsigned long)capacityClass);

    if (!succeeded("DDGetMID", DDGetMID(mediaId))) /* up to 20 s when the card does not answer */
        goto end;
    printBytes("media identifier", mediaId, sizeof mediaId);

    /* The protected area's first block. */
    if (!succeeded("DDReadPT", DDReadPT(block, 1, 0)))
        goto end;
    printBytes("protected area, block 0 begins", block, 16);
    failed = 0;

end:
    /* Neither releases anything today; a program calls them all the same. */
    succeeded("DDFini", DDFini());
    succeeded("DDSysFini", DDSysFini());
    return failed;
}
