// The exports: each checks its arguments, runs one operation of the library
// and answers its status code.
#include "Ferrocard.h"
#include "cardlib/card_checks.h"
#include "cardlib/discovery.h"
#include "cardlib/identify.h"
#include "cardlib/protected_write.h"
#include "cardlib/secure_commands.h"
#include "cardlib/state.h"
#include "cardlib/status.h"

using namespace ferrocard;

namespace {

// The controller handle a successful DDSysInit replaces is closed: each
// repeated call would leak one otherwise. Callers rely only on the last one.
void replaceController(HANDLE handle) {
    HANDLE old = library().controller;
    library().controller = handle;
    if (old && old != INVALID_HANDLE_VALUE && old != handle)
        CloseHandle(old);
}

} // namespace

extern "C" {

uint32_t FERROCARD_CALL DDSysInit(void) {
    if (!findController(1))
        return kNoController; // the handle keeps its value
    HANDLE controller = openDevice(library().controllerPath);
    if (controller == INVALID_HANDLE_VALUE) {
        replaceController(NULL);
        return kNoController;
    }
    replaceController(controller);
    return kOk;
}

// The controller stays open until the process ends: commands after this
// still reach it.
uint32_t FERROCARD_CALL DDSysFini(void) {
    return kOk;
}

// Exported also as DDLockDrive and DDUnlockDrive. It reads no arguments, so
// a caller may pass any: the caller cleans the stack.
uint32_t FERROCARD_CALL DDInit(void) {
    return kOk;
}
uint32_t FERROCARD_CALL DDLockDrive(void) PLATFORM_ALIAS_OF("DDInit");
uint32_t FERROCARD_CALL DDUnlockDrive(void) PLATFORM_ALIAS_OF("DDInit");

// Ends the use of the card's drive. The drive side holds nothing between
// calls (every call that opens the drive closes it again), so there is
// nothing to release, and everything stays usable afterwards.
uint32_t FERROCARD_CALL DDFini(void) {
    return kOk;
}

uint32_t FERROCARD_CALL DDSecureIdentify(uint32_t* capacityClass) {
    if (capacityClass)
        *capacityClass = library().drive.capacityClass;
    return kOk;
}

uint32_t FERROCARD_CALL DDSysDrive(uint16_t driveIndex, uint16_t* driveId) {
    return findCardDrive(driveIndex, driveId);
}

uint32_t FERROCARD_CALL DDIdentify(uint32_t* noSectors, uint32_t* erasesize, uint16_t* cylinders, uint16_t* noHeads,
                                   uint16_t* bytesPerSector, uint16_t* sectorsPerTrack, uint8_t* readBlLen,
                                   uint16_t* Csize, uint8_t* CsizeMult, uint8_t* reserved1, uint8_t* reserved2) {
    // Every value has somewhere to go, or nothing is done.
    if (!noSectors || !erasesize || !cylinders || !noHeads || !bytesPerSector || !sectorsPerTrack || !readBlLen ||
        !Csize || !CsizeMult || !reserved1 || !reserved2)
        return kCommandFailed;
    Identity id;
    if (uint32_t status = identify(id))
        return status;
    *noSectors = id.noSectors;
    *erasesize = id.erasesize;
    *cylinders = id.cylinders;
    *noHeads = id.noHeads;
    *bytesPerSector = id.bytesPerSector;
    *sectorsPerTrack = id.sectorsPerTrack;
    *readBlLen = id.readBlLen;
    *Csize = id.Csize;
    *CsizeMult = id.CsizeMult;
    *reserved1 = 0;
    *reserved2 = 0;
    return kOk;
}

uint32_t FERROCARD_CALL DDChkSDCard(uint16_t driveNumber, uint16_t* cardStatus) {
    return checkCard(driveNumber, cardStatus);
}

uint32_t FERROCARD_CALL DDGetMID(uint8_t* mediaId) {
    return getMediaId(mediaId);
}
uint32_t FERROCARD_CALL DDSetChallenge(const uint8_t* challenge) {
    return setChallenge(challenge);
}
uint32_t FERROCARD_CALL DDGetChallenge(uint8_t* challenge) {
    return getChallenge(challenge);
}
uint32_t FERROCARD_CALL DDSetResponse(const uint8_t* response) {
    return setResponse(response);
}
uint32_t FERROCARD_CALL DDGetResponse(uint8_t* response) {
    return getResponse(response);
}
uint32_t FERROCARD_CALL DDChangeSA(void) {
    return changeSecureArea();
}

uint32_t FERROCARD_CALL DDReadMKB(uint8_t* destination, uint16_t count, uint8_t selector, uint16_t firstIndex) {
    return readMediaKeyBlock(destination, count, selector, firstIndex);
}
uint32_t FERROCARD_CALL DDSecureRead(uint8_t* destination, uint16_t count) {
    return secureRead(destination, count);
}
uint32_t FERROCARD_CALL DDSecureWrite(const uint8_t* data, uint16_t count) {
    return secureWrite(data, count);
}
uint32_t FERROCARD_CALL DDWritePT(const uint8_t* data, uint16_t secsize, uint32_t offset) {
    return writeProtectedSectors(data, secsize, offset);
}
uint32_t FERROCARD_CALL DDReadPT(uint8_t* destination, uint16_t count, uint32_t first) {
    return readProtectedArea(destination, count, first);
}

} // extern "C"

// The library's entry routine: loading and unloading touch no state.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    return TRUE;
}
