// DDSysInit and the discovery of the maker's controller: which device is
// taken, what is opened and sent, every platform call failing in turn, and
// the trivial exports around it.
#include "card_fixture.h"

#include <cstring>
#include <map>
#include <string>

namespace {

constexpr GUID kStoragePort = sim::CardReader::kStoragePortInterface;
const HANDLE kInvalid = INVALID_HANDLE_VALUE;

// A device object that answers every request with success and nothing else.
struct QuietDevice : sim::DeviceObject {
    sim::ControlReply control(const sim::ControlRequest& r) override { return {ERROR_SUCCESS, r.outSize}; }
};

// Devices of the test's choosing that come before the reader's controller
// in enumeration order.
class DiscoveryTest : public CardTest {
  protected:
    void SetUp() override {
        machine = std::make_unique<sim::Machine>();
        addEarlierDevices();
        reader = std::make_unique<sim::CardReader>(*machine);
        reader->install();
        reader->insert(sim::Card::Memory);
        ferrocard::resetLibraryState();
    }
    virtual void addEarlierDevices() {}

    // A storage controller with `interfaces` storage-port interfaces, each
    // opening to a quiet device; answers the first interface's path.
    std::string addController(const std::string& id, const std::string& description, int interfaces = 1,
                              const std::string& reference = "") {
        DEVINST d = machine->devices().add(id, description);
        std::string first;
        for (int i = 0; i < interfaces; ++i) {
            std::string path =
                machine->devices().addInterface(d, kStoragePort, i ? reference + std::to_string(i) : reference);
            machine->files().attach(path, std::make_shared<QuietDevice>());
            if (i == 0)
                first = path;
        }
        return first;
    }
    std::string openedPath() const { return ferrocard::library().controllerPath; }
};

TEST_F(DiscoveryTest, FindsTheControllerAnnouncesItAndOpensItAgain) {
    EXPECT_EQ(DDSysInit(), 0u);
    EXPECT_EQ(openedPath(), reader->interfacePath());
    EXPECT_TRUE(controllerOpen());

    // Opened twice, both times for reading and writing, shared, existing.
    auto opens = machine->records().calls("CreateFileA");
    ASSERT_EQ(opens.size(), 2u);
    for (const auto& open : opens)
        EXPECT_EQ(open.arguments, "\"" + reader->interfacePath() + "\",0xc0000000,0x3,NULL,0x3,0x80,NULL");
    auto setList = machine->records().calls("SetupDiGetClassDevsA");
    ASSERT_EQ(setList.size(), 1u);
    EXPECT_NE(setList[0].arguments.find(",NULL,NULL,0x12"), std::string::npos) << setList[0].arguments;

    // The announcement goes on the first open, closed before the second.
    std::vector<std::string> handled;
    for (const auto& c : machine->records().calls())
        if (c.function == "CreateFileA" || c.function == "DeviceIoControl" || c.function == "CloseHandle")
            handled.push_back(c.function);
    EXPECT_EQ(handled, (std::vector<std::string>{"CreateFileA", "DeviceIoControl", "CloseHandle", "CreateFileA"}));
    // The announcement: a 4-byte payload of zeros in a packet sized 32.
    auto sent = packets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].path, reader->interfacePath());
    EXPECT_EQ(sent[0].inSize, 32u);
    EXPECT_EQ(sent[0].outSize, 32u);
    EXPECT_EQ(field(sent[0].in, 16), 0xA00000CCu);
    EXPECT_EQ(field(sent[0].in, 24), 4u);
    EXPECT_EQ(field(sent[0].in, 28), 0u);
}

TEST_F(DiscoveryTest, WithoutAControllerNothingIsOpenAndCommandsFail) {
    reader->bind(sim::Binding::Standard);
    EXPECT_EQ(DDSysInit(), 0x13FFu);
    EXPECT_EQ(ferrocard::library().controller, kInvalid);
    EXPECT_EQ(openedPath(), "");
    EXPECT_EQ(DDChangeSA(), 0x12FFu);
    EXPECT_TRUE(packets().empty());
}

// Without the device-setup DLL from the system folder there is no looking.
TEST_F(DiscoveryTest, AMissingSystemDllFindsNoController) {
    machine->faults().failAlways("PlatformLoadSystemDlls", ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(DDSysInit(), 0x13FFu);
    EXPECT_EQ(machine->faults().calls("SetupDiGetClassDevsA"), 0u);
    EXPECT_EQ(openedPath(), "");
}

TEST_F(DiscoveryTest, TheTrivialExportsAnswerZeroInEveryState) {
    using Trivial = uint32_t (*)();
    const Trivial trivial[] = {DDInit, DDLockDrive, DDUnlockDrive, DDSysFini};
    uint32_t capacityClass = 0xFFFFFFFF;
    EXPECT_EQ(DDSecureIdentify(&capacityClass), 0u);
    EXPECT_EQ(capacityClass, 0u); // no drive probed yet
    for (Trivial f : trivial)
        EXPECT_EQ(f(), 0u);
    ASSERT_EQ(DDSysInit(), 0u);
    for (Trivial f : trivial)
        EXPECT_EQ(f(), 0u);
    EXPECT_TRUE(controllerOpen());
}

TEST_F(DiscoveryTest, AfterSysFiniCommandsStillReachTheController) {
    ASSERT_EQ(DDSysInit(), 0u);
    EXPECT_EQ(DDSysFini(), 0u);
    uint8_t mid[8] = {};
    EXPECT_EQ(DDGetMID(mid), 0u);
    EXPECT_EQ(mid[0], driver().registers().mediaId[0]);
}

TEST_F(DiscoveryTest, ARepeatedSysInitClosesTheHandleItReplaces) {
    ASSERT_EQ(DDSysInit(), 0u);
    HANDLE first = ferrocard::library().controller;
    ASSERT_EQ(DDSysInit(), 0u);
    EXPECT_NE(ferrocard::library().controller, first);
    EXPECT_EQ(machine->openHandles(), 1u);
}

TEST_F(DiscoveryTest, AControllerThatWillNotOpenTheSecondTimeLeavesANullHandle) {
    machine->faults().failNth("CreateFileA", 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(DDSysInit(), 0x13FFu);
    EXPECT_EQ(ferrocard::library().controller, nullptr);
    uint8_t mid[8];
    std::memset(mid, 0xEE, sizeof mid);
    EXPECT_EQ(DDGetMID(mid), 0x12FFu);
    EXPECT_EQ(mid[0], 0u); // the payload as it stood: zeros
}

TEST_F(DiscoveryTest, AFailedDiscoveryKeepsTheHandleOfTheLastSuccess) {
    ASSERT_EQ(DDSysInit(), 0u);
    HANDLE open = ferrocard::library().controller;
    reader->bind(sim::Binding::Standard);
    EXPECT_EQ(DDSysInit(), 0x13FFu);
    EXPECT_EQ(ferrocard::library().controller, open);
}

// Every platform call of a successful DDSysInit, failed in turn. A failed
// release call is not swept: it leaves what it was to release, whoever calls.
TEST_F(DiscoveryTest, EachPlatformCallFailingInTurn) {
    ASSERT_EQ(DDSysInit(), 0u);
    std::vector<std::string> calls;
    for (const auto& c : machine->records().calls())
        calls.push_back(c.function);
    ASSERT_GE(calls.size(), 10u);
    std::map<std::string, unsigned> seen;
    int swept = 0;
    for (const std::string& function : calls) {
        unsigned nth = ++seen[function];
        if (function == "CloseHandle" || function == "SetupDiDestroyDeviceInfoList" || function == "HeapFree")
            continue;
        TearDown();
        SetUp();
        SCOPED_TRACE(function + " #" + std::to_string(nth));
        machine->faults().failNth(function, nth, ERROR_GEN_FAILURE);
        // Only the announcement's answer is not looked at.
        EXPECT_EQ(DDSysInit(), function == "DeviceIoControl" ? 0u : 0x13FFu);
        EXPECT_EQ(machine->heapBlocks(), 0u);
        EXPECT_EQ(machine->openDeviceLists(), 0u);
        EXPECT_EQ(machine->openHandles(), controllerOpen() ? 1u : 0u);
        ++swept;
    }
    EXPECT_GE(swept, 9);
}

class CaseTest : public DiscoveryTest {
  protected:
    void addEarlierDevices() override {
        upper = addController("PCI\\VEN_1B2C&DEV_4321&SUBSYS_10001B2C&REV_01\\4&11&0&00E2",
                              "HALVEX INTEGRATED MMC/SD CONTROLLER");
    }
    std::string upper;
};

TEST_F(CaseTest, TheFirstMatchingControllerIsTakenWhateverItsLetterCase) {
    EXPECT_EQ(DDSysInit(), 0u);
    EXPECT_EQ(openedPath(), upper);
}

class OtherControllersTest : public DiscoveryTest {
  protected:
    // A storage controller of another maker with two storage-port
    // interfaces, one whose description does not fit the library's buffer,
    // and one whose description only begins with the maker's; all come
    // before the reader's.
    void addEarlierDevices() override {
        addController("PCI\\VEN_8086&DEV_2822&SUBSYS_00000000&REV_02\\3&0&0&FA", "Intel RAID Controller", 2, "port");
        addController("PCI\\VEN_1B2C&DEV_9999&SUBSYS_00000000&REV_01\\3&0&0&FB",
                      std::string(kControllerDescription) + std::string(600, ' '));
        addController("PCI\\VEN_1B2C&DEV_9998&SUBSYS_00000000&REV_01\\3&0&0&FC",
                      std::string(kControllerDescription) + " 2");
    }
    static constexpr const char* kControllerDescription = "Halvex Integrated MMC/SD controller";
};

TEST_F(OtherControllersTest, TheMatchedDevicesOwnInterfaceIsOpened) {
    // Counting the matched device's place among all the set's interfaces
    // would open the other maker's second port.
    EXPECT_EQ(DDSysInit(), 0u);
    EXPECT_EQ(openedPath(), reader->interfacePath());
    EXPECT_EQ(machine->faults().calls("SetupDiGetDeviceRegistryPropertyA"), 4u); // the long one was read, and skipped
}

class LongPathTest : public DiscoveryTest {
  protected:
    void pathOf(std::size_t length) {
        // The reference string pads the interface path to `length` characters.
        std::string id = "PCI\\VEN_1B2C&DEV_5555&SUBSYS_10001B2C&REV_01\\4&0&0&00E3";
        std::string base = "\\\\?\\" + std::string(id.size(), 'x') + "#{2accfe60-c130-11d2-b082-00a0c91efb8b}\\";
        path = addController(id, "Halvex Integrated MMC/SD controller", 1, std::string(length - base.size(), 'r'));
        ASSERT_EQ(path.size(), length);
    }
    std::string path;
};

class PathOf511 : public LongPathTest {
    void addEarlierDevices() override { pathOf(511); }
};
class PathOf512 : public LongPathTest {
    void addEarlierDevices() override { pathOf(512); }
};

TEST_F(PathOf511, IsTakenWhole) {
    EXPECT_EQ(DDSysInit(), 0u);
    EXPECT_EQ(openedPath(), path);
}

TEST_F(PathOf512, IsNotFoundAndNeverCut) {
    EXPECT_EQ(DDSysInit(), 0x13FFu);
    EXPECT_EQ(openedPath(), "");
    EXPECT_EQ(machine->faults().calls("CreateFileA"), 0u);
}

} // namespace
