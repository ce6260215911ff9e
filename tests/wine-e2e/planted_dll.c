/* A DLL that anyone could put beside Cardwell.exe under a system DLL's name,
 * built as cfgmgr32.dll and as setupapi.dll for the end-to-end test: loaded,
 * it leaves "<its own path>.loaded" beside itself, and does nothing else. It
 * exports nothing, so a program that imported the real DLL's functions from
 * it would not even start. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    char marker[MAX_PATH + 8];
    DWORD length;
    HANDLE file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcatA(marker, ".loaded");
    file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
