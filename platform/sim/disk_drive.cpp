#include "platform/sim/disk_drive.h"

#include "platform/sim/pass_through.h"
#include "platform/win32.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace sim {

namespace {

// Standard INQUIRY data: what the descriptor carries as its raw properties,
// and where SCSI keeps the identity strings, space-padded to their widths.
constexpr DWORD kInquiryBytes = 36;
constexpr UCHAR kDirectAccessDevice = 0x00;
constexpr UCHAR kRemovableBit = 0x80;
constexpr UCHAR kSpc2 = 0x04;
constexpr UCHAR kResponseFormat = 0x02;
constexpr std::size_t kVendorAt = 8, kVendorWidth = 8;
constexpr std::size_t kProductAt = 16, kProductWidth = 16;
constexpr std::size_t kRevisionAt = 32, kRevisionWidth = 4;

// The smallest output that can hold a descriptor's Version and Size.
constexpr DWORD kDescriptorHeaderBytes = 8;

// READ CAPACITY(10) answers the last block address and the block length.
constexpr DWORD kCapacityBytes = 8;

void padded(BYTE* at, const std::string& s, std::size_t width) {
    std::memset(at, ' ', width);
    std::memcpy(at, s.data(), std::min(width, s.size()));
}

void storeBe32(BYTE* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(v >> (24 - 8 * i));
}

std::uint32_t be32(const UCHAR* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

std::uint32_t le32(const BYTE* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// What a test-chosen status looks like on the wire: CHECK CONDITION always
// comes with sense data.
scsi::Outcome chosenStatus(UCHAR status) {
    if (status == scsi::kCheckCondition)
        return scsi::Outcome::checkCondition(scsi::kHardwareError, scsi::kAscInternalTargetFailure);
    return scsi::Outcome{status, 0, std::nullopt};
}

const scsi::Outcome kNoMedium = scsi::Outcome::checkCondition(scsi::kNotReady, scsi::kAscMediumNotPresent);
const scsi::Outcome kBadField = scsi::Outcome::checkCondition(scsi::kIllegalRequest, scsi::kAscInvalidFieldInCdb);

} // namespace

DiskDrive::DiskDrive(DriveIdentity identity, std::optional<DiskMedium> medium)
    : identity_(std::move(identity)), medium_(medium) {}

void DiskDrive::insertMedium(const DiskMedium& medium) {
    std::lock_guard<std::mutex> lock(mutex_);
    medium_ = medium;
    sectors_.clear();
}

void DiskDrive::removeMedium() {
    std::lock_guard<std::mutex> lock(mutex_);
    medium_.reset();
}

bool DiskDrive::hasMedium() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return medium_.has_value();
}

std::vector<BYTE> DiskDrive::descriptor() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return descriptorLocked();
}

std::vector<BYTE> DiskDrive::descriptorLocked() const {
    const std::size_t rawAt = offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties);
    std::vector<BYTE> d(rawAt + kInquiryBytes);
    BYTE* inquiry = d.data() + rawAt;
    inquiry[0] = kDirectAccessDevice;
    inquiry[1] = identity_.removable ? kRemovableBit : 0;
    inquiry[2] = kSpc2;
    inquiry[3] = kResponseFormat;
    inquiry[4] = kInquiryBytes - 5; // additional length
    padded(inquiry + kVendorAt, identity_.vendor, kVendorWidth);
    padded(inquiry + kProductAt, identity_.product, kProductWidth);
    padded(inquiry + kRevisionAt, identity_.revision, kRevisionWidth);

    auto addString = [&d](const std::string& s) -> ULONG {
        if (s.empty())
            return 0;
        const auto at = static_cast<ULONG>(d.size());
        d.insert(d.end(), s.begin(), s.end());
        d.push_back(0);
        return at;
    };
    STORAGE_DEVICE_DESCRIPTOR header{};
    header.VendorIdOffset = addString(identity_.vendor);
    header.ProductIdOffset = addString(identity_.product);
    header.ProductRevisionOffset = addString(identity_.revision);
    header.SerialNumberOffset = addString(identity_.serial);
    header.Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    header.Size = static_cast<ULONG>(d.size());
    header.DeviceType = kDirectAccessDevice;
    header.RemovableMedia = identity_.removable;
    header.BusType = identity_.busType;
    header.RawPropertiesLength = kInquiryBytes;
    std::memcpy(d.data(), &header, rawAt);
    return d;
}

void DiskDrive::failRequest(DriveRequest request, DWORD error, unsigned times) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[request] = Rule{error, scsi::kGood, times};
}

void DiskDrive::answerScsiStatus(DriveRequest request, UCHAR status, unsigned times) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[request] = Rule{ERROR_SUCCESS, status, times};
}

void DiskDrive::answerRawDescriptor(std::vector<BYTE> bytes, DWORD returned) {
    std::lock_guard<std::mutex> lock(mutex_);
    rawDescriptor_ = std::move(bytes);
    rawReturned_ = returned;
}

void DiskDrive::answerRawDescriptor(std::vector<BYTE> bytes) {
    const auto returned = static_cast<DWORD>(bytes.size());
    answerRawDescriptor(std::move(bytes), returned);
}

void DiskDrive::clearMisbehaviour() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    rawDescriptor_.reset();
}

std::optional<DiskDrive::Rule> DiskDrive::takeRuleLocked(DriveRequest request) {
    auto it = rules_.find(request);
    if (it == rules_.end())
        return std::nullopt;
    Rule rule = it->second;
    if (rule.remaining && --it->second.remaining == 0)
        rules_.erase(it);
    return rule;
}

std::vector<BYTE> DiskDrive::readSectors(std::uint32_t lba, std::uint32_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<BYTE> out(static_cast<std::size_t>(count) * kSectorBytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto it = sectors_.find(lba + i);
        if (it != sectors_.end())
            std::memcpy(out.data() + static_cast<std::size_t>(i) * kSectorBytes, it->second.data(), kSectorBytes);
    }
    return out;
}

std::size_t DiskDrive::sectorsStored() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sectors_.size();
}

std::vector<DriveWrite> DiskDrive::writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_.entries();
}

void DiskDrive::keepWrites(std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.keepLatest(n);
}

unsigned DiskDrive::lockCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lockCount_;
}

bool DiskDrive::locked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return locked_;
}

unsigned DiskDrive::opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

unsigned DiskDrive::openHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openHandles_;
}

// A locked volume is reached only through the handle that locked it.
DWORD DiskDrive::open(DWORD, DWORD) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto rule = takeRuleLocked(DriveRequest::Open))
        return rule->error;
    if (locked_)
        return ERROR_ACCESS_DENIED;
    ++opens_;
    ++openHandles_;
    return ERROR_SUCCESS;
}

// Closing the handle that holds the lock releases it.
void DiskDrive::close(const void* file) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (openHandles_)
        --openHandles_;
    if (locked_ && lockHolder_ == file)
        locked_ = false;
}

ControlReply DiskDrive::control(const ControlRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (request.code) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return queryProperty(request);
    case IOCTL_SCSI_PASS_THROUGH:
        return passThrough(request, false);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return passThrough(request, true);
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
        return geometry(request);
    case FSCTL_LOCK_VOLUME:
        return lockVolume(request);
    default:
        return {ERROR_INVALID_FUNCTION, 0};
    }
}

// The device descriptor only: the adapter's descriptor and the other
// properties are not modelled. An output too small for the whole descriptor
// gets as much as fits, and its Size tells the caller what a full answer takes.
ControlReply DiskDrive::queryProperty(const ControlRequest& request) {
    if (request.inSize < sizeof(STORAGE_PROPERTY_QUERY))
        return {ERROR_INVALID_PARAMETER, 0};
    if (auto rule = takeRuleLocked(DriveRequest::QueryProperty))
        return {rule->error, 0};
    const std::uint32_t property = le32(request.buffer + offsetof(STORAGE_PROPERTY_QUERY, PropertyId));
    const std::uint32_t type = le32(request.buffer + offsetof(STORAGE_PROPERTY_QUERY, QueryType));
    if (property != StorageDeviceProperty)
        return {ERROR_NOT_SUPPORTED, 0};
    if (type == PropertyExistsQuery)
        return {ERROR_SUCCESS, 0};
    if (type != PropertyStandardQuery)
        return {ERROR_INVALID_PARAMETER, 0};

    if (rawDescriptor_) {
        std::memset(request.buffer, 0, request.outSize);
        std::memcpy(request.buffer, rawDescriptor_->data(),
                    std::min<std::size_t>(request.outSize, rawDescriptor_->size()));
        return {ERROR_SUCCESS, rawReturned_};
    }
    if (request.outSize < kDescriptorHeaderBytes)
        return {ERROR_INSUFFICIENT_BUFFER, 0};
    const std::vector<BYTE> d = descriptorLocked();
    const auto n = static_cast<DWORD>(std::min<std::size_t>(request.outSize, d.size()));
    std::memcpy(request.buffer, d.data(), n);
    return {ERROR_SUCCESS, n};
}

// A reader without a card has no geometry; a fixed disk always has one.
ControlReply DiskDrive::geometry(const ControlRequest& request) {
    if (request.outSize < sizeof(DISK_GEOMETRY))
        return {ERROR_INSUFFICIENT_BUFFER, 0};
    if (auto rule = takeRuleLocked(DriveRequest::Geometry))
        return {rule->error, 0};
    if (!medium_)
        return {ERROR_NOT_READY, 0};
    DISK_GEOMETRY g{};
    g.Cylinders.QuadPart = medium_->geometry.cylinders;
    g.MediaType = identity_.removable ? RemovableMedia : FixedMedia;
    g.TracksPerCylinder = medium_->geometry.tracksPerCylinder;
    g.SectorsPerTrack = medium_->geometry.sectorsPerTrack;
    g.BytesPerSector = medium_->geometry.bytesPerSector;
    std::memcpy(request.buffer, &g, sizeof g);
    return {ERROR_SUCCESS, sizeof g};
}

// One lock at a time; an empty reader has no volume to lock.
ControlReply DiskDrive::lockVolume(const ControlRequest& request) {
    if (auto rule = takeRuleLocked(DriveRequest::LockVolume))
        return {rule->error, 0};
    if (!medium_)
        return {ERROR_NOT_READY, 0};
    if (locked_)
        return {ERROR_ACCESS_DENIED, 0};
    locked_ = true;
    lockHolder_ = request.file;
    ++lockCount_;
    return {ERROR_SUCCESS, 0};
}

// The drive answers at its own address only (the maker's reader at target 1):
// a command for another path, target or LUN reaches no device. Either command
// may come through either request.
ControlReply DiskDrive::passThrough(const ControlRequest& request, bool direct) {
    scsi::Command c;
    if (DWORD error = scsi::takeCommand(request, direct, kMaxTransferLength, &c))
        return {error, 0};
    if (c.pathId != identity_.pathId || c.targetId != identity_.targetId || c.lun != identity_.lun)
        return {drive_error::kDeviceNotConnected, 0};

    constexpr UCHAR kCdb10Bytes = 10;
    const UCHAR op = c.cdbLength ? c.cdb[0] : 0;
    scsi::Outcome o;
    DWORD error = ERROR_SUCCESS;
    if (!c.cdbLength || (op != scsi::kReadCapacity10 && op != scsi::kWrite10))
        o = scsi::Outcome::checkCondition(scsi::kIllegalRequest, scsi::kAscInvalidOpcode);
    else if (c.cdbLength < kCdb10Bytes)
        o = kBadField;
    else if (op == scsi::kReadCapacity10)
        error = readCapacity(c, &o);
    else
        error = write(c, &o);
    if (error)
        return {error, 0};
    return {ERROR_SUCCESS, scsi::complete(request, c, o)};
}

// The last block address and the block length, as much of them as the caller
// gave room for.
DWORD DiskDrive::readCapacity(const scsi::Command& c, scsi::Outcome* o) {
    if (auto rule = takeRuleLocked(DriveRequest::ReadCapacity)) {
        if (rule->error)
            return rule->error;
        *o = chosenStatus(rule->scsiStatus);
    } else if (!medium_) {
        *o = kNoMedium;
    } else if (c.dataIn == SCSI_IOCTL_DATA_OUT) {
        *o = kBadField;
    } else {
        BYTE answer[kCapacityBytes];
        storeBe32(answer, medium_->lastBlockAddress);
        storeBe32(answer + 4, kSectorBytes);
        o->transferred = std::min(kCapacityBytes, c.transferLength);
        std::memcpy(c.data, answer, o->transferred);
    }
    return ERROR_SUCCESS;
}

// The caller's data, read in place, goes into the card's sectors when the
// transfer is exactly the block count and stays inside the card; anything
// else is refused with CHECK CONDITION and stores nothing.
DWORD DiskDrive::write(const scsi::Command& c, scsi::Outcome* o) {
    const std::uint32_t lba = be32(c.cdb.data() + 2);
    const auto blocks = static_cast<std::uint16_t>((c.cdb[7] << 8) | c.cdb[8]);
    if (auto rule = takeRuleLocked(DriveRequest::Write)) {
        if (rule->error)
            return rule->error;
        *o = chosenStatus(rule->scsiStatus);
    } else if (!medium_) {
        *o = kNoMedium;
    } else if (medium_->writeProtected) {
        *o = scsi::Outcome::checkCondition(scsi::kDataProtect, scsi::kAscWriteProtected);
    } else if (c.dataIn != SCSI_IOCTL_DATA_OUT || c.transferLength != static_cast<DWORD>(blocks) * kSectorBytes) {
        *o = kBadField;
    } else if (blocks && static_cast<std::uint64_t>(lba) + blocks - 1 > medium_->lastBlockAddress) {
        *o = scsi::Outcome::checkCondition(scsi::kIllegalRequest, scsi::kAscLbaOutOfRange);
    } else {
        for (std::uint32_t i = 0; i < blocks; ++i)
            std::memcpy(sectors_[lba + i].data(), c.data + static_cast<std::size_t>(i) * kSectorBytes, kSectorBytes);
        o->transferred = c.transferLength;
    }
    writes_.push_back(DriveWrite{lba, blocks, c.transferLength, o->scsiStatus});
    return ERROR_SUCCESS;
}

} // namespace sim
