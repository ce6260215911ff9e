#include "cardlib/protected_write.h"

#include "cardlib/bytes.h"
#include "cardlib/discovery.h"
#include "cardlib/drive_probe.h"
#include "cardlib/pass_through.h"
#include "cardlib/status.h"
#include "platform/scoped.h"

#include <stddef.h>
#include <string.h>

namespace ferrocard {

namespace {

// The request: the direct pass-through structure, a filler that realigns,
// and the sense area.
struct WriteRequest {
    SCSI_PASS_THROUGH_DIRECT request;
    ULONG filler;
    UCHAR sense[kSenseAreaSize];
};
static_assert(sizeof(void*) != 4 || (sizeof(SCSI_PASS_THROUGH_DIRECT) == 44 && offsetof(WriteRequest, sense) == 48 &&
                                     sizeof(WriteRequest) == 80),
              "the 32-bit write request");

constexpr UCHAR kWrite10 = 0x2A;
constexpr ULONG kWriteTimeoutSeconds = 2000;
constexpr uint32_t kSectorSize = 512;
constexpr DWORD kSettleMs = 60; // after every write that opened the drive
// The last sector WRITE(10)'s 32-bit address names: a write that would go
// past it is refused, not wrapped round to sector 0.
constexpr uint64_t kLastSector = 0xFFFFFFFF;

// The locked WRITE(10) on the open drive; true when the drive took it
// with GOOD status.
bool writeSectors(HANDLE drive, const uint8_t* data, uint16_t secsize, uint32_t offset) {
    // The write goes ahead whether or not the lock was granted.
    DWORD returned = 0;
    DeviceIoControl(drive, FSCTL_LOCK_VOLUME, NULL, 0, NULL, 0, &returned, NULL);

    WriteRequest r;
    memset(&r, 0, sizeof r);
    addressReader(r.request, offsetof(WriteRequest, sense));
    r.request.DataIn = SCSI_IOCTL_DATA_OUT;
    r.request.DataTransferLength = secsize * kSectorSize;
    r.request.TimeOutValue = kWriteTimeoutSeconds;
    r.request.DataBuffer = const_cast<uint8_t*>(data); // the platform reads it in place
    r.request.Cdb[0] = kWrite10;
    storeBe32(r.request.Cdb + 2, offset);
    storeBe16(r.request.Cdb + 7, secsize);
    return DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH_DIRECT, &r, sizeof r, &r, sizeof r, &returned, NULL) &&
           reinterpret_cast<const uint8_t*>(&r)[offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus)] == 0;
}

} // namespace

uint32_t writeProtectedSectors(const uint8_t* data, uint16_t secsize, uint32_t offset) {
    if (library().writeProtected)
        return kWriteProtected;
    if (secsize && (!data || uint64_t(offset) + secsize - 1 > kLastSector))
        return kCommandFailed;
    char path[kDrivePathSize];
    formDrivePath(path, library().drive.number);
    ScopedFile drive(openDevice(path));
    if (!drive)
        return kCommandFailed; // no drive probed yet, or it is gone
    // The letter is written to only while it still names the maker's reader:
    // since the probe, the card may have gone and another disk taken it.
    const bool written = isMakersReader(drive.get()) && writeSectors(drive.get(), data, secsize, offset);
    drive.reset(); // which also releases the lock
    Sleep(kSettleMs);
    return written ? kOk : kCommandFailed;
}

} // namespace ferrocard
