/*
 * cardinfo_dynamic: the card's drive and size, with Ferrocard.dll loaded at
 * run time rather than linked. The DLL is loaded by its full path, from this
 * program's own folder: a bare name would be looked for along the search
 * path, where a folder someone else can write may come first. Each function
 * is found by name and given its type from Ferrocard.h.
 *
 * Built in the SDK folder (README.txt), it runs beside Ferrocard.dll, as an
 * administrator:
 *   cl /W4 /I. sample\cardinfo_dynamic.c
 *   x86_64-w64-mingw32-gcc -Wall -Wextra -I. sample/cardinfo_dynamic.c -o cardinfo_dynamic.exe
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Ferrocard.h"

/* GetProcAddress answers a FARPROC. Cast through void (*)(void), which
 * converts to any function pointer type without a -Wcast-function-type
 * warning, to the function's own type. */
#define FIND(dll, name) ((name##_fn)(void (*)(void))GetProcAddress(dll, #name))

static int succeeded(const char* call, uint32_t status) {
    printf("%-11s 0x%04X (%s)\n", call, (unsigned)status, FerrocardStatusText(status));
    return status == FERROCARD_OK;
}

int main(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    char* name = length > 0 && length < sizeof path ? strrchr(path, '\\') : NULL;
    HMODULE dll;
    DDSysInit_fn sysInit;
    DDSysDrive_fn sysDrive;
    DDChkSDCard_fn chkSDCard;
    DDIdentify_fn identify;
    DDFini_fn fini;
    DDSysFini_fn sysFini;
    uint16_t drive = 0, cardStatus = 0, cylinders, noHeads, bytesPerSector, sectorsPerTrack, Csize;
    uint32_t noSectors, erasesize;
    uint8_t readBlLen, CsizeMult, reserved1, reserved2;
    int failed = 1;

    if (!name || (size_t)(name + 1 - path) + sizeof "Ferrocard.dll" > sizeof path) {
        printf("this program's own folder is not known\n");
        return 1;
    }
    memcpy(name + 1, "Ferrocard.dll", sizeof "Ferrocard.dll");
    dll = LoadLibraryA(path);
    if (!dll) {
        printf("%s: cannot be loaded, error %lu\n", path, (unsigned long)GetLastError());
        return 1;
    }
    sysInit = FIND(dll, DDSysInit);
    sysDrive = FIND(dll, DDSysDrive);
    chkSDCard = FIND(dll, DDChkSDCard);
    identify = FIND(dll, DDIdentify);
    fini = FIND(dll, DDFini);
    sysFini = FIND(dll, DDSysFini);
    if (!sysInit || !sysDrive || !chkSDCard || !identify || !fini || !sysFini) {
        printf("%s: not Ferrocard.dll, a function is missing\n", path);
        goto unload;
    }

    if (!succeeded("DDSysInit", sysInit()) || !succeeded("DDSysDrive", sysDrive(0, &drive)) ||
        !succeeded("DDChkSDCard", chkSDCard(drive, &cardStatus)) ||
        !succeeded("DDIdentify", identify(&noSectors, &erasesize, &cylinders, &noHeads, &bytesPerSector,
                                          &sectorsPerTrack, &readBlLen, &Csize, &CsizeMult, &reserved1, &reserved2)))
        goto end;
    printf("  drive %c: holds %lu sectors of %u bytes (%lu MB)\n", 'A' + drive - 1, (unsigned long)noSectors,
           (unsigned)bytesPerSector, (unsigned long)(noSectors / 2048));
    failed = 0;

end:
    succeeded("DDFini", fini());
    succeeded("DDSysFini", sysFini());
unload:
    FreeLibrary(dll);
    return failed;
}
