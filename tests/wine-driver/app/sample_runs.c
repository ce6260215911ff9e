/*
 * The SDK's sample programs against the stand-in: each run as its own
 * process, its output read back and looked for the card's lines. With the
 * default card the sample prints it whole and exits 0; with the reader
 * empty it stops at DDSysDrive, still ends the library's use, and exits 1.
 */
#include "scenarios.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#define OUTPUT_SIZE 8192

/* Runs `program` with its standard output into `output`; answers its exit
 * code, or -1 when it could not be run. */
static long runProgram(const char* program, char* output, size_t size) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    output[0] = '\0';
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process;
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
    BOOL started = CreateProcessA(program, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        printf("  %s: CreateProcess error %lu\n", program, GetLastError());
        CloseHandle(readEnd);
        return -1;
    }
    size_t used = 0;
    DWORD got = 0;
    while (used + 1 < size && ReadFile(readEnd, output + used, (DWORD)(size - 1 - used), &got, NULL) && got)
        used += got;
    output[used] = '\0';
    CloseHandle(readEnd);
    DWORD code = 1;
    WaitForSingleObject(process.hProcess, 30000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (long)code;
}

/* Each line of `wanted` must be in `output`, in that order. */
static void expectLines(const char* run, const char* output, const char* const* wanted) {
    const char* from = output;
    for (; *wanted; ++wanted) {
        const char* at = strstr(from, *wanted);
        CHECK(at != NULL, "%s: no \"%s\" (in order)", run, *wanted);
        if (at)
            from = at + strlen(*wanted);
    }
}

void sampleScenario(const char* kind, const char* program) {
    static const char* const linkedCard[] = {
        "DDSysInit         0x0000 (success)",
        "DDSysDrive        0x0000 (success)",
        "  the card's drive: E:",
        "DDChkSDCard       0x0000 (success)",
        "  card status 0x0001: writable, standard capacity",
        "DDIdentify        0x0000 (success)",
        "  1984512 sectors of 512 bytes (969 MB); 984 cylinders, 32 heads, 63 sectors a track",
        "  CSD: READ_BL_LEN 9, C_SIZE 3859, C_SIZE_MULT 7; erasable sector 128 blocks",
        "  capacity class 20480",
        "DDGetMID          0x0000 (success)",
        "  media identifier: 4D 49 44 30 31 32 33 34",
        "DDReadPT          0x0000 (success)",
        "  protected area, block 0 begins: 01 04 07 0A 0D 10 13 16 19 1C 1F 22 25 28 2B 2E",
        "DDFini            0x0000 (success)",
        "DDSysFini         0x0000 (success)",
        NULL};
    static const char* const linkedEmpty[] = {
        "DDSysInit         0x0000 (success)",
        "DDSysDrive        0x1002 (no card drive: no reader with a card in it)",
        "DDFini            0x0000 (success)",
        "DDSysFini         0x0000 (success)",
        NULL};
    static const char* const dynamicCard[] = {
        "DDSysInit   0x0000 (success)",
        "DDSysDrive  0x0000 (success)",
        "DDChkSDCard 0x0000 (success)",
        "DDIdentify  0x0000 (success)",
        "  drive E: holds 1984512 sectors of 512 bytes (969 MB)",
        "DDFini      0x0000 (success)",
        "DDSysFini   0x0000 (success)",
        NULL};
    static const char* const dynamicEmpty[] = {
        "DDSysInit   0x0000 (success)",
        "DDSysDrive  0x1002 (no card drive: no reader with a card in it)",
        "DDFini      0x0000 (success)",
        "DDSysFini   0x0000 (success)",
        NULL};
    const int linked = strcmp(kind, "dynamic") != 0;
    static char output[OUTPUT_SIZE];

    long code = runProgram(program, output, sizeof output);
    printf("%s", output);
    CHECK(code == 0, "%s with the default card: exit code %ld, expected 0", program, code);
    expectLines("with the default card", output, linked ? linkedCard : dynamicCard);

    StandInCard empty;
    standInDefaultCard(&empty);
    empty.present = 0;
    if (!CHECK(standInSetCard(&empty), "the reader emptied"))
        return;
    code = runProgram(program, output, sizeof output);
    printf("%s", output);
    CHECK(code == 1, "%s with the reader empty: exit code %ld, expected 1", program, code);
    expectLines("with the reader empty", output, linked ? linkedEmpty : dynamicEmpty);
    CHECK(!strstr(output, "DDChkSDCard"), "with the reader empty: it went on after DDSysDrive failed");
}
