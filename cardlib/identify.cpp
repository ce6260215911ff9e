#include "cardlib/identify.h"

#include "cardlib/drive_probe.h"
#include "cardlib/state.h"
#include "cardlib/status.h"
#include "cardlib/transport.h"

#include <string.h>

namespace ferrocard {

namespace {
constexpr uint16_t kBytesPerSector = 512;
}

bool readCsd(uint8_t* csd) {
    uint8_t packet[kSmallPacketSize] = {};
    setPayloadLength(packet, kCsdSize);
    DWORD returned = 0;
    BOOL sent = sendCommand(library().controller, Command::ReadCsd, packet, &returned);
    memcpy(csd, payloadOf(packet), kCsdSize);
    return sent != FALSE;
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
    // A size READ CAPACITY(10) did not give is not reported as one.
    if (!probeDrive(s.drive, s.driveId) || !s.drive.capacityRead || !readCsd(s.drive.csd))
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
