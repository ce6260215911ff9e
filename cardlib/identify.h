// DDSysDrive and DDIdentify: where the card is, and its size, geometry and
// CSD size fields.
#pragma once

#include <stdint.h>

namespace ferrocard {

uint32_t findCardDrive(uint16_t driveIndex, uint16_t* driveId);

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
