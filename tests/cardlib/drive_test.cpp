// The drive side: DDSysDrive finds the reader's letter, DDChkSDCard asks the
// card, DDIdentify reports its size, geometry and CSD size fields, for every
// kind of real card; and the probe's answers to drives and drivers that are
// not what it looks for.
#include "card_fixture.h"

#include "platform/sim/card_catalogue.h"
#include "platform/sim/drive_letters.h"

#include <string>

namespace {

struct Identity {
    uint32_t noSectors = 0xEEEEEEEE, erasesize = 0xEEEEEEEE;
    uint16_t cylinders = 0xEEEE, heads = 0xEEEE, bytesPerSector = 0xEEEE, sectorsPerTrack = 0xEEEE, Csize = 0xEEEE;
    uint8_t readBlLen = 0xEE, CsizeMult = 0xEE, reserved1 = 0xEE, reserved2 = 0xEE;
    uint32_t identify() {
        return DDIdentify(&noSectors, &erasesize, &cylinders, &heads, &bytesPerSector, &sectorsPerTrack, &readBlLen,
                          &Csize, &CsizeMult, &reserved1, &reserved2);
    }
    bool untouched() const { return Identity().noSectors == noSectors && cylinders == 0xEEEE && reserved2 == 0xEE; }
};

class DriveTest : public CardTest {
  protected:
    void SetUp() override {
        CardTest::SetUp();
        initialise();
    }
    void insert(const sim::MemoryCard& card) {
        reader->remove();
        reader->insertCard(card);
    }
    uint16_t findDrive() {
        uint16_t id = 0;
        EXPECT_EQ(DDSysDrive(0, &id), 0u);
        return id;
    }
    uint32_t capacityClass() {
        uint32_t c = 0xFFFFFFFF;
        EXPECT_EQ(DDSecureIdentify(&c), 0u);
        return c;
    }
    std::vector<std::string> traced() const {
        std::vector<std::string> lines;
        for (const auto& l : machine->records().debugOutput())
            lines.push_back(l.text);
        return lines;
    }
};

// The worked example: 1,984,512 sectors reported as 123 cylinders of 255
// tracks of 63 sectors: 992 MB, class 20480.
TEST_F(DriveTest, TheNineHundredNinetyTwoMegabyteCard) {
    insert(sim::cards::standard992Mb());
    EXPECT_EQ(findDrive(), 5); // E:
    EXPECT_EQ(traced(), (std::vector<std::string>{"DiskGeo: \n", "\tByte per sector: 512\n", "\tCylinders: 123\n",
                                                  "\tTracksPerCylinder: 255\n", "Size: 992 MB\n"}));
    Identity id;
    ASSERT_EQ(id.identify(), 0u);
    EXPECT_EQ(id.noSectors, 1984512u);
    EXPECT_EQ(id.heads, 32);
    EXPECT_EQ(id.sectorsPerTrack, 63);
    EXPECT_EQ(id.cylinders, 984);
    EXPECT_EQ(id.bytesPerSector, 512);
    EXPECT_EQ(capacityClass(), 20480u);

    // The capacity request as sent: the structure's first bytes in, the whole
    // buffer out; sense area after a 4-byte filler, data area after the sense.
    const auto sent = machine->files().requests(IOCTL_SCSI_PASS_THROUGH);
    ASSERT_EQ(sent.size(), 2u); // one per probe
    const auto& r = sent[0].in;
    const std::size_t senseAt = sizeof(SCSI_PASS_THROUGH) + 4, dataAt = senseAt + 32;
    EXPECT_EQ(sent[0].inSize, sizeof(SCSI_PASS_THROUGH));
    EXPECT_EQ(sent[0].outSize, (dataAt + 704 - 80 + alignof(SCSI_PASS_THROUGH) - 1) / alignof(SCSI_PASS_THROUGH) *
                                   alignof(SCSI_PASS_THROUGH));
    auto at = [&r](std::size_t offset, std::size_t width) {
        return std::vector<BYTE>(r.begin() + offset, r.begin() + offset + width);
    };
    EXPECT_EQ(at(offsetof(SCSI_PASS_THROUGH, Length), 2), (std::vector<BYTE>{sizeof(SCSI_PASS_THROUGH), 0}));
    // PathId 0, TargetId 1, Lun 0, CdbLength 10, SenseInfoLength 24, DataIn 1
    EXPECT_EQ(at(offsetof(SCSI_PASS_THROUGH, PathId), 6), (std::vector<BYTE>{0, 1, 0, 10, 24, 1}));
    EXPECT_EQ(field(r, offsetof(SCSI_PASS_THROUGH, DataTransferLength)), 192u);
    EXPECT_EQ(field(r, offsetof(SCSI_PASS_THROUGH, TimeOutValue)), 2u);
    EXPECT_EQ(field(r, offsetof(SCSI_PASS_THROUGH, DataBufferOffset)), dataAt);
    EXPECT_EQ(field(r, offsetof(SCSI_PASS_THROUGH, SenseInfoOffset)), senseAt);
    EXPECT_EQ(at(offsetof(SCSI_PASS_THROUGH, Cdb), 16), (std::vector<BYTE>{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Image bytes 5 to 11 of 59 83 C4 F6 DB BF EF: a standard layout's C_SIZE
// 3859, or 63195 (0xF6DB) read as a high-capacity card's.
TEST_F(DriveTest, OneImageDecodedBothWays) {
    for (uint32_t highCapacity : {0u, 1u}) {
        sim::MemoryCard card = sim::cards::standard1Gb();
        card.registers.highCapacityAnswer = highCapacity;
        insert(card);
        EXPECT_EQ(findDrive(), 5);
        uint16_t status = 0;
        ASSERT_EQ(DDChkSDCard(5, &status), 0u);
        Identity id;
        ASSERT_EQ(id.identify(), 0u);
        EXPECT_EQ(id.readBlLen, 9);
        EXPECT_EQ(id.erasesize, 128u);
        EXPECT_EQ(id.Csize, highCapacity ? 63195 : 3859);
        EXPECT_EQ(id.CsizeMult, highCapacity ? 0 : 7);
    }
}

// Every card of the catalogue, with and without a card check before: the
// check sets the high-capacity flag that picks the Csize layout. The values
// come from each card's fields, not from its bytes.
TEST_F(DriveTest, EveryKindOfCard) {
    const struct {
        const char* name;
        sim::MemoryCard (*card)();
        uint32_t sectors, capacityClass;
        uint16_t heads, sectorsPerTrack, cylinders;
        uint32_t erasesize;
        uint8_t readBlLen;
        uint16_t status;
        uint16_t csize;      // after a card check
        uint8_t csizeMult;   // after a card check
        uint16_t plainCsize; // without one: the standard layout over the image
        uint8_t plainMult;
    } cases[] = {
        {"standard128Mb", sim::cards::standard128Mb, 246784u, 2560, 8, 32, 964, 128, 9, 0x0001, 3855, 4, 3855, 4},
        {"standard992Mb", sim::cards::standard992Mb, 1984512u, 20480, 32, 63, 984, 128, 9, 0x0001, 3875, 7, 3875, 7},
        {"standard1Gb", sim::cards::standard1Gb, 1976320u, 20480, 32, 63, 980, 128, 9, 0x0001, 3859, 7, 3859, 7},
        {"standard1GbWriteProtected", sim::cards::standard1GbWriteProtected, 1976320u, 20480, 32, 63, 980, 128, 9,
         0x0003, 3859, 7, 3859, 7},
        {"standard2Gb", sim::cards::standard2Gb, 3970048u, 40960, 64, 63, 984, 32, 10, 0x0001, 3876, 7, 3876, 7},
        {"standard4Gb", sim::cards::standard4Gb, 7880704u, 65536, 128, 63, 977, 128, 11, 0x0001, 3847, 7, 3847, 7},
        {"high4Gb", sim::cards::high4Gb, 7710720u, 65536, 128, 63, 956, 128, 9, 0x0005, 7529, 0, 0, 2},
        {"high8Gb", sim::cards::high8Gb, 15523840u, 98304, 255, 63, 966, 128, 9, 0x0005, 15159, 0, 0, 6},
        {"high32Gb", sim::cards::high32Gb, 67108864u, 262144, 255, 63, 4177, 128, 9, 0x0005, 65535, 0, 3, 6},
        {"extended32Gb", sim::cards::extended32Gb, 67109888u, 262144, 255, 63, 4177, 128, 9, 0x0011, 0, 0, 4, 0},
        {"extended64Gb", sim::cards::extended64Gb, 124059648u, 262144, 255, 63, 7722, 128, 9, 0x0011, 55615, 0, 7, 6},
        {"extended128Gb", sim::cards::extended128Gb, 244809728u, 262144, 255, 63, 15238, 128, 9, 0x0011, 42463, 0, 14,
         6},
        {"extended2Tb", sim::cards::extended2Tb, 4294705152u, 262144, 255, 63, 5189, 128, 9, 0x0011, 65279, 0, 255, 6},
    };
    for (const auto& c : cases)
        for (bool checked : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (checked ? ", checked first" : ", not checked"));
            restartLibrary();
            ASSERT_EQ(DDSysInit(), 0u);
            insert(c.card());
            EXPECT_EQ(findDrive(), 5);
            if (checked) {
                uint16_t status = 0;
                EXPECT_EQ(DDChkSDCard(5, &status), 0u);
                EXPECT_EQ(status, c.status);
                EXPECT_EQ(ferrocard::library().writeProtected, (c.status & 2) ? 1u : 0u);
                EXPECT_EQ(ferrocard::library().highCapacity, (c.status & 0x14) ? 1u : 0u);
            }
            Identity id;
            ASSERT_EQ(id.identify(), 0u);
            EXPECT_EQ(id.noSectors, c.sectors);
            EXPECT_EQ(id.erasesize, c.erasesize);
            EXPECT_EQ(id.cylinders, c.cylinders);
            EXPECT_EQ(id.heads, c.heads);
            EXPECT_EQ(id.bytesPerSector, 512);
            EXPECT_EQ(id.sectorsPerTrack, c.sectorsPerTrack);
            EXPECT_EQ(id.readBlLen, c.readBlLen);
            EXPECT_EQ(id.Csize, checked ? c.csize : c.plainCsize);
            EXPECT_EQ(id.CsizeMult, checked ? c.csizeMult : c.plainMult);
            EXPECT_EQ(id.reserved1, 0);
            EXPECT_EQ(id.reserved2, 0);
            EXPECT_EQ(capacityClass(), c.capacityClass);
        }
}

// Every bound of the capacity class table, and one MB more. The geometry
// gives (T + 1)(S + 1)(C + 1) bytes in units of 2048: with 255 tracks of 63
// sectors each cylinder is 8 MB.
TEST_F(DriveTest, EveryBoundOfTheCapacityClassTable) {
    const struct {
        uint32_t mb, capacityClass, nextClass;
        uint16_t heads, sectorsPerTrack;
    } bounds[] = {
        {8, 160, 320, 2, 32},
        {16, 320, 640, 2, 32},
        {32, 640, 1280, 4, 32},
        {64, 1280, 2560, 8, 32},
        {128, 2560, 5120, 8, 32},
        {256, 5120, 10240, 16, 32},
        {512, 10240, 20480, 16, 63},
        {1024, 20480, 40960, 32, 63},
        {2048, 40960, 65536, 64, 63},
        {4096, 65536, 98304, 128, 63},
        {8192, 98304, 131072, 255, 63},
        {16384, 131072, 163840, 255, 63},
        {32768, 163840, 262144, 255, 63},
    };
    auto withSize = [&](int64_t cylinders, DWORD tracks, DWORD sectors) {
        sim::MemoryCard card = sim::cards::standard1Gb();
        card.geometry = {cylinders, tracks, sectors, 512};
        insert(card);
        uint16_t id = 0;
        EXPECT_EQ(DDSysDrive(0, &id), 0u);
        return capacityClass();
    };
    for (const auto& b : bounds) {
        SCOPED_TRACE(std::to_string(b.mb) + " MB");
        // (0 + 1)(63 + 1)(C + 1) / 2048 = (C + 1) / 32 MB: exactly on the bound, then 1 MB more.
        EXPECT_EQ(withSize(b.mb * 32 - 1, 0, 63), b.capacityClass);
        EXPECT_EQ(withSize(b.mb * 32 + 31, 0, 63), b.nextClass);
        Identity id;
        withSize(b.mb * 32 - 1, 0, 63);
        ASSERT_EQ(id.identify(), 0u);
        EXPECT_EQ(id.heads, b.heads);
        EXPECT_EQ(id.sectorsPerTrack, b.sectorsPerTrack);
    }
    // Sizes of 2 TB and more take the largest class: the product is not cut
    // at 32 bits (where 2^32 bytes in 2048-byte units would read as 0 MB).
    EXPECT_EQ(withSize(262143, 255, 63), 262144u);
    EXPECT_EQ(withSize(0xFFFFFFFFll, 0xFFFFFFFFu, 0xFFFFFFFFu), 262144u);
}

TEST_F(DriveTest, CylindersAboveSixtyFiveThousandKeepTheirLowSixteenBits) {
    insert(sim::cards::extended2Tb()); // 4,294,705,152 sectors / 255 / 63 = 267,333 cylinders
    findDrive();
    Identity id;
    ASSERT_EQ(id.identify(), 0u);
    EXPECT_EQ(id.cylinders, 267333 & 0xFFFF);
}

TEST_F(DriveTest, TheReaderIsFoundAtItsLetterOnlyWithACardIn) {
    const struct {
        const char* what;
        char letter;
        bool cardIn;
        uint32_t status;
        uint16_t id;
    } cases[] = {
        {"at Z", 'Z', true, 0, 26},
        {"at D", 'D', true, 0, 4},
        {"without a card", 'E', false, 0x1002, 0x7777},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reader->remove();
        reader->setDriveLetter(c.letter);
        if (c.cardIn)
            reader->insertCard(sim::cards::standard1Gb());
        uint16_t id = 0x7777;
        EXPECT_EQ(DDSysDrive(0, &id), c.status);
        EXPECT_EQ(id, c.id);
    }
    // The drive ID of the last success stays when a later search fails.
    EXPECT_EQ(ferrocard::library().driveId, 4);
    // Only drive index 0 is searched, and only with somewhere to put the ID.
    reader->insertCard(sim::cards::standard1Gb());
    machine->records().clear();
    uint16_t id = 0x7777;
    EXPECT_EQ(DDSysDrive(1, &id), 0x1181u);
    EXPECT_EQ(id, 0x7777);
    EXPECT_EQ(DDSysDrive(0, nullptr), 0x1181u);
    EXPECT_TRUE(machine->records().calls("CreateFileA").empty());
}

TEST_F(DriveTest, OtherDrivesAreNotTheReader) {
    // Another maker's disks before the reader, and a drive of the maker whose
    // product is not an SD reader.
    sim::drives::putSystemDisk(*machine, 'C');
    sim::putDisk(*machine, 'D', sim::drives::usbStick(), sim::drives::usbStickMedium());
    sim::putDisk(*machine, 'F', sim::drives::otherMakersSdReader(), sim::cards::standard1Gb().medium());
    sim::DriveIdentity notAReader = reader->driveIdentity();
    notAReader.product = "SM/xD Reader    "; // "S", but not "SD"
    sim::putDisk(*machine, 'G', notAReader, sim::cards::standard1Gb().medium());
    reader->remove();
    reader->setDriveLetter('H');
    reader->insertCard(sim::cards::standard1Gb());
    uint16_t id = 0;
    EXPECT_EQ(DDSysDrive(0, &id), 0u);
    EXPECT_EQ(id, 8); // H:, past the four that are not the maker's SD reader
    // A and B are never tried, whatever they hold.
    EXPECT_EQ(machine->records().calls("CreateFileA").front().arguments.substr(0, 8), "\"\\\\.\\C:\"");
}

TEST_F(DriveTest, IdentifyBeforeAnyDriveWasFoundOpensTheAtSignAndWritesNothing) {
    Identity id;
    EXPECT_EQ(id.identify(), 0x12FFu);
    EXPECT_TRUE(id.untouched());
    auto opens = machine->records().calls("CreateFileA");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].arguments.substr(0, 8), "\"\\\\.\\@:\"");
    // Every pointer is needed; any one null is refused before anything is
    // done, even with a drive to identify.
    findDrive();
    machine->records().clear();
    for (int none = 0; none < 11; ++none) {
        auto p = [none](auto* out, int i) { return i == none ? nullptr : out; };
        EXPECT_EQ(DDIdentify(p(&id.noSectors, 0), p(&id.erasesize, 1), p(&id.cylinders, 2), p(&id.heads, 3),
                             p(&id.bytesPerSector, 4), p(&id.sectorsPerTrack, 5), p(&id.readBlLen, 6), p(&id.Csize, 7),
                             p(&id.CsizeMult, 8), p(&id.reserved1, 9), p(&id.reserved2, 10)),
                  0x12FFu)
            << none;
        EXPECT_TRUE(id.untouched());
    }
    EXPECT_TRUE(machine->records().calls().empty());
    EXPECT_EQ(DDSecureIdentify(nullptr), 0u);
}

TEST_F(DriveTest, IdentifyFailsWhenTheCardIsGoneOrTheCsdCannotBeRead) {
    insert(sim::cards::standard1Gb());
    findDrive();
    const uint32_t capacity = capacityClass();
    reader->remove(); // the geometry request now fails
    Identity id;
    EXPECT_EQ(id.identify(), 0x12FFu);
    EXPECT_TRUE(id.untouched());
    EXPECT_EQ(capacityClass(), capacity); // a failed probe leaves the class
    reader->insertCard(sim::cards::standard1Gb());
    driver().setReply(0xA000002C, sim::CommandReply::Fails, 1);
    EXPECT_EQ(id.identify(), 0x12FFu);
    EXPECT_TRUE(id.untouched());
    // A size READ CAPACITY(10) did not give is not reported, and no CSD is
    // read for it; the drive is still found. The last block address one below
    // the 0xFFFFFFFF that sends a caller to READ CAPACITY(16) is a size.
    const struct {
        const char* what;
        uint32_t lastBlock;
        void (*spoil)(sim::DiskDrive&);
        uint32_t status, noSectors;
    } capacities[] = {
        {"the request fails", 1976319,
         [](sim::DiskDrive& d) { d.failRequest(sim::DriveRequest::ReadCapacity, ERROR_IO_DEVICE, 2); }, 0x12FF,
         0xEEEEEEEE},
        {"CHECK CONDITION", 1976319,
         [](sim::DiskDrive& d) { d.answerScsiStatus(sim::DriveRequest::ReadCapacity, 2, 2); }, 0x12FF, 0xEEEEEEEE},
        {"0xFFFFFFFF", 0xFFFFFFFF, [](sim::DiskDrive&) {}, 0x12FF, 0xEEEEEEEE},
        {"0xFFFFFFFE", 0xFFFFFFFE, [](sim::DiskDrive&) {}, 0, 0xFFFFFFFF},
    };
    for (const auto& c : capacities) {
        SCOPED_TRACE(c.what);
        sim::MemoryCard card = sim::cards::standard1Gb();
        card.lastBlockAddress = c.lastBlock;
        insert(card);
        c.spoil(reader->drive());
        EXPECT_EQ(findDrive(), 5);
        machine->files().clearRequests();
        Identity failed;
        EXPECT_EQ(failed.identify(), c.status);
        EXPECT_EQ(failed.noSectors, c.noSectors);
        EXPECT_EQ(failed.untouched(), c.status != 0);
        EXPECT_EQ(packets().size(), c.status ? 0u : 1u);
    }
}

TEST_F(DriveTest, DescriptorsThatDoNotHoldTheirStringsFailTheProbe) {
    insert(sim::cards::standard1Gb());
    const std::vector<BYTE> good = reader->drive().descriptor();
    auto with = [&](std::size_t at, uint32_t value) {
        auto d = good;
        d[at] = BYTE(value);
        d[at + 1] = BYTE(value >> 8);
        d[at + 2] = BYTE(value >> 16);
        d[at + 3] = BYTE(value >> 24);
        return d;
    };
    const uint32_t vendorAt = good[12] | good[13] << 8;
    const uint32_t productAt = good[16] | good[17] << 8;
    const struct {
        const char* what;
        std::vector<BYTE> bytes;
        DWORD returned;
        bool found;
    } cases[] = {
        {"as the drive answers it", good, DWORD(good.size()), true},
        {"the vendor string at 0", with(12, 0), DWORD(good.size()), false},
        {"the vendor offset past the bytes returned", with(12, uint32_t(good.size())), DWORD(good.size()), false},
        {"the vendor offset past the buffer", with(12, 4000), DWORD(good.size()), false},
        {"the vendor offset near 2^32", with(12, 0xFFFFFFFE), DWORD(good.size()), false},
        {"the product offset past the bytes returned", with(16, uint32_t(good.size()) - 1), DWORD(good.size()), false},
        {"cut in the vendor string", good, DWORD(vendorAt + 5), false},
        {"cut right after the vendor's six letters, before the product", good, DWORD(vendorAt + 6),
         productAt < vendorAt},
        {"cut right after the product's two letters", good, DWORD(productAt + 2), productAt > vendorAt},
        {"no bytes returned", good, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reader->drive().answerRawDescriptor(c.bytes, c.returned);
        uint16_t id = 0;
        EXPECT_EQ(DDSysDrive(0, &id), c.found ? 0u : 0x1002u);
        EXPECT_EQ(machine->openHandles(), 1u); // the controller's alone
    }
}

TEST_F(DriveTest, NoDriveHandleStaysOpenAfterAnyProbe) {
    insert(sim::cards::standard1Gb());
    for (auto request :
         {sim::DriveRequest::QueryProperty, sim::DriveRequest::Geometry, sim::DriveRequest::ReadCapacity}) {
        reader->drive().failRequest(request, ERROR_IO_DEVICE, 1);
        uint16_t id = 0;
        DDSysDrive(0, &id);
        EXPECT_EQ(reader->drive().openHandles(), 0u);
    }
    uint16_t id = 0;
    EXPECT_EQ(DDSysDrive(0, &id), 0u);
    EXPECT_EQ(reader->drive().openHandles(), 0u);
    EXPECT_EQ(machine->openHandles(), 1u);
}

// DDChkSDCard's drive check and its two queries.
TEST_F(DriveTest, CardChecksAnswerByTheDriveIdAndTheQueries) {
    uint16_t status = 0x7777;
    EXPECT_EQ(DDChkSDCard(3, &status), 0x1181u); // before any DDSysDrive the drive ID is 0
    EXPECT_EQ(status, 0x7777);
    EXPECT_TRUE(packets().empty());
    EXPECT_EQ(DDChkSDCard(0, nullptr), 0x1181u);

    // A request that fails asks nothing, and the call fails; the other
    // question is still asked. Writes stay refused until a check gets both
    // answers; the high-capacity flag keeps the last answer.
    const struct {
        const char* what;
        uint32_t writeProtectAnswer, highCapacityAnswer;
        uint32_t failing; // the command that fails, if any
        uint32_t result;
        uint16_t status;
        uint32_t writeFlag, highFlag;
        std::size_t sent; // of the two queries and the CSD read, in order
    } cases[] = {
        {"write-protected standard card", 1, 0, 0, 0, 0x0003, 1, 0, 2},
        {"an answer of 2 is no", 2, 2, 0, 0, 0x0001, 0, 0, 2},
        {"high capacity, CSD read fails", 0, 1, 0xA000002C, 0x12FF, 0x0001, 0, 1, 3},
        {"write-protected high capacity, CSD read fails", 1, 1, 0xA000002C, 0x12FF, 0x0003, 1, 1, 3},
        {"the write-protect request fails", 0, 1, 0xA0000038, 0x12FF, 0x0011, 1, 1, 3},
        {"the high-capacity request fails", 0, 0, 0xA0000068, 0x12FF, 0x0001, 1, 1, 2},
        {"write-protected, the high-capacity request fails", 1, 0, 0xA0000068, 0x12FF, 0x0003, 1, 1, 2},
        {"both answered again", 0, 0, 0, 0, 0x0001, 0, 0, 2},
    };
    const std::vector<std::uint32_t> order = {0xA0000038, 0xA0000068, 0xA000002C};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine->files().clearRequests();
        auto r = driver().registers();
        r.writeProtectAnswer = c.writeProtectAnswer;
        r.highCapacityAnswer = c.highCapacityAnswer;
        driver().setRegisters(r);
        if (c.failing)
            driver().setReply(c.failing, sim::CommandReply::Fails, 1);
        EXPECT_EQ(DDChkSDCard(0, &status), c.result);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(ferrocard::library().writeProtected, c.writeFlag);
        EXPECT_EQ(ferrocard::library().highCapacity, c.highFlag);
        // Both queries, in this order, whatever the first answered.
        EXPECT_EQ(commandsSent(), std::vector<std::uint32_t>(order.begin(), order.begin() + c.sent));
    }
    // Only C_SIZE's six bits of byte 7 count, each of them: any one alone
    // makes a card above 32 GB; the two bits above them make none.
    auto r = driver().registers();
    r.highCapacityAnswer = 1;
    for (BYTE byte7 : {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0xC0}) {
        SCOPED_TRACE(int(byte7));
        r.csd[7] = byte7;
        r.csd[8] = r.csd[9] = 0xFF; // C_SIZE + 1 is 65536 without byte 7: at the bound, not above
        driver().setRegisters(r);
        EXPECT_EQ(DDChkSDCard(0, &status), 0u);
        EXPECT_EQ(status, byte7 == 0xC0 ? 0x0005 : 0x0011);
    }
    // Without a controller neither question can be asked.
    restartLibrary();
    EXPECT_EQ(DDChkSDCard(0, &status), 0x12FFu);
    EXPECT_EQ(status, 0x0001);
    EXPECT_EQ(ferrocard::library().writeProtected, 1u);
}

// DDFini holds and changes nothing: everything goes on working after it.
TEST_F(DriveTest, FiniChangesNothing) {
    EXPECT_EQ(DDFini(), 0u);
    insert(sim::cards::high8Gb());
    findDrive();
    const auto before = machine->now();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(DDFini(), 0u);
    EXPECT_EQ(machine->now(), before);
    EXPECT_TRUE(machine->records().calls().empty() || machine->records().calls().back().function != "Sleep");
    Identity id;
    EXPECT_EQ(id.identify(), 0u);
    EXPECT_EQ(ferrocard::library().drive.number, 5u);
}

} // namespace
