/*
 * An SD application, in C, against the public header and Ferrocard.dll
 * loaded from its own folder, with the card-reader stand-in playing the
 * maker's driver: ferrocard_sd_app SCENARIO.
 */
#include "scenarios.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

double nowMs(void) {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

int openCard(const Ferrocard* dd, int check) {
    uint16_t drive = 0, status = 0;
    int ok = dd->DDSysInit() == 0 && dd->DDSysDrive(0, &drive) == 0 && drive == STAND_IN_DRIVE_NUMBER &&
             (!check || dd->DDChkSDCard(drive, &status) == 0);
    CHECK(ok, "the card: DDSysInit, DDSysDrive%s did not all answer 0", check ? ", DDChkSDCard" : "");
    standInClearLog();
    return ok;
}

void expectIdentity(const char* call, const Identity* got, const Identity* want) {
    printf("  %s: noSectors %u erasesize %u cylinders %u noHeads %u bytesPerSector %u sectorsPerTrack %u "
           "readBlLen %u Csize %u CsizeMult %u reserved %u %u\n",
           call, got->noSectors, got->erasesize, got->cylinders, got->noHeads, got->bytesPerSector,
           got->sectorsPerTrack, got->readBlLen, got->Csize, got->CsizeMult, got->reserved1, got->reserved2);
    CHECK(got->noSectors == want->noSectors && got->erasesize == want->erasesize && got->cylinders == want->cylinders &&
              got->noHeads == want->noHeads && got->bytesPerSector == want->bytesPerSector &&
              got->sectorsPerTrack == want->sectorsPerTrack && got->readBlLen == want->readBlLen &&
              got->Csize == want->Csize && got->CsizeMult == want->CsizeMult && got->reserved1 == want->reserved1 &&
              got->reserved2 == want->reserved2,
          "%s: expected noSectors %u erasesize %u cylinders %u noHeads %u bytesPerSector %u sectorsPerTrack %u "
          "readBlLen %u Csize %u CsizeMult %u reserved %u %u",
          call, want->noSectors, want->erasesize, want->cylinders, want->noHeads, want->bytesPerSector,
          want->sectorsPerTrack, want->readBlLen, want->Csize, want->CsizeMult, want->reserved1, want->reserved2);
}

static const struct {
    const char* name;
    void (*run)(const Ferrocard*);
} kScenarios[] = {
    {"session", sessionScenario},                /* an SD application's session, call by call */
    {"no_card", noCardScenario},                 /* an empty reader, then a card going in */
    {"write_protected", writeProtectedScenario}, /* writes refused with nothing sent */
    {"card_kinds", cardKindsScenario},           /* the status word and size fields of each kind of card */
    {"failures", failuresScenario},              /* the controller and the drive misbehaving */
    {"timings", timingsScenario},                /* the library's time next to Wine's own round trips */
};

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    /* ferrocard_sd_app sample linked|dynamic PROGRAM: the program, not this
     * one, calls the library. */
    if (argc == 4 && !strcmp(argv[1], "sample")) {
        printf("the sample %s, with the stand-in's card\n", argv[3]);
        if (CHECK(standInBegin(), "the stand-in's control device, and the controller in the device tree: error %lu",
                  GetLastError()))
            sampleScenario(argv[2], argv[3]);
        standInEnd();
        return checkSummary();
    }
    const size_t count = sizeof kScenarios / sizeof kScenarios[0];
    size_t which = count;
    for (size_t i = 0; argc == 2 && i < count; ++i)
        if (!strcmp(argv[1], kScenarios[i].name))
            which = i;
    if (which == count) {
        printf("usage: ferrocard_sd_app SCENARIO (or sample linked|dynamic PROGRAM), SCENARIO one of:");
        for (size_t i = 0; i < count; ++i)
            printf(" %s", kScenarios[i].name);
        printf("\n");
        return 2;
    }
    printf("%s, as a %d-bit SD application\n", kScenarios[which].name, (int)sizeof(void*) * 8);
    Ferrocard dd;
    if (CHECK(ferrocardLoad(&dd), "Ferrocard.dll beside the program, with every export") &&
        CHECK(standInBegin(),
              "the stand-in's control device (is the CardReaderStandIn service running?), and the "
              "controller in the device tree: error %lu",
              GetLastError())) {
        kScenarios[which].run(&dd);
    }
    standInEnd();
    return checkSummary();
}
