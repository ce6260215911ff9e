// What the card library's answers must satisfy, whatever the drive and the
// controller said: DDIdentify's eleven values against the drive record they
// came from, and DDChkSDCard's status word against the card's flags.
#pragma once

#include "checks.h"

#include "Ferrocard.h"
#include "cardlib/drive_probe.h"
#include "cardlib/state.h"

#include <cstdint>

namespace fuzz {

inline bool isCapacityClass(std::uint32_t value) {
    return value == 0 || ferrocard::capacityClassOfValue(value).value == value;
}

// DDIdentify's out-values, each preset to a value no answer has, so that
// anything written on failure shows.
struct Identity {
    std::uint32_t status = 0;
    std::uint32_t noSectors = 0xA5A5A5A5, erasesize = 0xA5A5A5A5;
    std::uint16_t cylinders = 0xA5A5, heads = 0xA5A5, bytesPerSector = 0xA5A5, sectorsPerTrack = 0xA5A5, csize = 0xA5A5;
    std::uint8_t readBlLen = 0xA5, csizeMult = 0xA5, reserved1 = 0xA5, reserved2 = 0xA5;
};

inline Identity identify() {
    Identity i;
    i.status = DDIdentify(&i.noSectors, &i.erasesize, &i.cylinders, &i.heads, &i.bytesPerSector, &i.sectorsPerTrack,
                          &i.readBlLen, &i.csize, &i.csizeMult, &i.reserved1, &i.reserved2);
    return i;
}

inline void requireIdentityAnswers(const Identity& i) {
    require(i.status == FERROCARD_OK || i.status == FERROCARD_E_COMMAND_FAILED, "DDIdentify answers 0 or 0x12FF");
    if (i.status != FERROCARD_OK) {
        require(i.noSectors == 0xA5A5A5A5 && i.cylinders == 0xA5A5 && i.reserved2 == 0xA5,
                "DDIdentify writes nothing when it fails");
        return;
    }
    const ferrocard::LibraryState& s = ferrocard::library();
    require(s.drive.capacityClass != 0 && isCapacityClass(s.drive.capacityClass), "a class of the table");
    const ferrocard::CapacityClass& row = ferrocard::capacityClassOfValue(s.drive.capacityClass);
    require(s.drive.capacityRead && i.noSectors == s.drive.lastBlockAddress + 1 && i.noSectors != 0,
            "noSectors is a last block address READ CAPACITY(10) gave, plus one");
    require(i.heads == row.heads && i.sectorsPerTrack == row.sectorsPerTrack, "heads and sectors by the class");
    require(i.cylinders == static_cast<std::uint16_t>(i.noSectors / i.heads / i.sectorsPerTrack), "cylinders");
    require(i.bytesPerSector == 512, "512 bytes per sector, whatever the drive said");
    require(i.reserved1 == 0 && i.reserved2 == 0, "the reserved values are 0");
    // The CSD fields, bit by bit from the register as the library holds it.
    const std::uint8_t* r = s.drive.csd;
    require(i.readBlLen == (r[5] & 0x0F), "READ_BL_LEN");
    require(i.erasesize == ((((r[10] & 0x3Fu) << 1) | (r[11] >> 7)) + 1), "SECTOR_SIZE plus one");
    if (s.highCapacity) {
        require(i.csize == ((r[8] << 8) | r[9]) && i.csizeMult == 0, "the high-capacity C_SIZE's low 16 bits");
    } else {
        require(i.csize == (((r[6] & 0x03) << 10) | (r[7] << 2) | (r[8] >> 6)), "the standard C_SIZE");
        require(i.csizeMult == (((r[9] & 0x03) << 1) | (r[10] >> 7)), "C_SIZE_MULT");
    }
}

} // namespace fuzz
