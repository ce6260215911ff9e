#include "cardlib/drive_probe.h"

#include "cardlib/bytes.h"
#include "cardlib/discovery.h"
#include "cardlib/pass_through.h"
#include "cardlib/trace.h"
#include "platform/scoped.h"

#include <stddef.h>
#include <string.h>

namespace ferrocard {

namespace {

constexpr CapacityClass kCapacityClasses[] = {
    {8, 160, 2, 32},          {16, 320, 2, 32},
    {32, 640, 4, 32},         {64, 1280, 8, 32},
    {128, 2560, 8, 32},       {256, 5120, 16, 32},
    {512, 10240, 16, 63},     {1024, 20480, 32, 63},
    {2048, 40960, 64, 63},    {4096, 65536, 128, 63},
    {8192, 98304, 255, 63},   {16384, 131072, 255, 63},
    {32768, 163840, 255, 63}, {UINT64_MAX, 262144, 255, 63},
};
constexpr size_t kClassCount = sizeof kCapacityClasses / sizeof kCapacityClasses[0];

// The device descriptor: the header's two string offsets, the buffer the
// answer comes in, and the maker's strings.
constexpr DWORD kDescriptorBufferSize = 2048;
constexpr size_t kVendorOffsetAt = 12;
constexpr size_t kProductOffsetAt = 16;
constexpr char kMakerVendor[] = "Halvex";
constexpr char kReaderProduct[] = "SD";
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == kVendorOffsetAt &&
                  offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == kProductOffsetAt,
              "the descriptor's string offsets");

// The capacity request: the pass-through structure, a filler that
// realigns, a sense area and the data area, as one buffer used both ways.
// On 32-bit Windows it is 704 bytes with the data area at 80; the data area
// keeps that size in every build, and elsewhere the structure's own
// (pointer-sized) layout moves the offsets.
constexpr size_t kCapacityRequestSize32 = 704;
constexpr size_t kCapacityDataAt32 = 80;
struct CapacityRequest {
    SCSI_PASS_THROUGH request;
    ULONG filler;
    UCHAR sense[kSenseAreaSize];
    UCHAR data[kCapacityRequestSize32 - kCapacityDataAt32];
};
static_assert(sizeof(void*) != 4 || (sizeof(SCSI_PASS_THROUGH) == 44 && offsetof(CapacityRequest, sense) == 48 &&
                                     offsetof(CapacityRequest, data) == kCapacityDataAt32 &&
                                     sizeof(CapacityRequest) == kCapacityRequestSize32),
              "the 32-bit capacity request");
constexpr UCHAR kReadCapacity10 = 0x25;
constexpr ULONG kCapacityDataLength = 192;
constexpr ULONG kCapacityTimeoutSeconds = 2;
constexpr UCHAR kScsiGood = 0;
// The last block address with which READ CAPACITY(10) says the card is too
// large for it to tell.
constexpr uint32_t kBeyondReadCapacity10 = 0xFFFFFFFF;

// DISK_GEOMETRY, read by offset: Cylinders (its low half), tracks per
// cylinder, sectors per track, bytes per sector.
constexpr DWORD kGeometrySize = 24;
static_assert(sizeof(DISK_GEOMETRY) == kGeometrySize && offsetof(DISK_GEOMETRY, TracksPerCylinder) == 12 &&
                  offsetof(DISK_GEOMETRY, SectorsPerTrack) == 16 && offsetof(DISK_GEOMETRY, BytesPerSector) == 20,
              "DISK_GEOMETRY");

// Whether `text` lies within the `returned` bytes at `offset` and begins
// there; nothing outside those bytes is read.
bool hasPrefixAt(const uint8_t* descriptor, DWORD returned, uint32_t offset, const char* text, size_t length) {
    return offset <= returned && length <= returned - offset && memcmp(descriptor + offset, text, length) == 0;
}

// READ CAPACITY(10) into `last` (0 when the request gives none); true when
// that is the card's last block address.
bool readLastBlockAddress(HANDLE drive, uint32_t& last) {
    CapacityRequest r;
    memset(&r, 0, sizeof r);
    addressReader(r.request, offsetof(CapacityRequest, sense));
    r.request.DataIn = SCSI_IOCTL_DATA_IN;
    r.request.DataTransferLength = kCapacityDataLength;
    r.request.TimeOutValue = kCapacityTimeoutSeconds;
    r.request.DataBufferOffset = offsetof(CapacityRequest, data);
    r.request.Cdb[0] = kReadCapacity10;
    DWORD returned = 0;
    const BOOL sent = DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH, &r, sizeof r.request, &r, sizeof r, &returned,
                                      NULL);
    last = loadBe32(r.data); // a failed request leaves the data area zero
    const uint8_t status = reinterpret_cast<const uint8_t*>(&r)[offsetof(SCSI_PASS_THROUGH, ScsiStatus)];
    return sent && status == kScsiGood && last != kBeyondReadCapacity10;
}

// Each factor plus one, multiplied without wrapping: a product past 64 bits
// is larger than any bound anyway.
uint64_t sizeInMb(uint32_t cylinders, uint32_t tracks, uint32_t sectors) {
    const uint64_t factors[] = {uint64_t(tracks) + 1, uint64_t(sectors) + 1, uint64_t(cylinders) + 1};
    uint64_t product = 1;
    for (uint64_t f : factors)
        product = product > UINT64_MAX / f ? UINT64_MAX : product * f;
    return product >> 11;
}

} // namespace

bool isMakersReader(HANDLE drive) {
    STORAGE_PROPERTY_QUERY query;
    memset(&query, 0, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    uint8_t descriptor[kDescriptorBufferSize] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(drive, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, descriptor, sizeof descriptor,
                         &returned, NULL))
        return false;
    if (returned > sizeof descriptor || returned < kProductOffsetAt + 4)
        return false;
    // An offset of 0 names no string: the comparison then meets the
    // descriptor's own first bytes and fails.
    return hasPrefixAt(descriptor, returned, loadLe32(descriptor + kVendorOffsetAt), kMakerVendor,
                       sizeof kMakerVendor - 1) &&
           hasPrefixAt(descriptor, returned, loadLe32(descriptor + kProductOffsetAt), kReaderProduct,
                       sizeof kReaderProduct - 1);
}

void formDrivePath(char (&path)[kDrivePathSize], uint32_t number) {
    memset(path, 0, sizeof path);
    memcpy(path, "\\\\.\\A:", 6);
    path[4] = static_cast<char>(0x40 + number);
}

const CapacityClass& capacityClassOfSize(uint64_t sizeMb) {
    size_t i = 0;
    while (sizeMb > kCapacityClasses[i].maxMb)
        ++i;
    return kCapacityClasses[i];
}

const CapacityClass& capacityClassOfValue(uint32_t value) {
    for (const CapacityClass& c : kCapacityClasses)
        if (c.value == value)
            return c;
    return kCapacityClasses[kClassCount - 1];
}

bool probeDrive(DriveRecord& record, uint32_t number) {
    char path[kDrivePathSize];
    formDrivePath(path, number);
    ScopedFile drive(openDevice(path));
    if (!drive || !isMakersReader(drive.get()))
        return false;
    // The drive is found whatever this answers; only DDIdentify needs it.
    record.capacityRead = readLastBlockAddress(drive.get(), record.lastBlockAddress);

    uint8_t geometry[kGeometrySize] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(drive.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, NULL, 0, geometry, sizeof geometry, &returned,
                         NULL))
        return false; // no card in the reader
    const uint32_t cylinders = loadLe32(geometry);
    const uint32_t tracks = loadLe32(geometry + 12);
    const uint32_t sectors = loadLe32(geometry + 16);
    const uint64_t mb = sizeInMb(cylinders, tracks, sectors);
    trace("DiskGeo: \n");
    trace("\tByte per sector: %d\n", loadLe32(geometry + 20));
    trace("\tCylinders: %d\n", cylinders);
    trace("\tTracksPerCylinder: %d\n", tracks);
    // %d as the text always had it; no card comes near the 2 PB where that stops.
    trace("Size: %d MB\n", mb > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mb));
    record.capacityClass = capacityClassOfSize(mb).value;
    drive.reset();
    record.number = number;
    return true;
}

} // namespace ferrocard
