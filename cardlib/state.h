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
    // Whether that request answered an address: it succeeded, with GOOD
    // status, below the 0xFFFFFFFF that sends a caller to READ CAPACITY(16).
    // Finding the drive does not need it; reporting its size does.
    bool capacityRead;
    uint32_t number; // 1..26 for A..Z: the drive the last successful probe opened
};

struct LibraryState {
    HANDLE controller; // invalid until DDSysInit; null when its open failed
    char controllerPath[kControllerPathSize];
    DriveRecord drive;
    uint16_t driveId;        // the drive DDSysDrive found
    // Set until a card check clears it, and again whenever a check could
    // not ask the card: writes are then refused as for a write-protected card.
    uint32_t writeProtected;
    uint32_t highCapacity;
};

LibraryState& library();

// Back to the state at load, for tests that start the library afresh. The
// controller handle is forgotten, not closed: it belongs to the machine that
// opened it.
void resetLibraryState();

} // namespace ferrocard
