#include "platform/sim/drive_letters.h"

#include <cctype>
#include <stdexcept>

namespace sim {

namespace {

// 500 GB as drive makers count it, in 512-byte sectors.
constexpr std::uint64_t kSystemDiskSectors = 976773168;
// Fixed disks are reported as 255 heads of 63 sectors too.
constexpr DWORD kHeads = 255;
constexpr DWORD kSectorsPerTrack = 63;
// Bus types the simulated platform's headers do not name.
constexpr STORAGE_BUS_TYPE kBusTypeAta = static_cast<STORAGE_BUS_TYPE>(3);
constexpr STORAGE_BUS_TYPE kBusTypeUsb = static_cast<STORAGE_BUS_TYPE>(7);
// A 16 GB flash drive.
constexpr std::uint64_t kUsbStickSectors = 30310400;

DiskMedium mediumOf(std::uint64_t sectors) {
    return DiskMedium{static_cast<std::uint32_t>(sectors - 1),
                      DiskGeometry{static_cast<std::int64_t>(sectors / (kHeads * kSectorsPerTrack)), kHeads,
                                   kSectorsPerTrack, DiskDrive::kSectorBytes},
                      false};
}

} // namespace

std::string drivePath(char letter) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper < 'A' || upper > 'Z')
        throw std::invalid_argument(std::string("no drive letter '") + letter + "'");
    return std::string("\\\\.\\") + upper + ":";
}

std::shared_ptr<DiskDrive> putDrive(Machine& machine, char letter, std::shared_ptr<DiskDrive> drive) {
    machine.files().attach(drivePath(letter), drive);
    return drive;
}

std::shared_ptr<DiskDrive> putDisk(Machine& machine, char letter, DriveIdentity identity,
                                   std::optional<DiskMedium> medium) {
    return putDrive(machine, letter, std::make_shared<DiskDrive>(std::move(identity), medium));
}

void removeDrive(Machine& machine, char letter) {
    machine.files().detach(drivePath(letter));
}

bool hasDrive(Machine& machine, char letter) {
    return machine.files().attached(drivePath(letter));
}

namespace drives {

DriveIdentity systemDisk() {
    DriveIdentity d;
    d.product = "ST500DM002-1BD142";
    d.revision = "KC45";
    d.serial = "Z3TAXK9P";
    d.busType = kBusTypeAta;
    return d;
}

DiskMedium systemDiskMedium() {
    return mediumOf(kSystemDiskSectors);
}

DriveIdentity usbStick() {
    DriveIdentity d;
    d.vendor = "Kingston";
    d.product = "DataTraveler 3.0";
    d.revision = "PMAP";
    d.serial = "60A44C3FAE22F0C0B9690A2B";
    d.removable = true;
    d.busType = kBusTypeUsb;
    return d;
}

DiskMedium usbStickMedium() {
    return mediumOf(kUsbStickSectors);
}

DriveIdentity otherMakersSdReader() {
    DriveIdentity d;
    d.vendor = "Generic-";
    d.product = "SD/MMC          ";
    d.revision = "1.00";
    d.removable = true;
    d.busType = kBusTypeUsb;
    return d;
}

std::shared_ptr<DiskDrive> putSystemDisk(Machine& machine, char letter) {
    return putDisk(machine, letter, systemDisk(), systemDiskMedium());
}

} // namespace drives

} // namespace sim
