#include "ferrocard_api.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

/* GetProcAddress's answer as a plain address, to be given its real type. */
static void* find(HMODULE module, const char* name, int* missing) {
    void* f = (void*)GetProcAddress(module, name);
    if (!f) {
        printf("Ferrocard.dll has no export %s\n", name);
        ++*missing;
    }
    return f;
}

int ferrocardLoad(Ferrocard* dd) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    char* slash = n && n < sizeof path ? strrchr(path, '\\') : NULL;
    if (!slash || (size_t)(slash + 1 - path) + sizeof "Ferrocard.dll" > sizeof path)
        return 0;
    strcpy(slash + 1, "Ferrocard.dll");
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        printf("LoadLibraryA(%s): error %lu\n", path, GetLastError());
        return 0;
    }
    int missing = 0;
    dd->DDSysInit = (DDSysInit_fn)find(module, "DDSysInit", &missing);
    dd->DDSysFini = (DDSysFini_fn)find(module, "DDSysFini", &missing);
    dd->DDFini = (DDFini_fn)find(module, "DDFini", &missing);
    dd->DDSysDrive = (DDSysDrive_fn)find(module, "DDSysDrive", &missing);
    dd->DDChkSDCard = (DDChkSDCard_fn)find(module, "DDChkSDCard", &missing);
    dd->DDIdentify = (DDIdentify_fn)find(module, "DDIdentify", &missing);
    dd->DDSecureIdentify = (DDSecureIdentify_fn)find(module, "DDSecureIdentify", &missing);
    dd->DDSecureRead = (DDSecureRead_fn)find(module, "DDSecureRead", &missing);
    dd->DDSecureWrite = (DDSecureWrite_fn)find(module, "DDSecureWrite", &missing);
    dd->DDReadPT = (DDReadPT_fn)find(module, "DDReadPT", &missing);
    dd->DDWritePT = (DDWritePT_fn)find(module, "DDWritePT", &missing);
    dd->DDReadMKB = (DDReadMKB_fn)find(module, "DDReadMKB", &missing);
    dd->DDGetMID = (DDGetMID_fn)find(module, "DDGetMID", &missing);
    dd->DDSetChallenge = (DDSetChallenge_fn)find(module, "DDSetChallenge", &missing);
    dd->DDGetChallenge = (DDGetChallenge_fn)find(module, "DDGetChallenge", &missing);
    dd->DDSetResponse = (DDSetResponse_fn)find(module, "DDSetResponse", &missing);
    dd->DDGetResponse = (DDGetResponse_fn)find(module, "DDGetResponse", &missing);
    dd->DDChangeSA = (DDChangeSA_fn)find(module, "DDChangeSA", &missing);
    return missing == 0;
}

uint32_t ferrocardIdentify(const Ferrocard* dd, Identity* id) {
    return dd->DDIdentify(&id->noSectors, &id->erasesize, &id->cylinders, &id->noHeads, &id->bytesPerSector,
                          &id->sectorsPerTrack, &id->readBlLen, &id->Csize, &id->CsizeMult, &id->reserved1,
                          &id->reserved2);
}
