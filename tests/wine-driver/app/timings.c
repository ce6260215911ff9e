/*
 * How long the calls take under Wine, and how much of it is the library's
 * own: each call is timed through Ferrocard.dll, and next to it the same
 * platform requests sent straight by this program (Wine's own round trips
 * to the stand-in). Printed, not judged: a loaded machine may be slow.
 */
#include "scenarios.h"

#include <windows.h>

#include <setupapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ROUNDS 25
#define BIG_ROUNDS 5
#define BIG 65535u

static const GUID kStoragePort = {0x2accfe60, 0xc130, 0x11d2, {0xb0, 0x82, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

static int ascending(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static double median(double* v, int n) {
    qsort(v, n, sizeof *v, ascending);
    return v[n / 2];
}

static HANDLE openPath(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

/* One miniport request as the library builds it, straight from here. */
static double rawMiniport(HANDLE controller, uint8_t* packet, uint32_t command, uint32_t length) {
    memset(packet, 0, 28);
    packet[0] = 28;
    packet[4] = 'H';
    packet[5] = 'X';
    packet[12] = 15;
    memcpy(packet + 16, &command, 4);
    memcpy(packet + 24, &length, 4);
    DWORD returned = 0;
    const double start = nowMs();
    DeviceIoControl(controller, 0x0004D008, packet, 28 + length, packet, 28 + length, &returned, NULL);
    return nowMs() - start;
}

/* The device-setup walk to the controller's interface path. */
static double rawWalk(void) {
    const double start = nowMs();
    HDEVINFO set = SetupDiGetClassDevsA(&kStoragePort, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    char description[512];
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, NULL, (BYTE*)description,
                                               sizeof description, NULL) ||
            lstrcmpiA(description, STAND_IN_DESCRIPTION))
            continue;
        SP_DEVICE_INTERFACE_DATA iface;
        memset(&iface, 0, sizeof iface);
        iface.cbSize = sizeof iface;
        DWORD required = 0;
        if (SetupDiEnumDeviceInterfaces(set, &device, &kStoragePort, 0, &iface)) {
            SetupDiGetDeviceInterfaceDetailA(set, &iface, NULL, 0, &required, NULL);
            SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = malloc(required);
            if (detail) {
                detail->cbSize = sizeof *detail;
                SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, required, NULL, NULL);
                free(detail);
            }
        }
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return nowMs() - start;
}

static double rawOpenClose(const char* path) {
    const double start = nowMs();
    CloseHandle(openPath(path));
    return nowMs() - start;
}

/* The drive probe's platform requests: open, descriptor, capacity,
 * geometry, close. */
static double rawProbe(void) {
    uint8_t query[12] = {0}, descriptor[2048], capacity[720] = {0}, geometry[24];
    const PassThroughLayout* l = passThroughLayout();
    capacity[0] = (uint8_t)l->length;
    capacity[4] = 1;
    capacity[6] = 10;
    capacity[7] = 24;
    capacity[8] = 1;
    capacity[12] = 192;
    capacity[16] = 2;
    capacity[l->dataAt] = (uint8_t)l->capacityData;
    capacity[l->senseOffsetAt] = (uint8_t)l->capacitySense;
    capacity[l->cdbAt] = 0x25;
    DWORD returned;
    const double start = nowMs();
    HANDLE drive = openPath(STAND_IN_DRIVE_PATH);
    DeviceIoControl(drive, 0x002D1400, query, sizeof query, descriptor, sizeof descriptor, &returned, NULL);
    DeviceIoControl(drive, 0x0004D004, capacity, l->length, capacity, l->capacityOut, &returned, NULL);
    DeviceIoControl(drive, 0x00070000, NULL, 0, geometry, sizeof geometry, &returned, NULL);
    CloseHandle(drive);
    return nowMs() - start;
}

static void row(const char* what, double library, double wine, const char* parts) {
    printf("  %-44s %10.3f %10.3f %10.3f   %s\n", what, library, wine, library - wine, parts);
}

void timingsScenario(const Ferrocard* dd) {
    if (!openCard(dd, 1))
        return;
    HANDLE controller = openPath(STAND_IN_INTERFACE_PATH);
    uint8_t* packet = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 28 + BIG * 512);
    uint8_t* destination = malloc(BIG * 512);
    if (!CHECK(controller != INVALID_HANDLE_VALUE && packet && destination, "the controller, or room for the blocks"))
        return;

    double lib[ROUNDS], walk[ROUNDS], open[ROUNDS], mini[ROUNDS], wine[ROUNDS];
    for (int i = 0; i < ROUNDS; ++i) {
        const double start = nowMs();
        CHECK(dd->DDSysInit() == 0, "DDSysInit");
        lib[i] = nowMs() - start;
        walk[i] = rawWalk();
        open[i] = rawOpenClose(STAND_IN_INTERFACE_PATH);
        mini[i] = rawMiniport(controller, packet, 0xA00000CC, 4);
    }
    printf("  times in ms, median of %d                     library  Wine's own   library's share\n", ROUNDS);
    char parts[160];
    const double walkMs = median(walk, ROUNDS), openMs = median(open, ROUNDS), announceMs = median(mini, ROUNDS);
    snprintf(parts, sizeof parts, "device walk %.3f, 2 opens %.3f, 1 miniport %.3f", walkMs, 2 * openMs, announceMs);
    row("DDSysInit", median(lib, ROUNDS), walkMs + 2 * openMs + announceMs, parts);

    uint8_t bytes[8];
    for (int i = 0; i < ROUNDS; ++i) {
        const double start = nowMs();
        dd->DDGetChallenge(bytes);
        lib[i] = nowMs() - start;
        wine[i] = rawMiniport(controller, packet, 0xA0000040, 8);
    }
    row("one miniport command (DDGetChallenge)", median(lib, ROUNDS), median(wine, ROUNDS), "36-byte packet");

    for (int i = 0; i < ROUNDS; ++i) {
        Identity id;
        const double start = nowMs();
        CHECK(ferrocardIdentify(dd, &id) == 0, "DDIdentify");
        lib[i] = nowMs() - start;
        walk[i] = rawProbe();
        mini[i] = rawMiniport(controller, packet, 0xA000002C, 16);
    }
    const double probeMs = median(walk, ROUNDS), csdMs = median(mini, ROUNDS);
    snprintf(parts, sizeof parts, "drive: open, 3 requests, close %.3f; CSD miniport %.3f", probeMs, csdMs);
    row("DDIdentify", median(lib, ROUNDS), probeMs + csdMs, parts);

    double bigLib[BIG_ROUNDS], bigWine[BIG_ROUNDS];
    for (int i = 0; i < BIG_ROUNDS; ++i) {
        const double start = nowMs();
        CHECK(dd->DDSecureRead(destination, BIG) == 0, "DDSecureRead of 65535 blocks");
        bigLib[i] = nowMs() - start;
        const uint32_t count = BIG; /* from address 0 */
        memset(packet + 28, 0, 4);
        memcpy(packet + 32, &count, 4);
        bigWine[i] = rawMiniport(controller, packet, 0xA0000050, 8);
        bigWine[i] += rawMiniport(controller, packet, 0xA000005C, BIG * 512);
    }
    snprintf(parts, sizeof parts, "address-set and a %u-byte packet, median of %d", 28 + BIG * 512, BIG_ROUNDS);
    row("DDSecureRead of 65535 blocks", median(bigLib, BIG_ROUNDS), median(bigWine, BIG_ROUNDS), parts);

    CloseHandle(controller);
    HeapFree(GetProcessHeap(), 0, packet);
    free(destination);
}
