// DDIdentify: the card's size, geometry and CSD size fields, from the drive
// probe and the CSD read.
#pragma once

#include <stdint.h>

namespace ferrocard {

constexpr uint32_t kCsdSize = 16;

// Reads the CSD register into `csd`; the 16 payload bytes are copied
// whatever the outcome (zeros unless the driver answered). True on success.
bool readCsd(uint8_t* csd);

struct Identity {
    uint32_t noSectors;
    uint32_t erasesize;
    uint16_t cylinders;
    uint16_t noHeads;
    uint16_t bytesPerSector;
    uint16_t sectorsPerTrack;
    uint8_t readBlLen;
    uint16_t Csize;
    uint8_t CsizeMult;
};

// Probes the drive of DDSysDrive and reads the CSD; 0 with `identity`
// filled, or the command-failed status with it untouched.
uint32_t identify(Identity& identity);

// The fields of a CSD image; high capacity selects the Csize layout.
void decodeCsd(const uint8_t* csd, bool highCapacity, Identity& identity);

} // namespace ferrocard
