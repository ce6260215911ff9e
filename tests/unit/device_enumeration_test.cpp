// Device enumeration against the simulated device tree: identifier matching,
// the controller's status, which driver is bound, and the SD-bus check.
#include "device_fixture.h"
#include "service/device_enumeration.h"

#include <string>
#include <vector>

namespace {

using EnumerationTest = DeviceTest;

TEST(MatchDeviceId, IsACaseInsensitivePrefixMatch) {
    const struct {
        const char* id;
        const char* pattern;
        int expected;
    } cases[] = {
        {"PCI\\VEN_1B2C&DEV_1234&SUBSYS_10001B2C&REV_01\\4&2A1B3C4D&0&00E1", "pci\\ven_1b2c&dev_1234", 1},
        {"PCI\\VEN_1B2C&DEV_1235&SUBSYS_10001B2C", "pci\\ven_1b2c&dev_1234", 0},
        {"PCI\\VEN_1B2C&DEV_12", "pci\\ven_1b2c&dev_1234", 0}, // shorter than the pattern
        {"SD\\VID_02D0&PID_4329\\5&0", "sd\\*", 1},
        {"sd\\anything", "sd\\*", 1},
        {"SDA\\VID_02D0", "sd\\*", 0},
        {"SD", "sd\\*", 0},
        {"", "sd\\*", 0},
        {"", "pci\\ven_1b2c&dev_1234", 0},
        {"anything", "*", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchDeviceId(c.id, c.pattern), c.expected) << c.id << " ~ " << c.pattern;
}

// Feeds a sequence of samples; answers {sample number, decision} or {0, -1}.
std::pair<int, int> decide(const std::vector<bool>& present) {
    SdBusSettling settling;
    for (std::size_t i = 0; i < present.size(); ++i)
        if (auto d = settling.add(static_cast<int>(i + 1), present[i]))
            return {static_cast<int>(i + 1), *d};
    return {0, -1};
}

std::vector<bool> run(std::size_t n, bool value) { return std::vector<bool>(n, value); }
std::vector<bool> operator+(std::vector<bool> a, const std::vector<bool>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SdBusSettling, DecidesOnTheFirstRunOfSeventeenEqualSamples) {
    std::vector<bool> alternating;
    for (int i = 0; i < 100; ++i)
        alternating.push_back(i % 2 == 0);
    std::vector<bool> noRunUntil83;
    for (int i = 0; i < 83; ++i)
        noRunUntil83.push_back(i % 16 == 15 || i == 82); // absent runs of at most fifteen; 83 present
    const struct {
        const char* name;
        std::vector<bool> samples;
        std::pair<int, int> expected;
    } cases[] = {
        {"seventeen absent", run(17, false), {17, 1}},
        {"sixteen absent are not enough", run(16, false), {0, -1}},
        {"seventeen present", run(17, true), {17, 0}},
        {"sixteen absent, one present, seventeen absent", run(16, false) + run(1, true) + run(17, false), {34, 1}},
        {"sixteen present, one absent, seventeen present", run(16, true) + run(1, false) + run(17, true), {34, 0}},
        {"a run from sample 84 to 100", noRunUntil83 + run(17, false), {100, 1}},
        {"alternating never decides", alternating, {0, -1}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decide(c.samples), c.expected) << c.name;
}

TEST_F(EnumerationTest, SdBusCheckTakesSeventeenSamplesOfAHundredMilliseconds) {
    auto t0 = machine->now();
    EXPECT_EQ(Check_SDBUSHasNotDevice_afterRemoveMessage(0), 1);
    EXPECT_EQ(machine->now() - t0, 1700u);
    EXPECT_TRUE(traced("Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\* not exist!"));

    reader->bind(sim::Binding::Standard);
    reader->insert(sim::Card::Sdio);
    t0 = machine->now();
    EXPECT_EQ(Check_SDBUSHasNotDevice_afterRemoveMessage(0), 0);
    EXPECT_EQ(machine->now() - t0, 1700u);
    EXPECT_TRUE(traced("Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\*  exist!"));
    EXPECT_TRUE(traced("\t**Find SD\\VID_02D0&PID_4329"));
}

DWORD WINAPI flickerCard(LPVOID arg) {
    auto* reader = static_cast<sim::CardReader*>(arg);
    Sleep(50); // between the check's samples
    for (int i = 0; i < 60; ++i) {
        reader->insert(sim::Card::Sdio);
        Sleep(100);
        reader->remove();
        Sleep(100);
    }
    return 0;
}

TEST_F(EnumerationTest, SdBusThatNeverSettlesCostsTenSecondsAndCountsAsOccupied) {
    reader->bind(sim::Binding::Standard);
    HANDLE flicker = CreateThread(nullptr, 0, flickerCard, reader.get(), 0, nullptr);
    auto t0 = machine->now();
    EXPECT_EQ(Check_SDBUSHasNotDevice_afterRemoveMessage(0), 0);
    EXPECT_EQ(machine->now() - t0, 10000u);
    WaitForSingleObject(flicker, INFINITE);
    CloseHandle(flicker);
}

TEST_F(EnumerationTest, FailingWalksCountAsAbsentSamples) {
    reader->bind(sim::Binding::Standard);
    reader->insert(sim::Card::Sdio);
    machine->faults().failAlways("SetupDiGetClassDevsExA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Check_SDBUSHasNotDevice_afterRemoveMessage(0), 1);
    EXPECT_EQ(countTraced("EnumerateDevices:SetupDiGetClassDevsEx failed"), 17);
}

TEST_F(EnumerationTest, ControllerStatusDecidesTheAnswer) {
    const struct {
        const char* name;
        sim::ControllerState state;
        ULONG problem;
        int expected;
        const char* trace; // nullptr: no trace from DumpDeviceStatus
    } cases[] = {
        {"running", sim::ControllerState::Running, 0, 1, "DumpDeviceStatus: Driver is running!"},
        {"disabled", sim::ControllerState::Disabled, 0, 0, "DumpDeviceStatus: Device is disabled!"},
        {"problem", sim::ControllerState::Problem, 10, 0, "DumpDeviceStatus: The device has the following problem: 10!"},
        {"driver's problem", sim::ControllerState::PrivateProblem, 0, 0,
         "DumpDeviceStatus: The driver reported a problem with the device!"},
        {"not started", sim::ControllerState::NotStarted, 0, 0, nullptr},
        {"absent", sim::ControllerState::Absent, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart({});
        reader->setControllerState(c.state, c.problem);
        EXPECT_EQ(EnumerateDevicesStatus("pci\\ven_1b2c&dev_1234"), c.expected);
        if (c.trace)
            EXPECT_TRUE(traced(c.trace));
        else
            EXPECT_EQ(countTraced("DumpDeviceStatus"), 0);
        EXPECT_EQ(countTraced("EnumerateDevicesStatus: Find PCI\\VEN_1B2C&DEV_1234"),
                  c.state == sim::ControllerState::Absent ? 0 : 1);
        EXPECT_TRUE(traced("EnumerateDevicesStatus:SetupDiDestroyDeviceInfoList() now"));
        EXPECT_TRUE(traced("Exit EnumerateDevicesStatus()"));
    }
}

TEST_F(EnumerationTest, OnlyTheFirstMatchingControllerIsExamined) {
    reader->setControllerState(sim::ControllerState::Disabled);
    machine->devices().add("PCI\\VEN_1B2C&DEV_1234&SUBSYS_20001B2C&REV_01\\4&99&0&00E2",
                           std::string(sim::CardReader::kMakerDescription));
    EXPECT_EQ(EnumerateDevicesStatus("pci\\ven_1b2c&dev_1234"), 0);
    EXPECT_EQ(countTraced("EnumerateDevicesStatus: Find"), 1);
}

TEST_F(EnumerationTest, PlatformFailuresGiveTheNegativeAnswer) {
    const struct {
        const char* function;
        DWORD error;
        const char* trace;
    } cases[] = {
        {"SetupDiGetClassDevsExA", ERROR_NOT_ENOUGH_MEMORY, "EnumerateDevicesStatus:SetupDiGetClassDevsEx failed"},
        {"SetupDiGetDeviceInfoListDetailA", ERROR_INVALID_HANDLE,
         "EnumerateDevicesStatus:SetupDiGetDeviceInfoListDetail failed"},
        {"CM_Get_DevNode_Status_Ex", CR_NO_SUCH_DEVINST, "DumpDeviceStatus: Device is not present!"},
        {"CM_Get_DevNode_Status_Ex", CR_NO_SUCH_VALUE, "DumpDeviceStatus: Device is not present!"},
        {"CM_Get_DevNode_Status_Ex", CR_FAILURE, "DumpDeviceStatus: Error retrieving the device's status!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        restart({});
        machine->faults().failAlways(c.function, c.error);
        EXPECT_EQ(EnumerateDevicesStatus("pci\\ven_1b2c&dev_1234"), 0);
        EXPECT_TRUE(traced(c.trace));
        EXPECT_TRUE(traced("Exit EnumerateDevicesStatus()"));
    }
    restart({});
    machine->faults().failNth("SetupDiGetDeviceInfoListDetailA", 2, ERROR_INVALID_HANDLE);
    EXPECT_EQ(EnumerateDevicesStatus("pci\\ven_1b2c&dev_1234"), 0);
    EXPECT_TRUE(traced("DumpDeviceStatus: Error retrieving the device's status!"));

    restart({});
    machine->faults().failAlways("SetupDiGetDeviceInfoListDetailA", ERROR_INVALID_HANDLE);
    EXPECT_EQ(EnumerateDevices("pci\\ven_1b2c&dev_1234"), 2);
    EXPECT_TRUE(traced("EnumerateDevices:SetupDiGetDeviceInfoListDetail failed"));
}

TEST_F(EnumerationTest, UnreadableIdentifierMatchesNothing) {
    machine->devices().setIdUnreadable(reader->controller(), true);
    EXPECT_EQ(EnumerateDevices("pci\\ven_1b2c&dev_1234"), 2);
    EXPECT_EQ(EnumerateDevicesStatus("pci\\ven_1b2c&dev_1234"), 0);
    machine->devices().setIdUnreadable(reader->controller(), false);
    EXPECT_EQ(EnumerateDevices("pci\\ven_1b2c&dev_1234"), 0);
    EXPECT_TRUE(traced("\t**Find PCI\\VEN_1B2C&DEV_1234&SUBSYS_10001B2C&REV_01\\4&2A1B3C4D&0&00E1"));
}

TEST_F(EnumerationTest, DriverIsKnownByItsWholeDescription) {
    const struct {
        const char* description; // of a second device, the controller being unnamed
        int maker;
        int standard;
    } cases[] = {
        {"Halvex Integrated MMC/SD controller", 1, 0},
        {"HALVEX INTEGRATED MMC/SD CONTROLLER", 1, 0},
        {"SDA Standard Compliant SD Host Controller", 0, 1},
        {"sda standard compliant sd host controller", 0, 1},
        {"SDA Standard Compliant SD Host Controller 2", 0, 0},
        {"SDA Standard Compliant SD Host", 0, 0},
        {"Halvex Integrated MMC/SD controller (copy)", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        restart({});
        machine->devices().setDescription(reader->controller(), std::nullopt);
        machine->devices().add("PCI\\VEN_1B2C&DEV_9999\\0", std::string(c.description));
        EXPECT_EQ(FindHalvexDriver(), c.maker);
        EXPECT_EQ(FindMicrosoftDriver(), c.standard);
        EXPECT_TRUE(traced(c.maker ? "Found Halvex Integrated MMC/SD controller!\n"
                                   : "NOT FOUND Halvex Integrated MMC/SD controller!\n"));
        EXPECT_TRUE(traced(c.standard ? "FOUND SDA Standard Compliant SD Host Controller\n"
                                      : "NOT FOUND SDA Standard Compliant SD Host Controller!\n"));
    }
}

TEST_F(EnumerationTest, DescriptionThatDoesNotFitIsSkipped) {
    // The maker's description padded with terminators to `bytes` in all: read
    // whole, it would match.
    auto padded = [](std::size_t bytes) {
        std::string text(sim::CardReader::kMakerDescription);
        return text + std::string(bytes - 1 - text.size(), '\0');
    };
    const struct {
        const char* name;
        std::string description;
        bool makerDeviceAfter;
        int found;
    } cases[] = {
        {"fills the 512-byte buffer exactly", padded(512), false, 1},
        {"one byte more: skipped", padded(513), false, 0},
        {"skipped, and the walk goes on", padded(513), true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart({});
        machine->devices().setDescription(reader->controller(), c.description);
        if (c.makerDeviceAfter)
            machine->devices().add("PCI\\VEN_1B2C&DEV_9999\\0", std::string(sim::CardReader::kMakerDescription));
        EXPECT_EQ(FindHalvexDriver(), c.found);
    }
}

TEST_F(EnumerationTest, ListThatCannotBeBuiltIsANegativeAnswer) {
    machine->faults().failAlways("SetupDiGetClassDevsExA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(FindHalvexDriver(), 0);
    EXPECT_EQ(FindMicrosoftDriver(), 0);
    EXPECT_EQ(EnumerateDevices(kSdBusPattern), 2);
    EXPECT_TRUE(traced("FindHalvexDriver : GetClassDev failed!\n"));
    EXPECT_TRUE(traced("FindMicrosoftDriver : GetClassDev failed!\n"));
    EXPECT_TRUE(traced("EnumerateDevices:SetupDiGetClassDevsEx failed"));
}

} // namespace
