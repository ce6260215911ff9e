// The card reader's drive on the simulated machine, reached through the Win32
// calls the card library makes: drive letters, the device descriptor, READ
// CAPACITY(10), the geometry, the volume lock and WRITE(10), the records the
// port checks, and the misbehaviour tests can ask for.
#include "platform/sim/drive_letters.h"
#include "platform/sim/pass_through.h"
#include "platform/win32.h"

#include "device_fixture.h"

#include <cstring>
#include <functional>
#include <vector>

namespace {

using sim::DriveRequest;

// The layouts a 64-bit caller derives from the records: the sense area after
// the record, the data after the sense area.
constexpr DWORD kSenseAt = (sizeof(SCSI_PASS_THROUGH) + 7) & ~7u;
constexpr DWORD kDataAt = kSenseAt + 24;
constexpr DWORD kCapacityBuffer = 704;
constexpr DWORD kDirectSenseAt = (sizeof(SCSI_PASS_THROUGH_DIRECT) + 7) & ~7u;
constexpr DWORD kWriteRequest = kDirectSenseAt + 24;

struct Reply {
    bool ok = false;
    DWORD error = ERROR_SUCCESS;
    DWORD returned = 0;
};

Reply send(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    Reply r;
    SetLastError(ERROR_SUCCESS);
    r.ok = DeviceIoControl(h, code, in, inSize, out, outSize, &r.returned, nullptr);
    r.error = r.ok ? ERROR_SUCCESS : GetLastError();
    return r;
}

std::vector<BYTE> capacityRequest() {
    std::vector<BYTE> b(kCapacityBuffer);
    SCSI_PASS_THROUGH s{};
    s.Length = sizeof s;
    s.TargetId = 1;
    s.CdbLength = 10;
    s.SenseInfoLength = 24;
    s.DataIn = SCSI_IOCTL_DATA_IN;
    s.DataTransferLength = 192;
    s.TimeOutValue = 2;
    s.DataBufferOffset = kDataAt;
    s.SenseInfoOffset = kSenseAt;
    s.Cdb[0] = sim::scsi::kReadCapacity10;
    std::memcpy(b.data(), &s, sizeof s);
    return b;
}

std::vector<BYTE> writeRequest(const BYTE* data, std::uint32_t lba, std::uint16_t blocks, DWORD transfer) {
    std::vector<BYTE> b(kWriteRequest);
    SCSI_PASS_THROUGH_DIRECT s{};
    s.Length = sizeof s;
    s.TargetId = 1;
    s.CdbLength = 10;
    s.SenseInfoLength = 24;
    s.DataIn = SCSI_IOCTL_DATA_OUT;
    s.DataTransferLength = transfer;
    s.TimeOutValue = 2000;
    s.DataBuffer = const_cast<BYTE*>(data);
    s.SenseInfoOffset = kDirectSenseAt;
    const UCHAR cdb[10] = {sim::scsi::kWrite10, 0, UCHAR(lba >> 24),   UCHAR(lba >> 16), UCHAR(lba >> 8),
                           UCHAR(lba),          0, UCHAR(blocks >> 8), UCHAR(blocks),    0};
    std::memcpy(s.Cdb, cdb, sizeof cdb);
    std::memcpy(b.data(), &s, sizeof s);
    return b;
}

template <class Record> Record recordOf(const std::vector<BYTE>& b) {
    Record r;
    std::memcpy(&r, b.data(), sizeof r);
    return r;
}

std::uint32_t le32At(const std::vector<BYTE>& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

class SimDriveTest : public DeviceTest {
  protected:
    void TearDown() override {
        if (machine) {
            EXPECT_EQ(machine->openHandles(), 0u);
            EXPECT_EQ(reader->drive().openHandles(), 0u);
        }
        DeviceTest::TearDown();
    }

    HANDLE open(char letter) {
        SetLastError(ERROR_SUCCESS);
        return CreateFileA(sim::drivePath(letter).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // One request on a handle of its own, as the card library sends each.
    Reply once(char letter, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
        HANDLE h = open(letter);
        if (h == INVALID_HANDLE_VALUE)
            return Reply{false, GetLastError(), 0};
        Reply r = send(h, code, in, inSize, out, outSize);
        CloseHandle(h);
        return r;
    }

    Reply readCapacity(std::vector<BYTE>& b, DWORD inSize = sizeof(SCSI_PASS_THROUGH)) {
        return once(reader->driveLetter(), IOCTL_SCSI_PASS_THROUGH, b.data(), inSize, b.data(), kCapacityBuffer);
    }

    Reply geometry(char letter, DISK_GEOMETRY* g, DWORD outSize = sizeof(DISK_GEOMETRY)) {
        return once(letter, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, g, outSize);
    }

    // The two fields as plain numbers: a test may send a type the enumeration
    // does not name.
    Reply query(char letter, std::vector<BYTE>& out, DWORD inSize = sizeof(STORAGE_PROPERTY_QUERY),
                DWORD id = StorageDeviceProperty, DWORD type = PropertyStandardQuery) {
        BYTE q[sizeof(STORAGE_PROPERTY_QUERY)] = {};
        std::memcpy(q + offsetof(STORAGE_PROPERTY_QUERY, PropertyId), &id, sizeof id);
        std::memcpy(q + offsetof(STORAGE_PROPERTY_QUERY, QueryType), &type, sizeof type);
        return once(letter, IOCTL_STORAGE_QUERY_PROPERTY, q, inSize, out.data(), static_cast<DWORD>(out.size()));
    }

    Reply write(std::vector<BYTE>& request) {
        return once(reader->driveLetter(), IOCTL_SCSI_PASS_THROUGH_DIRECT, request.data(), kWriteRequest,
                    request.data(), kWriteRequest);
    }
};

TEST_F(SimDriveTest, LettersHoldTheSystemDiskAndTheReaderWhileTheMakersDriverRuns) {
    auto opens = [&](char letter) {
        HANDLE h = open(letter);
        const DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        return h != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : error;
    };
    EXPECT_EQ(reader->driveLetter(), 'E');
    EXPECT_EQ(opens('C'), ERROR_SUCCESS);
    EXPECT_EQ(opens('E'), ERROR_SUCCESS) << "the reader's drive is there without a card";
    EXPECT_EQ(opens('Q'), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    reader->setDriveLetter('Z');
    EXPECT_EQ(opens('E'), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(opens('Z'), ERROR_SUCCESS);
    reader->bind(sim::Binding::Standard);
    EXPECT_EQ(opens('Z'), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    reader->bind(sim::Binding::Maker);
    EXPECT_EQ(opens('Z'), ERROR_SUCCESS);
    EXPECT_THROW(reader->setDriveLetter('1'), std::invalid_argument);
    EXPECT_EQ(reader->driveLetter(), 'Z');

    auto stick = sim::putDisk(*machine, 'F', sim::drives::usbStick(), sim::drives::usbStickMedium());
    EXPECT_EQ(opens('F'), ERROR_SUCCESS);
    EXPECT_EQ(stick->opens(), 1u);
    sim::removeDrive(*machine, 'F');
    EXPECT_EQ(opens('F'), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimDriveTest, DescriptorCarriesTheStringsAtTheirOffsets) {
    const struct {
        char letter;
        ULONG vendorOffset; // 0: absent
        const char* vendor;
        const char* product;
        const char* revision;
        bool removable;
    } kDrives[] = {
        {'E', 72, "Halvex  ", "SD/MMC Reader   ", "1.00", true},
        {'C', 0, "", "ST500DM002-1BD142", "KC45", false},
    };
    for (const auto& d : kDrives) {
        SCOPED_TRACE(d.letter);
        std::vector<BYTE> out(2048);
        Reply r = query(d.letter, out);
        ASSERT_TRUE(r.ok) << r.error;
        STORAGE_DEVICE_DESCRIPTOR h;
        std::memcpy(&h, out.data(), sizeof h);
        EXPECT_EQ(h.Version, sizeof(STORAGE_DEVICE_DESCRIPTOR));
        EXPECT_EQ(h.Size, r.returned);
        EXPECT_EQ(h.RemovableMedia, d.removable);
        EXPECT_EQ(h.VendorIdOffset, d.vendorOffset);
        if (d.vendorOffset) {
            EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + h.VendorIdOffset), d.vendor);
        }
        EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + h.ProductIdOffset), d.product);
        EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + h.ProductRevisionOffset), d.revision);
        for (ULONG at : {h.VendorIdOffset, h.ProductIdOffset, h.ProductRevisionOffset, h.SerialNumberOffset})
            if (at) {
                EXPECT_LT(at + std::strlen(reinterpret_cast<const char*>(out.data() + at)), h.Size);
            }
    }
}

TEST_F(SimDriveTest, PropertyQueriesAreCheckedAndCutToTheCallersBuffer) {
    const DWORD full = static_cast<DWORD>(reader->drive().descriptor().size());
    const struct {
        const char* name;
        DWORD inSize;
        DWORD id;
        DWORD type;
        DWORD outSize;
        DWORD error;
        DWORD returned;
    } kCases[] = {
        {"whole", 12, StorageDeviceProperty, PropertyStandardQuery, 2048, ERROR_SUCCESS, full},
        {"cut", 12, StorageDeviceProperty, PropertyStandardQuery, 20, ERROR_SUCCESS, 20},
        {"header only", 12, StorageDeviceProperty, PropertyStandardQuery, 8, ERROR_SUCCESS, 8},
        {"no room for the header", 12, StorageDeviceProperty, PropertyStandardQuery, 7, ERROR_INSUFFICIENT_BUFFER, 0},
        {"short query", 11, StorageDeviceProperty, PropertyStandardQuery, 2048, ERROR_INVALID_PARAMETER, 0},
        {"adapter", 12, StorageAdapterProperty, PropertyStandardQuery, 2048, ERROR_NOT_SUPPORTED, 0},
        {"exists", 12, StorageDeviceProperty, PropertyExistsQuery, 2048, ERROR_SUCCESS, 0},
        {"unknown query", 12, StorageDeviceProperty, 2, 2048, ERROR_INVALID_PARAMETER, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> out(c.outSize);
        Reply r = query('E', out, c.inSize, c.id, c.type);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.returned, c.returned);
        if (r.returned >= 8) {
            EXPECT_EQ(le32At(out, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size)), full) << "Size tells the whole";
        }
    }
}

TEST_F(SimDriveTest, ReadCapacityAnswersTheLastBlockBigEndian) {
    const struct {
        sim::MemoryCard card;
        std::array<BYTE, 8> answer;
    } kCases[] = {
        {sim::cards::standard1Gb(), {0x00, 0x1E, 0x27, 0xFF, 0, 0, 0x02, 0x00}},
        {sim::cards::extended2Tb(), {0xFF, 0xFB, 0xFF, 0xFF, 0, 0, 0x02, 0x00}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.card.name);
        reader->insertCard(c.card);
        EXPECT_EQ(reader->controllerDriver().registers().csd, c.card.registers.csd);
        std::vector<BYTE> b = capacityRequest();
        Reply r = readCapacity(b);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.returned, kDataAt + 8);
        EXPECT_TRUE(std::equal(c.answer.begin(), c.answer.end(), b.begin() + kDataAt));
        const auto back = recordOf<SCSI_PASS_THROUGH>(b);
        EXPECT_EQ(back.ScsiStatus, sim::scsi::kGood);
        EXPECT_EQ(back.DataTransferLength, 8u);
        EXPECT_EQ(back.SenseInfoLength, 0);
    }
}

TEST_F(SimDriveTest, ReadCapacityWithoutACardIsCheckCondition) {
    std::vector<BYTE> b = capacityRequest();
    Reply r = readCapacity(b);
    ASSERT_TRUE(r.ok) << r.error;
    const auto back = recordOf<SCSI_PASS_THROUGH>(b);
    EXPECT_EQ(back.ScsiStatus, sim::scsi::kCheckCondition);
    EXPECT_EQ(back.DataTransferLength, 0u);
    EXPECT_EQ(back.SenseInfoLength, sim::scsi::kSenseBytes);
    EXPECT_EQ(b[kSenseAt + 2], sim::scsi::kNotReady);
    EXPECT_EQ(b[kSenseAt + 12], sim::scsi::kAscMediumNotPresent);
    EXPECT_EQ(le32At(b, kDataAt), 0u);
    EXPECT_EQ(r.returned, kDataAt);
}

TEST_F(SimDriveTest, PassThroughRecordsAreCheckedAsThePortChecksThem) {
    reader->insert(sim::Card::Memory);
    using Spt = SCSI_PASS_THROUGH;
    constexpr DWORD kWhole = sizeof(Spt);
    constexpr DWORD kBad = ERROR_INVALID_PARAMETER;
    const struct {
        const char* name;
        std::function<void(Spt&)> spoil;
        DWORD inSize;
        DWORD error;
    } kCases[] = {
        {"as sent", [](Spt&) {}, kWhole, ERROR_SUCCESS},
        {"32-bit Length", [](Spt& s) { s.Length = 44; }, kWhole, sim::drive_error::kRevisionMismatch},
        {"input short of the record", [](Spt&) {}, kWhole - 1, ERROR_INSUFFICIENT_BUFFER},
        {"no time-out", [](Spt& s) { s.TimeOutValue = 0; }, kWhole, kBad},
        {"time-out over 30 hours", [](Spt& s) { s.TimeOutValue = 108001; }, kWhole, kBad},
        {"CDB of 17 bytes", [](Spt& s) { s.CdbLength = 17; }, kWhole, kBad},
        {"direction 3", [](Spt& s) { s.DataIn = 3; }, kWhole, kBad},
        {"sense inside the record", [](Spt& s) { s.SenseInfoOffset = kSenseAt - 8; }, kWhole, kBad},
        {"sense over the data", [](Spt& s) { s.SenseInfoOffset = kSenseAt + 8; }, kWhole, kBad},
        {"data inside the record", [](Spt& s) { s.DataBufferOffset = 16; }, kWhole, kBad},
        {"data past the output", [](Spt& s) { s.DataBufferOffset = kCapacityBuffer - 191; }, kWhole, kBad},
        {"over the port's limit", [](Spt& s) { s.DataTransferLength = 0xFFFF * 512 + 1; }, kWhole, kBad},
        {"offset that wraps", [](Spt& s) { s.DataBufferOffset = ~ULONG_PTR(0) - 8; }, kWhole,
         sim::drive_error::kArithmeticOverflow},
        {"target 0", [](Spt& s) { s.TargetId = 0; }, kWhole, sim::drive_error::kDeviceNotConnected},
        {"path 1", [](Spt& s) { s.PathId = 1; }, kWhole, sim::drive_error::kDeviceNotConnected},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> b = capacityRequest();
        auto s = recordOf<Spt>(b);
        c.spoil(s);
        std::memcpy(b.data(), &s, sizeof s);
        EXPECT_EQ(readCapacity(b, c.inSize).error, c.error);
    }
}

TEST_F(SimDriveTest, GeometryAnswersOnlyWithACard) {
    DISK_GEOMETRY g{};
    EXPECT_EQ(geometry('E', &g).error, static_cast<DWORD>(ERROR_NOT_READY));
    reader->insertCard(sim::cards::standard992Mb());
    Reply r = geometry('E', &g);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.returned, sizeof g);
    EXPECT_EQ(g.Cylinders.QuadPart, 123);
    EXPECT_EQ(g.MediaType, RemovableMedia);
    EXPECT_EQ(g.TracksPerCylinder, 255u);
    EXPECT_EQ(g.SectorsPerTrack, 63u);
    EXPECT_EQ(g.BytesPerSector, 512u);
    EXPECT_EQ(geometry('E', &g, sizeof g - 1).error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    reader->remove();
    EXPECT_EQ(geometry('E', &g).error, static_cast<DWORD>(ERROR_NOT_READY));
    reader->insert(sim::Card::Sdio);
    EXPECT_EQ(geometry('E', &g).error, static_cast<DWORD>(ERROR_NOT_READY)) << "an SDIO card is no disk";

    ASSERT_TRUE(geometry('C', &g).ok);
    EXPECT_EQ(g.MediaType, FixedMedia);
    EXPECT_EQ(g.Cylinders.QuadPart, 60801);
}

TEST_F(SimDriveTest, VolumeLockIsHeldUntilItsHandleCloses) {
    EXPECT_EQ(once('E', FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).error, static_cast<DWORD>(ERROR_NOT_READY));
    reader->insert(sim::Card::Memory);
    HANDLE h = open('E');
    ASSERT_TRUE(send(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).ok);
    EXPECT_TRUE(reader->drive().locked());
    EXPECT_EQ(send(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(open('E'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);
    EXPECT_FALSE(reader->drive().locked());
    EXPECT_TRUE(once('E', FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).ok);
    EXPECT_EQ(reader->drive().lockCount(), 2u);
}

TEST_F(SimDriveTest, WriteStoresTheCallersSectorsInPlace) {
    reader->insertCard(sim::cards::standard1Gb());
    std::vector<BYTE> data(3 * 512);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i * 7 + i / 512);
    std::vector<BYTE> request = writeRequest(data.data(), 7, 3, 3 * 512);
    Reply r = write(request);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.returned, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(recordOf<SCSI_PASS_THROUGH_DIRECT>(request).ScsiStatus, sim::scsi::kGood);
    EXPECT_EQ(reader->drive().readSectors(7, 3), data);
    EXPECT_EQ(reader->drive().readSectors(6, 1), std::vector<BYTE>(512));
    EXPECT_EQ(reader->drive().sectorsStored(), 3u);
    ASSERT_EQ(reader->drive().writes().size(), 1u);
    EXPECT_EQ(reader->drive().writes()[0].lba, 7u);
    EXPECT_EQ(reader->drive().writes()[0].blocks, 3u);

    const std::uint32_t last = sim::cards::standard1Gb().lastBlockAddress;
    request = writeRequest(data.data(), last, 1, 512);
    ASSERT_TRUE(write(request).ok);
    EXPECT_EQ(recordOf<SCSI_PASS_THROUGH_DIRECT>(request).ScsiStatus, sim::scsi::kGood);
    EXPECT_EQ(reader->drive().sectorsStored(), 4u);
}

TEST_F(SimDriveTest, WritesTheCardCannotTakeStoreNothing) {
    const std::uint32_t last = sim::cards::standard1Gb().lastBlockAddress;
    const struct {
        const char* name;
        sim::MemoryCard card;
        bool in;
        std::uint32_t lba;
        std::uint16_t blocks;
        DWORD transfer;
        UCHAR dataIn;
        UCHAR key;
        UCHAR asc;
    } kCases[] = {
        {"past the last block", sim::cards::standard1Gb(), true, last, 2, 1024, SCSI_IOCTL_DATA_OUT,
         sim::scsi::kIllegalRequest, sim::scsi::kAscLbaOutOfRange},
        {"transfer not the block count", sim::cards::standard1Gb(), true, 0, 2, 512, SCSI_IOCTL_DATA_OUT,
         sim::scsi::kIllegalRequest, sim::scsi::kAscInvalidFieldInCdb},
        {"data coming in", sim::cards::standard1Gb(), true, 0, 1, 512, SCSI_IOCTL_DATA_IN, sim::scsi::kIllegalRequest,
         sim::scsi::kAscInvalidFieldInCdb},
        {"write-protected card", sim::cards::standard1GbWriteProtected(), true, 0, 1, 512, SCSI_IOCTL_DATA_OUT,
         sim::scsi::kDataProtect, sim::scsi::kAscWriteProtected},
        {"no card", sim::cards::standard1Gb(), false, 0, 1, 512, SCSI_IOCTL_DATA_OUT, sim::scsi::kNotReady,
         sim::scsi::kAscMediumNotPresent},
    };
    const std::vector<BYTE> data(1024, 0xAB);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        reader->insertCard(c.card);
        if (!c.in)
            reader->remove();
        std::vector<BYTE> request = writeRequest(data.data(), c.lba, c.blocks, c.transfer);
        request[offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn)] = c.dataIn;
        Reply r = write(request);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.returned, kDirectSenseAt + sim::scsi::kSenseBytes);
        EXPECT_EQ(recordOf<SCSI_PASS_THROUGH_DIRECT>(request).ScsiStatus, sim::scsi::kCheckCondition);
        EXPECT_EQ(request[kDirectSenseAt + 2], c.key);
        EXPECT_EQ(request[kDirectSenseAt + 12], c.asc);
        EXPECT_EQ(reader->drive().sectorsStored(), 0u);
    }
    reader->insert(sim::Card::Memory);
    std::vector<BYTE> request = writeRequest(nullptr, 0, 1, 512);
    EXPECT_EQ(write(request).error, static_cast<DWORD>(ERROR_NOACCESS));
}

TEST_F(SimDriveTest, EachRequestCanBeMadeToFailOnce) {
    reader->insert(sim::Card::Memory);
    const std::vector<BYTE> data(512, 0x11);
    const struct {
        DriveRequest request;
        std::function<Reply()> send;
    } kCases[] = {
        {DriveRequest::Open, [&] { return once('E', FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0); }},
        {DriveRequest::QueryProperty,
         [&] {
             std::vector<BYTE> out(2048);
             return query('E', out);
         }},
        {DriveRequest::ReadCapacity,
         [&] {
             std::vector<BYTE> b = capacityRequest();
             return readCapacity(b);
         }},
        {DriveRequest::Geometry,
         [&] {
             DISK_GEOMETRY g;
             return geometry('E', &g);
         }},
        {DriveRequest::LockVolume, [&] { return once('E', FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0); }},
        {DriveRequest::Write,
         [&] {
             std::vector<BYTE> request = writeRequest(data.data(), 0, 1, 512);
             return write(request);
         }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(static_cast<int>(c.request));
        reader->drive().failRequest(c.request, ERROR_GEN_FAILURE, 1);
        EXPECT_EQ(c.send().error, static_cast<DWORD>(ERROR_GEN_FAILURE));
        EXPECT_TRUE(c.send().ok);
    }
}

TEST_F(SimDriveTest, ChosenScsiStatusesMoveNoData) {
    reader->insert(sim::Card::Memory);
    reader->drive().answerScsiStatus(DriveRequest::ReadCapacity, sim::scsi::kCheckCondition);
    std::vector<BYTE> b = capacityRequest();
    ASSERT_TRUE(readCapacity(b).ok);
    EXPECT_EQ(recordOf<SCSI_PASS_THROUGH>(b).ScsiStatus, sim::scsi::kCheckCondition);
    EXPECT_EQ(b[kSenseAt + 2], sim::scsi::kHardwareError);
    EXPECT_EQ(le32At(b, kDataAt), 0u);

    constexpr UCHAR kBusy = 0x08;
    reader->drive().answerScsiStatus(DriveRequest::Write, kBusy);
    const std::vector<BYTE> data(512, 0x22);
    std::vector<BYTE> request = writeRequest(data.data(), 0, 1, 512);
    ASSERT_TRUE(write(request).ok);
    EXPECT_EQ(recordOf<SCSI_PASS_THROUGH_DIRECT>(request).ScsiStatus, kBusy);
    EXPECT_EQ(reader->drive().sectorsStored(), 0u);
    EXPECT_EQ(reader->drive().writes().at(0).scsiStatus, kBusy);
}

TEST_F(SimDriveTest, RawDescriptorBytesComeBackAsChosen) {
    reader->drive().answerRawDescriptor({'x', 'y', 'z'}, 3000);
    std::vector<BYTE> out(2048, 0xEE);
    Reply r = query('E', out);
    EXPECT_EQ(r.returned, 2048u) << "never more than the caller's buffer";
    EXPECT_EQ(out[2], 'z');
    EXPECT_EQ(out[3], 0);
    reader->drive().answerRawDescriptor({1, 2, 3, 4, 5});
    EXPECT_EQ(query('E', out).returned, 5u);
    reader->drive().clearMisbehaviour();
    EXPECT_EQ(query('E', out).returned, reader->drive().descriptor().size());
}

} // namespace
