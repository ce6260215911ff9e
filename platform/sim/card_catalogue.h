// Memory cards to put in the reader: each described by its CSD register (built
// from named fields), and by what the platform then reports for it, the last
// block address and the geometry of a removable disk. The catalogue holds
// cards of every kind a user brings: standard capacity with 512-, 1024- and
// 2048-byte blocks, high capacity up to the 32 GB bound, extended capacity
// above it up to 2 TB, and a write-protected card.
#pragma once

#include "platform/sim/csd.h"
#include "platform/sim/disk_drive.h"
#include "platform/sim/sd_controller.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct MemoryCard {
    std::string name;
    CardRegisters registers;            // what the controller answers about the card
    std::uint32_t lastBlockAddress = 0; // what READ CAPACITY(10) answers
    DiskGeometry geometry;              // what the drive's geometry request answers

    bool highCapacity() const { return registers.highCapacityAnswer == 1; }
    bool writeProtected() const { return registers.writeProtectAnswer == 1; }
    std::uint64_t sectors() const { return static_cast<std::uint64_t>(lastBlockAddress) + 1; }
    // The drive's view of the card.
    DiskMedium medium() const { return DiskMedium{lastBlockAddress, geometry, writeProtected()}; }
};

namespace cards {

// Windows reports a removable disk as 255 tracks of 63 sectors per cylinder,
// with as many whole cylinders as the sectors fill.
constexpr DWORD kTracksPerCylinder = 255;
constexpr DWORD kSectorsPerTrack = 63;
DiskGeometry removableGeometry(std::uint64_t sectors);

// A card from its CSD fields: the high-capacity answer follows CSD_STRUCTURE,
// the write-protect answer the switch or either write-protect bit, the last
// block address and the geometry the user area. Media identifier, challenge
// and response are the reader's usual ones.
MemoryCard fromCsd(std::string name, const CsdFields& fields, bool writeProtectSwitch = false);

// Standard capacity (CSD 1.0).
MemoryCard standard128Mb(); // 512-byte blocks, 246,784 sectors
MemoryCard standard992Mb(); // 512-byte blocks, 1,984,512 sectors: 123 x 255 x 63
MemoryCard standard1Gb();   // the reader's default; image bytes 5..11 are 59 83 C4 F6 DB BF EF
MemoryCard standard1GbWriteProtected();
MemoryCard standard2Gb(); // 1024-byte blocks; a SanDisk card's register
MemoryCard standard4Gb(); // 2048-byte blocks
// High capacity (CSD 2.0, C_SIZE + 1 at most 65536).
MemoryCard high4Gb();  // C_SIZE 7529
MemoryCard high8Gb();  // C_SIZE 15159: image bytes 7..9 are 00 3B 37
MemoryCard high32Gb(); // C_SIZE 65535, exactly 32 GB: the bound
// Extended capacity (CSD 2.0, C_SIZE + 1 above 65536).
MemoryCard extended32Gb();  // C_SIZE 65536, one unit above the bound
MemoryCard extended64Gb();  // C_SIZE 121151: image bytes 7..9 are 01 D9 3F
MemoryCard extended128Gb(); // C_SIZE 239071, more than 16 bits; a Kingston card's register
MemoryCard extended2Tb();   // C_SIZE 0x3FFEFF, the largest: cylinders above 65535

// Every card above, in that order.
std::vector<MemoryCard> all();

} // namespace cards
} // namespace sim
