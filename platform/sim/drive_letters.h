// Drive letters on the simulated machine: a disk drive device object behind
// each "\\.\X:" name that has a drive. Opening a letter without one fails with
// ERROR_FILE_NOT_FOUND, as on Windows.
//
// Letters A to Z are accepted (A and B too, so that a test can show they are
// never tried); anything else throws std::invalid_argument.
#pragma once

#include "platform/sim/disk_drive.h"
#include "platform/sim/machine.h"

#include <memory>
#include <optional>
#include <string>

namespace sim {

// "\\.\X:" for `letter`.
std::string drivePath(char letter);

// Puts `drive` at `letter`, in place of what was there; answers it.
std::shared_ptr<DiskDrive> putDrive(Machine& machine, char letter, std::shared_ptr<DiskDrive> drive);
// A disk of any maker at `letter`, with its medium (none: an empty reader).
std::shared_ptr<DiskDrive> putDisk(Machine& machine, char letter, DriveIdentity identity,
                                   std::optional<DiskMedium> medium);
void removeDrive(Machine& machine, char letter);
bool hasDrive(Machine& machine, char letter);

// Drives of other makers that a machine usually has, or that a user plugs in.
namespace drives {
// The system disk: an ATA disk, whose descriptor has no vendor string (offset
// 0) and a product string of maker and model; 500 GB, fixed.
DriveIdentity systemDisk();
DiskMedium systemDiskMedium();
// A USB flash drive: removable, SCSI strings of its own maker.
DriveIdentity usbStick();
DiskMedium usbStickMedium();
// Another maker's SD reader: its product string begins "SD" too.
DriveIdentity otherMakersSdReader();

// The system disk at `letter`.
std::shared_ptr<DiskDrive> putSystemDisk(Machine& machine, char letter = 'C');
} // namespace drives

} // namespace sim
