// A disk drive behind a drive letter ("\\.\E:") as a program sees it through
// the Windows disk stack: the storage device descriptor, SCSI commands passed
// through to the device (READ CAPACITY(10) buffered, WRITE(10) direct), the
// drive geometry, and the volume lock.
//
// Requests are checked as the port and class drivers check them, and refused
// with the errors Windows gives. Each request kind can be made to misbehave
// for tests: fail, answer a chosen SCSI status, or (the descriptor) answer raw
// bytes of the test's choosing.
#pragma once

#include "platform/sim/files.h"
#include "platform/sim/kept_records.h"
#include "platform/sim/pass_through.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct DiskGeometry {
    std::int64_t cylinders = 0;
    DWORD tracksPerCylinder = 0;
    DWORD sectorsPerTrack = 0;
    DWORD bytesPerSector = 0;
};

// What is in the drive: a fixed disk's platters or a memory card.
struct DiskMedium {
    std::uint32_t lastBlockAddress = 0; // what READ CAPACITY(10) answers
    DiskGeometry geometry;              // what IOCTL_DISK_GET_DRIVE_GEOMETRY answers
    bool writeProtected = false;        // WRITE(10) gets DATA PROTECT
};

// Who made the drive and where it sits on its port's bus. The strings go into
// the descriptor as given (SCSI inquiry strings are padded with spaces: vendor
// to 8 characters, product to 16, revision to 4); an empty vendor or serial
// number is absent from the descriptor, its offset 0, as ATA disks report.
struct DriveIdentity {
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
    bool removable = false;
    STORAGE_BUS_TYPE busType = BusTypeScsi;
    UCHAR pathId = 0;
    UCHAR targetId = 0;
    UCHAR lun = 0;
};

enum class DriveRequest {
    Open,          // CreateFileA of the drive letter
    QueryProperty, // IOCTL_STORAGE_QUERY_PROPERTY
    ReadCapacity,  // IOCTL_SCSI_PASS_THROUGH with READ CAPACITY(10)
    Geometry,      // IOCTL_DISK_GET_DRIVE_GEOMETRY
    LockVolume,    // FSCTL_LOCK_VOLUME
    Write,         // IOCTL_SCSI_PASS_THROUGH_DIRECT with WRITE(10)
};

// One WRITE(10) as the drive received it, stored or not.
struct DriveWrite {
    std::uint32_t lba = 0;
    std::uint16_t blocks = 0;
    DWORD transferLength = 0;
    UCHAR scsiStatus = 0;
};

class DiskDrive : public DeviceObject {
  public:
    static constexpr DWORD kSectorBytes = 512;
    // The largest transfer the port takes in one request: a 16-bit block count.
    static constexpr DWORD kMaxTransferLength = 0xFFFF * kSectorBytes;

    explicit DiskDrive(DriveIdentity identity, std::optional<DiskMedium> medium = std::nullopt);

    const DriveIdentity& identity() const { return identity_; }
    // A card goes in or comes out. A new medium starts with no sector written.
    void insertMedium(const DiskMedium& medium);
    void removeMedium();
    bool hasMedium() const;

    // The descriptor this drive answers: STORAGE_DEVICE_DESCRIPTOR, the raw
    // inquiry data, then the strings. A test can take it, spoil it, and give
    // it back through answerRawDescriptor.
    std::vector<BYTE> descriptor() const;

    // Misbehaviour. `times` 0: every request of that kind from now on.
    void failRequest(DriveRequest request, DWORD error, unsigned times = 0);
    // ReadCapacity or Write: the request succeeds with this SCSI status and
    // moves no data (CHECK CONDITION comes with HARDWARE ERROR sense).
    void answerScsiStatus(DriveRequest request, UCHAR status, unsigned times = 0);
    // The property query answers exactly these bytes (the rest of the
    // caller's buffer zero) and reports `returned` bytes, whatever they hold.
    void answerRawDescriptor(std::vector<BYTE> bytes, DWORD returned);
    void answerRawDescriptor(std::vector<BYTE> bytes);
    void clearMisbehaviour();

    // What the tests read back.
    std::vector<BYTE> readSectors(std::uint32_t lba, std::uint32_t count) const; // unwritten sectors read as 0
    std::size_t sectorsStored() const;
    std::vector<DriveWrite> writes() const;
    // A long run keeps only the latest `n` writes in writes().
    void keepWrites(std::size_t n);
    unsigned lockCount() const;   // locks granted so far
    bool locked() const;          // a handle holds the lock now
    unsigned opens() const;       // successful opens so far
    unsigned openHandles() const; // handles open now

    DWORD open(DWORD access, DWORD share) override;
    ControlReply control(const ControlRequest& request) override;
    void close(const void* file) override;

  private:
    struct Rule {
        DWORD error = ERROR_SUCCESS;
        UCHAR scsiStatus = 0;
        unsigned remaining = 0; // 0: every request
    };
    // The rule for `request`, consumed once; none when the request behaves.
    std::optional<Rule> takeRuleLocked(DriveRequest request);
    std::vector<BYTE> descriptorLocked() const;
    ControlReply queryProperty(const ControlRequest& request);
    ControlReply geometry(const ControlRequest& request);
    ControlReply lockVolume(const ControlRequest& request);
    ControlReply passThrough(const ControlRequest& request, bool direct);
    // The commands; each answers the error that fails the request, if any.
    DWORD readCapacity(const scsi::Command& c, scsi::Outcome* o);
    DWORD write(const scsi::Command& c, scsi::Outcome* o);

    const DriveIdentity identity_;
    mutable std::mutex mutex_;
    std::optional<DiskMedium> medium_;
    std::map<std::uint32_t, std::array<BYTE, kSectorBytes>> sectors_;
    KeptRecords<DriveWrite> writes_;
    std::map<DriveRequest, Rule> rules_;
    std::optional<std::vector<BYTE>> rawDescriptor_;
    DWORD rawReturned_ = 0;
    bool locked_ = false;
    const void* lockHolder_ = nullptr;
    unsigned lockCount_ = 0;
    unsigned opens_ = 0;
    unsigned openHandles_ = 0;
};

} // namespace sim
