// What the exports share for the life of the process: the controller, the
// card's drive as the last probe found it, and the card's two flags. The
// library keeps no lock; callers use it from one thread at a time.
#pragma once

#include "platform/win32.h"

#include <stddef.h>
#include <stdint.h>

namespace ferrocard {

constexpr size_t kControllerPathSize = 512; // at most 511 characters

// The card's drive as the probe and the CSD read left it.
struct DriveRecord {
    uint8_t csd[16];           // byte 0 holds register bits 127..120
    uint32_t capacityClass;    // 0 until a probe succeeds
    uint32_t lastBlockAddress; // from READ CAPACITY(10)
};

struct LibraryState {
    HANDLE controller; // invalid until DDSysInit; null when its open failed
    char controllerPath[kControllerPathSize];
    DriveRecord drive;
    uint32_t driveNumber;    // 1..26 for A..Z: the drive the last successful probe opened
    uint16_t driveId;        // the drive DDSysDrive found
    uint32_t writeProtected; // set until a card check clears it
    uint32_t highCapacity;
};

LibraryState& library();

// Back to the state at load, for tests that start the library afresh. The
// controller handle is forgotten, not closed: it belongs to the machine that
// opened it.
void resetLibraryState();

} // namespace ferrocard
