#include "platform/sim/card_catalogue.h"

#include <algorithm>
#include <utility>

namespace sim::cards {

namespace {

// READ CAPACITY(10) cannot name a block beyond 32 bits.
constexpr std::uint64_t kLastAddressLimit = 0xFFFFFFFFull;

// Every catalogue card answers the secure commands with these.
void usualSecureAnswers(CardRegisters& r) {
    r.mediaId = {0x4D, 0x49, 0x44, 0x30, 0x31, 0x32, 0x33, 0x34};
    r.challenge = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8};
    r.response = {0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58};
}

} // namespace

DiskGeometry removableGeometry(std::uint64_t sectors) {
    return DiskGeometry{static_cast<std::int64_t>(sectors / (kTracksPerCylinder * kSectorsPerTrack)),
                        kTracksPerCylinder, kSectorsPerTrack, DiskDrive::kSectorBytes};
}

MemoryCard fromCsd(std::string name, const CsdFields& fields, bool writeProtectSwitch) {
    MemoryCard card;
    card.name = std::move(name);
    card.registers.csd = encodeCsd(fields);
    usualSecureAnswers(card.registers);
    card.registers.highCapacityAnswer = fields.csdStructure == csd::kVersion2 ? 1 : 0;
    card.registers.writeProtectAnswer = writeProtectSwitch || fields.permWriteProtect || fields.tmpWriteProtect ? 1 : 0;
    const std::uint64_t sectors = fields.sectors();
    card.lastBlockAddress = static_cast<std::uint32_t>(std::min(sectors - 1, kLastAddressLimit));
    card.geometry = removableGeometry(sectors);
    return card;
}

MemoryCard standard128Mb() {
    return fromCsd("SDSC 128 MB, 512-byte blocks", CsdFields::standard(9, 3855, 4));
}

MemoryCard standard992Mb() {
    return fromCsd("SDSC 992 MB, 512-byte blocks", CsdFields::standard(9, 3875, 7));
}

MemoryCard standard1Gb() {
    return fromCsd("SDSC 1 GB, 512-byte blocks", CsdFields::standard(9, 3859, 7));
}

MemoryCard standard1GbWriteProtected() {
    CsdFields f = CsdFields::standard(9, 3859, 7);
    f.tmpWriteProtect = true;
    return fromCsd("SDSC 1 GB, write-protected", f);
}

// The register of a SanDisk 2 GB card as Linux read it (sysfs csd), field by
// field.
MemoryCard standard2Gb() {
    CsdFields f = CsdFields::standard(10, 3876, 7);
    f.vddRCurrMin = 7;
    f.vddWCurrMin = 7;
    f.eraseBlkEn = true;
    f.sectorSize = 31;
    f.wpGrpSize = 127;
    return fromCsd("SDSC 2 GB, 1024-byte blocks", f);
}

MemoryCard standard4Gb() {
    return fromCsd("SDSC 4 GB, 2048-byte blocks", CsdFields::standard(11, 3847, 7));
}

MemoryCard high4Gb() {
    return fromCsd("SDHC 4 GB", CsdFields::high(7529));
}

MemoryCard high8Gb() {
    return fromCsd("SDHC 8 GB", CsdFields::high(15159));
}

MemoryCard high32Gb() {
    return fromCsd("SDHC 32 GB, C_SIZE 65535", CsdFields::high(65535));
}

MemoryCard extended32Gb() {
    return fromCsd("SDXC 32 GB, C_SIZE 65536", CsdFields::high(65536));
}

MemoryCard extended64Gb() {
    return fromCsd("SDXC 64 GB", CsdFields::high(121151));
}

MemoryCard extended128Gb() {
    return fromCsd("SDXC 128 GB", CsdFields::high(239071));
}

MemoryCard extended2Tb() {
    return fromCsd("SDXC 2 TB, C_SIZE 0x3FFEFF", CsdFields::high(0x3FFEFF));
}

std::vector<MemoryCard> all() {
    return {standard128Mb(), standard992Mb(), standard1Gb(),  standard1GbWriteProtected(),
            standard2Gb(),   standard4Gb(),   high4Gb(),      high8Gb(),
            high32Gb(),      extended32Gb(),  extended64Gb(), extended128Gb(),
            extended2Tb()};
}

} // namespace sim::cards
