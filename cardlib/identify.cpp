#include "cardlib/identify.h"

#include "cardlib/card_checks.h"
#include "cardlib/drive_probe.h"
#include "cardlib/state.h"
#include "cardlib/status.h"

namespace ferrocard {

namespace {
constexpr uint16_t kBytesPerSector = 512;
}

uint32_t findCardDrive(uint16_t driveIndex, uint16_t* driveId) {
    if (driveIndex != 0 || !driveId)
        return kBadDrive;
    // The lowest letter with the reader and a card in it wins.
    for (uint32_t n = kFirstCardDrive; n <= kLastDrive; ++n)
        if (probeDrive(library().drive, n)) {
            *driveId = static_cast<uint16_t>(n);
            library().driveId = static_cast<uint16_t>(n);
            return kOk;
        }
    return kNoCardDrive; // the drive ID stays what it was
}

void decodeCsd(const uint8_t* r, bool highCapacity, Identity& id) {
    id.erasesize = (((r[10] & 0x3Fu) << 1) | (r[11] >> 7)) + 1; // SECTOR_SIZE + 1
    id.readBlLen = r[5] & 0x0F;                                 // READ_BL_LEN
    if (highCapacity) {
        id.Csize = static_cast<uint16_t>((r[8] << 8) | r[9]); // the low 16 bits of the 22-bit C_SIZE
        id.CsizeMult = 0;
    } else {
        id.Csize = static_cast<uint16_t>(((r[6] & 0x03) << 10) | (r[7] << 2) | (r[8] >> 6));
        id.CsizeMult = static_cast<uint8_t>(((r[9] & 0x03) << 1) | (r[10] >> 7));
    }
}

uint32_t identify(Identity& identity) {
    LibraryState& s = library();
    if (!probeDrive(s.drive, s.driveId) || !readCsd(s.drive.csd))
        return kCommandFailed;
    Identity id;
    id.noSectors = s.drive.lastBlockAddress + 1;
    id.bytesPerSector = kBytesPerSector; // whatever the platform reported
    const CapacityClass& row = capacityClassOfValue(s.drive.capacityClass);
    id.noHeads = row.heads;
    id.sectorsPerTrack = row.sectorsPerTrack;
    // The high-capacity flag of the last card check: DDIdentify does not ask.
    decodeCsd(s.drive.csd, s.highCapacity != 0, id);
    id.cylinders = static_cast<uint16_t>(id.noSectors / id.noHeads / id.sectorsPerTrack);
    identity = id;
    return kOk;
}

} // namespace ferrocard
