// DDWritePT: sectors written to the card's drive with WRITE(10) through the
// direct pass-through, the caller's buffer handed over in place.
#include "card_fixture.h"

#include "platform/sim/card_catalogue.h"
#include "platform/sim/drive_letters.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace {

class WritePtTest : public CardTest {
  protected:
    void SetUp() override {
        CardTest::SetUp();
        reader->remove();
        reader->insertCard(sim::cards::extended2Tb()); // room for the sector 0x12345678
        initialise();
        uint16_t id = 0, status = 0;
        ASSERT_EQ(DDSysDrive(0, &id), 0u);
        ASSERT_EQ(DDChkSDCard(id, &status), 0u); // clears the write-protect flag
        machine->files().clearRequests();
        machine->records().clear();
    }
    std::vector<sim::IoRecord> writes() const { return machine->files().requests(IOCTL_SCSI_PASS_THROUGH_DIRECT); }
    static std::vector<BYTE> pattern(std::size_t sectors) {
        std::vector<BYTE> data(sectors * 512);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<BYTE>(i * 7 + i / 512);
        return data;
    }
    template <class T> static T at(const std::vector<BYTE>& record, std::size_t offset) {
        T value;
        std::memcpy(&value, record.data() + offset, sizeof value);
        return value;
    }
};

TEST_F(WritePtTest, TheWriteCommandBlockAndTheDataInPlace) {
    const auto data = pattern(256);
    auto t0 = machine->now();
    EXPECT_EQ(DDWritePT(data.data(), 256, 0x12345678), 0u);
    EXPECT_EQ(machine->now() - t0, 60u); // the pause after a write that opened the drive

    auto sent = writes();
    ASSERT_EQ(sent.size(), 1u);
    const auto& r = sent[0].in;
    EXPECT_EQ(sent[0].path, "\\\\.\\E:");
    EXPECT_EQ(at<USHORT>(r, offsetof(SCSI_PASS_THROUGH_DIRECT, Length)), sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(r[offsetof(SCSI_PASS_THROUGH_DIRECT, PathId)], 0);
    EXPECT_EQ(r[offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId)], 1);
    EXPECT_EQ(r[offsetof(SCSI_PASS_THROUGH_DIRECT, Lun)], 0);
    EXPECT_EQ(r[offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength)], 10);
    EXPECT_EQ(r[offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength)], 24);
    EXPECT_EQ(r[offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn)], SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(at<ULONG>(r, offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength)), 131072u);
    EXPECT_EQ(at<ULONG>(r, offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue)), 2000u);
    EXPECT_EQ(at<const void*>(r, offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer)), data.data()); // no copy
    // The 32-byte sense area follows the structure and a 4-byte filler: at 48
    // of 80 bytes on 32-bit Windows, at 60 of 96 here.
    const std::size_t senseAt = at<ULONG>(r, offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
    const std::size_t align = alignof(SCSI_PASS_THROUGH_DIRECT);
    EXPECT_EQ(senseAt, sizeof(SCSI_PASS_THROUGH_DIRECT) + 4);
    EXPECT_EQ(sent[0].inSize, (senseAt + 32 + align - 1) / align * align);
    EXPECT_EQ(sent[0].outSize, sent[0].inSize);
    const std::vector<BYTE> cdb(r.begin() + offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb),
                                r.begin() + offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) + 10);
    EXPECT_EQ(cdb, (std::vector<BYTE>{0x2A, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x01, 0x00, 0x00}));

    // The drive has the data at those sectors, and the volume was locked first.
    EXPECT_EQ(reader->drive().readSectors(0x12345678, 256), data);
    EXPECT_EQ(reader->drive().lockCount(), 1u);
    EXPECT_FALSE(reader->drive().locked()); // released with the handle
    EXPECT_EQ(reader->drive().openHandles(), 0u);
    // The drive is checked, locked, written and closed; then the pause.
    std::vector<std::string> calls;
    for (const auto& c : machine->records().calls())
        calls.push_back(c.function);
    EXPECT_EQ(calls, (std::vector<std::string>{"CreateFileA", "DeviceIoControl", "DeviceIoControl", "DeviceIoControl",
                                               "CloseHandle", "Sleep"}));
}

// Refused with the flag as at load, and after a card check that could not
// ask one of its questions: the switch may be on.
TEST_F(WritePtTest, RefusedWhileWriteProtectedWithNothingOpened) {
    const auto data = pattern(1);
    for (uint32_t failing : {0u, 0xA0000038u, 0xA0000068u}) {
        SCOPED_TRACE(failing);
        uint16_t status = 0;
        ferrocard::library().writeProtected = 1;
        if (failing) {
            ASSERT_EQ(DDChkSDCard(5, &status), 0u);
            driver().setReply(failing, sim::CommandReply::Fails, 1);
            ASSERT_EQ(DDChkSDCard(5, &status), 0x12FFu);
        }
        machine->records().clear();
        const auto t0 = machine->now();
        EXPECT_EQ(DDWritePT(data.data(), 1, 0), 0x1005u);
        EXPECT_EQ(DDSecureWrite(data.data(), 1), 0x1005u);
        EXPECT_TRUE(machine->records().calls().empty());
        EXPECT_EQ(machine->now(), t0);
    }
}

TEST_F(WritePtTest, FailuresOfTheDriveAndItsRequests) {
    const auto data = pattern(2);
    // Another disk that took the reader's letter since the probe (here the
    // reader's drive answering as one) is neither locked nor written.
    const struct {
        const char* what;
        void (*spoil)(sim::CardReader&);
        uint32_t status;
        std::uint64_t pauseMs;
        bool stored;
        std::size_t requests; // that reached the drive
    } cases[] = {
        {"the lock refused: the write goes ahead",
         [](sim::CardReader& r) { r.drive().failRequest(sim::DriveRequest::LockVolume, ERROR_ACCESS_DENIED, 1); }, 0,
         60, true, 3},
        {"the drive will not open",
         [](sim::CardReader& r) { r.drive().failRequest(sim::DriveRequest::Open, ERROR_ACCESS_DENIED, 1); }, 0x12FF, 0,
         false, 0},
        {"the request fails",
         [](sim::CardReader& r) { r.drive().failRequest(sim::DriveRequest::Write, ERROR_IO_DEVICE, 1); }, 0x12FF, 60,
         false, 3},
        {"CHECK CONDITION", [](sim::CardReader& r) { r.drive().answerScsiStatus(sim::DriveRequest::Write, 2, 1); },
         0x12FF, 60, false, 3},
        {"the descriptor cannot be read",
         [](sim::CardReader& r) { r.drive().failRequest(sim::DriveRequest::QueryProperty, ERROR_IO_DEVICE, 1); },
         0x12FF, 60, false, 1},
        {"a USB stick's descriptor",
         [](sim::CardReader& r) { r.drive().answerRawDescriptor(sim::DiskDrive(sim::drives::usbStick()).descriptor()); },
         0x12FF, 60, false, 1},
    };
    uint32_t lba = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil(*reader);
        machine->records().clear();
        const auto t0 = machine->now();
        EXPECT_EQ(DDWritePT(data.data(), 2, lba), c.status);
        EXPECT_EQ(machine->now() - t0, c.pauseMs);
        EXPECT_EQ(reader->drive().readSectors(lba, 2) == data, c.stored);
        EXPECT_EQ(reader->drive().openHandles(), 0u);
        EXPECT_EQ(machine->records().calls("DeviceIoControl").size(), c.requests);
        reader->drive().clearMisbehaviour();
        lba += 10;
    }
}

// Refused before the drive is opened: a null buffer with sectors to write,
// and a range whose last sector is past the 2^32 - 1 that WRITE(10) can name
// (rather than wrapped round to sector 0). A range that ends at that sector
// is written; no sectors need no buffer, and a WRITE(10) of none goes to the
// drive and stores nothing.
TEST_F(WritePtTest, NullBuffersAndRangesPastTheLastSector) {
    reader->remove();
    sim::MemoryCard card = sim::cards::extended2Tb();
    card.lastBlockAddress = 0xFFFFFFFF; // every sector WRITE(10) can name
    reader->insertCard(card);
    const auto data = pattern(2);
    const struct {
        const char* what;
        const BYTE* data;
        uint16_t secsize;
        uint32_t offset;
        uint32_t status;
        std::size_t written; // WRITE(10) requests that reached the drive
    } cases[] = {
        {"a null buffer with a sector to write", nullptr, 1, 0, 0x12FF, 0},
        {"no sectors and no buffer", nullptr, 0, 0x100, 0, 1},
        {"ending at sector 2^32 - 1", data.data(), 2, 0xFFFFFFFE, 0, 1},
        {"ending one past it", data.data(), 2, 0xFFFFFFFF, 0x12FF, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine->records().clear();
        machine->files().clearRequests();
        const std::size_t stored = reader->drive().sectorsStored();
        EXPECT_EQ(DDWritePT(c.data, c.secsize, c.offset), c.status);
        EXPECT_EQ(writes().size(), c.written);
        EXPECT_EQ(machine->records().calls().empty(), c.written == 0); // not even opened
        EXPECT_EQ(reader->drive().sectorsStored() - stored, c.status ? 0u : c.secsize);
    }
    EXPECT_EQ(reader->drive().readSectors(0xFFFFFFFE, 2), data);
}

TEST_F(WritePtTest, BeforeAnyDriveWasFoundThereIsNothingToOpen) {
    restartLibrary();
    ASSERT_EQ(DDSysInit(), 0u);
    ferrocard::library().writeProtected = 0;
    const auto data = pattern(1);
    EXPECT_EQ(DDWritePT(data.data(), 1, 0), 0x12FFu);
    EXPECT_EQ(machine->records().calls("CreateFileA").back().arguments.substr(0, 8), "\"\\\\.\\@:\"");
}

} // namespace
