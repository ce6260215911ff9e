/*
 * An SD application built the way Microsoft's toolchain builds one: compiled
 * for the MSVC target, linked by an MSVC-compatible linker against
 * Ferrocard.lib, with no C runtime and nothing of this tree but Ferrocard.h.
 * It prints DDSysInit's status: the one call shows that the import
 * library's names (decorated the C way on x86) reach the DLL's exports.
 */
#include "Ferrocard.h"

/* The three system calls it needs, declared as the SDK declares them. */
#define WINAPI __stdcall
__declspec(dllimport) void* WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int WINAPI WriteFile(void* file, const void* data, unsigned long size, unsigned long* written,
                                           void* overlapped);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned int code);

#define STD_OUTPUT_HANDLE ((unsigned long)-11)

void start(void)
{
    char line[] = "DDSysInit: 0x0000\r\n";
    const char digits[] = "0123456789ABCDEF";
    uint32_t status = DDSysInit();
    unsigned long written;
    int i;
    for (i = 0; i < 4; ++i)
        line[13 + i] = digits[(status >> (12 - 4 * i)) & 0xF];
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, 0);
    ExitProcess(0);
}
