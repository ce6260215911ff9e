// The drive probe: opens one drive letter, makes sure it is the maker's SD
// reader with a card in it, and records the card's last block and capacity
// class. The capacity class table maps the size to the class and the class
// to the geometry DDIdentify reports.
#pragma once

#include "cardlib/state.h"

#include <stdint.h>

namespace ferrocard {

constexpr size_t kDrivePathSize = 64;
constexpr uint32_t kFirstCardDrive = 3; // C: (A: and B: are never tried)
constexpr uint32_t kLastDrive = 26;     // Z:

// "\\.\X:" for drive number n (1 = A), in a zero-filled buffer.
void formDrivePath(char (&path)[kDrivePathSize], uint32_t number);

// True when drive `number` is the reader with a card in it; the record's
// capacity class and drive number are then set. Once the drive is known to
// be the reader, its last block address and whether READ CAPACITY(10) gave
// one are recorded too. No handle stays open either way.
bool probeDrive(DriveRecord& record, uint32_t number);

// Whether the open drive's storage device descriptor names the maker's SD
// reader: vendor "Halvex", product beginning "SD".
bool isMakersReader(HANDLE drive);

struct CapacityClass {
    uint64_t maxMb; // the sizes in MB up to this take the row
    uint32_t value;
    uint16_t heads;
    uint16_t sectorsPerTrack;
};

// The row for a size in MB, and the row of a stored class value.
const CapacityClass& capacityClassOfSize(uint64_t sizeMb);
const CapacityClass& capacityClassOfValue(uint32_t value);

} // namespace ferrocard
