/* An SD application as an outsider writes it: C, the public header, and
 * Ferrocard.dll loaded from its own folder with LoadLibraryA. With no
 * controller on the machine it checks every export by name and by ordinal
 * and the answers of the calls that need no card. Prints "N passed, N
 * failed" and exits nonzero on a failure. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Ferrocard.h"

static int passed, failed;

#define CHECK(condition, ...)                                                                                          \
    do {                                                                                                               \
        if (condition) {                                                                                               \
            ++passed;                                                                                                  \
        } else {                                                                                                       \
            ++failed;                                                                                                  \
            printf("%s:%d: failed: ", __FILE__, __LINE__);                                                             \
            printf(__VA_ARGS__);                                                                                       \
            printf("\n");                                                                                              \
        }                                                                                                              \
    } while (0)

static const char* const kExports[22] = {
    "DDSysInit",  "DDSysFini",        "DDInit",         "DDFini",         "DDSysDrive",    "DDChkSDCard",
    "DDIdentify", "DDSecureIdentify", "DDSecureRead",   "DDSecureWrite",  "DDReadPT",      "DDWritePT",
    "DDReadMKB",  "DDGetMID",         "DDSetChallenge", "DDGetChallenge", "DDSetResponse", "DDGetResponse",
    "DDChangeSA", "DDLockDrive",      "DDUnlockDrive",  "DllMain"};

/* GetProcAddress's answer as a plain address, to be given its real type. */
static void* byName(HMODULE module, const char* name) {
    return (void*)GetProcAddress(module, name);
}

/* Calls a no-argument export through a pointer that passes three
 * arguments: the caller cleans the stack, so the export cannot tell. */
typedef uint32_t(FERROCARD_CALL* ThreeArguments)(int, int, int);

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "Ferrocard.dll";
    HMODULE module = LoadLibraryA(path);
    CHECK(module != NULL, "LoadLibraryA(%s): error %lu", path, GetLastError());
    if (!module) {
        printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }

    for (int i = 0; i < 22; ++i) {
        void* named = byName(module, kExports[i]);
        void* numbered = (void*)GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        CHECK(named != NULL && named == numbered, "%s: by name %p, by ordinal %d %p", kExports[i], named, i + 1,
              numbered);
    }
    CHECK(GetProcAddress(module, MAKEINTRESOURCEA(23)) == NULL, "an export at ordinal 23");
    CHECK(byName(module, "DDInit") == byName(module, "DDLockDrive") &&
              byName(module, "DDInit") == byName(module, "DDUnlockDrive"),
          "DDInit, DDLockDrive and DDUnlockDrive are not one function");

    DDSysInit_fn sysInit = (DDSysInit_fn)byName(module, "DDSysInit");
    DDChangeSA_fn changeSa = (DDChangeSA_fn)byName(module, "DDChangeSA");
    DDSecureWrite_fn secureWrite = (DDSecureWrite_fn)byName(module, "DDSecureWrite");
    DDSecureIdentify_fn secureIdentify = (DDSecureIdentify_fn)byName(module, "DDSecureIdentify");
    DDSysDrive_fn sysDrive = (DDSysDrive_fn)byName(module, "DDSysDrive");
    DDChkSDCard_fn checkCard = (DDChkSDCard_fn)byName(module, "DDChkSDCard");
    DDWritePT_fn writePt = (DDWritePT_fn)byName(module, "DDWritePT");
    const char* const trivial[] = {"DDInit", "DDLockDrive", "DDUnlockDrive", "DDFini", "DDSysFini"};
    uint8_t block[512];
    uint32_t status;
    memset(block, 0x5A, sizeof block);

    CHECK((status = sysInit()) == FERROCARD_E_NO_CONTROLLER, "DDSysInit: %#x", (unsigned)status);
    CHECK((status = changeSa()) == FERROCARD_E_COMMAND_FAILED, "DDChangeSA: %#x", (unsigned)status);
    CHECK((status = secureWrite(block, 1)) == FERROCARD_E_WRITE_PROTECTED, "DDSecureWrite: %#x", (unsigned)status);
    for (int i = 0; i < 5; ++i) {
        DDInit_fn f = (DDInit_fn)byName(module, trivial[i]);
        CHECK((status = f()) == FERROCARD_OK, "%s: %#x", trivial[i], (unsigned)status);
        CHECK((status = ((ThreeArguments)byName(module, trivial[i]))(1, 2, 3)) == FERROCARD_OK,
              "%s with three arguments: %#x", trivial[i], (unsigned)status);
    }
    uint32_t capacityClass = 0xFFFFFFFF;
    CHECK((status = secureIdentify(&capacityClass)) == FERROCARD_OK && capacityClass == 0,
          "DDSecureIdentify: %#x, class %u", (unsigned)status, (unsigned)capacityClass);

    /* No reader on the machine: no letter from C to Z is the card's. */
    uint16_t drive = 0x7777;
    CHECK((status = sysDrive(0, &drive)) == FERROCARD_E_NO_CARD_DRIVE && drive == 0x7777, "DDSysDrive: %#x, drive %u",
          (unsigned)status, drive);
    /* With no controller the card cannot be asked: the check fails, and the
     * card counts as possibly write-protected, so the writes are refused. */
    uint16_t cardStatus = 0;
    CHECK((status = checkCard(0, &cardStatus)) == FERROCARD_E_COMMAND_FAILED && cardStatus == FERROCARD_CARD_CHECKED,
          "DDChkSDCard: %#x, status %#x", (unsigned)status, cardStatus);
    CHECK((status = secureWrite(block, 1)) == FERROCARD_E_WRITE_PROTECTED, "DDSecureWrite after the check: %#x",
          (unsigned)status);
    CHECK((status = writePt(block, 1, 0)) == FERROCARD_E_WRITE_PROTECTED, "DDWritePT after the check: %#x",
          (unsigned)status);

    CHECK(FreeLibrary(module), "FreeLibrary: error %lu", GetLastError());
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
