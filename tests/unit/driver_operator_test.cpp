// The driver operator on the running service: both commands against the
// simulated card reader, every branch, with DriverSwitchFlag written through
// the retry rule, and a stop request during a switch.
#include "device_fixture.h"
#include "service/driver_changer.h"

#include <string>
#include <vector>

namespace {

class OperatorTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        // The operator alone: without its dialog the device-change listener
        // raises no requests, so the filter stays out of these commands.
        machine->faults().failAlways("CreateDialogParamA", ERROR_RESOURCE_NAME_NOT_FOUND);
        machine->faults().failAlways("DialogBoxParamA", ERROR_RESOURCE_NAME_NOT_FOUND);
        SvcInit(0, 0);
        ASSERT_TRUE(SvcIsRunning());
    }
    void TearDown() override {
        SvcStop();
        SvcCleanup();
        DeviceTest::TearDown();
    }
    // Signal a command and let the operator carry it out.
    void command(HANDLE event, DWORD allowMs = 60000) {
        SetEvent(event);
        machine->advance(allowMs);
    }
    std::vector<DWORD> flagWrites() { return writesOf(*machine, kValueDriverSwitchFlag); }
    std::size_t toolRuns() { return reader->devconCommands().size(); }
    std::string toolParameters(std::size_t i) { return reader->devconCommands().at(i).parameters; }
};

const char* const kToStandard = "update C:\\WINDOWS\\inf\\sdbus.inf \"pci\\ven_1b2c&dev_1234\"";
const char* const kToMaker = "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcw7x64.inf \"pci\\ven_1b2c&dev_1234\"";

TEST_F(OperatorTest, StandardCommandWhileStandardBoundDoesNothing) {
    reader->bind(sim::Binding::Standard);
    auto lists = calls("SetupDiGetClassDevsExA");
    command(ghChangeMicrosoftDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver: WAIT_OBJECT_0 + 1 Event signaled!"));
    EXPECT_EQ(toolRuns(), 0u);
    EXPECT_EQ(flagWrites().size(), 0u);
    EXPECT_EQ(calls("SetupDiGetClassDevsExA") - lists, 1u) << "one FindMicrosoftDriver walk, no SD-bus check";
}

TEST_F(OperatorTest, StandardCommandWithAnSdioCardKeepsTheStandardDriver) {
    reader->insert(sim::Card::Sdio);
    command(ghChangeMicrosoftDriverEvent);
    ASSERT_EQ(toolRuns(), 1u);
    EXPECT_EQ(toolParameters(0), kToStandard);
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(flagWrites(), std::vector<DWORD>{1});
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueDriverSwitchFlag), 1u);
    EXPECT_TRUE(traced("ThreadOperateDriver:Change driver ok!"));
}

TEST_F(OperatorTest, StandardCommandWithAnEmptyBusSwitchesBackAtOnce) {
    command(ghChangeMicrosoftDriverEvent);
    ASSERT_EQ(toolRuns(), 2u);
    EXPECT_EQ(toolParameters(0), kToStandard);
    EXPECT_EQ(toolParameters(1), kToMaker);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
    EXPECT_EQ(flagWrites(), (std::vector<DWORD>{1, 0}));
}

TEST_F(OperatorTest, FailedSwitchIsStillFollowedByTheBusCheck) {
    // The controller has neither driver; the first start of the tool fails.
    machine->devices().setDescription(reader->controller(), std::string("PCI Device"));
    machine->faults().failNth("CreateProcessA", 1, ERROR_ACCESS_DENIED);
    command(ghChangeMicrosoftDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver:Change driver failed!"));
    ASSERT_EQ(toolRuns(), 1u);
    EXPECT_EQ(toolParameters(0), kToMaker);
    EXPECT_EQ(flagWrites(), std::vector<DWORD>{0});
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
}

TEST_F(OperatorTest, FailedSwitchWithTheMakerDriverBoundStops) {
    reader->setDevconMode(sim::DevconMode::Missing);
    command(ghChangeMicrosoftDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver:Change driver failed!"));
    EXPECT_TRUE(traced("ThreadOperateDriver: Currenct driver is HX driver, not change again!"));
    EXPECT_EQ(flagWrites().size(), 0u);
}

TEST_F(OperatorTest, MakerCommandWhileTheBusHoldsADeviceDoesNothing) {
    reader->bind(sim::Binding::Standard);
    reader->insert(sim::Card::Sdio);
    command(ghChangeHXDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver: WAIT_OBJECT_0 + 2 Event signaled!"));
    EXPECT_EQ(toolRuns(), 0u);
    EXPECT_EQ(flagWrites().size(), 0u);
    EXPECT_EQ(countTraced("Halvex Integrated MMC/SD controller!\n"), 0) << "no driver lookup";
}

TEST_F(OperatorTest, MakerCommandWhileMakerBoundOnlyVerifies) {
    command(ghChangeHXDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver: Currenct driver is \"Halvex Integrated MMC/SD controller\", not do again!"));
    EXPECT_EQ(toolRuns(), 0u);
    EXPECT_EQ(flagWrites().size(), 0u);
    EXPECT_EQ(countTraced("EnumerateDevices on SD\\* not exist!"), 2) << "the check, then the verification";
}

TEST_F(OperatorTest, MakerCommandReturnsAfterTheCardIsGone) {
    reader->bind(sim::Binding::Standard);
    machine->registry().setDword(kParamsPath, kValueDriverSwitchFlag, 1);
    command(ghChangeHXDriverEvent);
    ASSERT_EQ(toolRuns(), 1u);
    EXPECT_EQ(toolParameters(0), kToMaker);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
    EXPECT_EQ(flagWrites(), std::vector<DWORD>{0});
}

TEST_F(OperatorTest, DeviceStillOnTheBusAfterTheMakerSwitchSendsItBack) {
    reader->bind(sim::Binding::Standard);
    // This tool binds the maker's driver but leaves a device on an SD bus.
    auto tool = reader->packageFolder() + "\\devconx64.exe";
    bool first = true;
    machine->programs().install(tool, [&](const sim::ProgramRun&) {
        Sleep(1000);
        if (first) {
            reader->bind(sim::Binding::Maker);
            machine->devices().add("SD\\VID_02D0&PID_4329\\7&1", std::string("SDIO Device"));
            first = false;
        } else {
            reader->bind(sim::Binding::Standard);
        }
        return DWORD{0};
    });
    command(ghChangeHXDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver:Found error after change to halvex, Change driver back to Microsoft OK!"));
    EXPECT_EQ(flagWrites(), (std::vector<DWORD>{0, 1}));
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
}

TEST_F(OperatorTest, FlagWriteGoesThroughTheRetryRule) {
    reader->insert(sim::Card::Sdio);
    machine->advance(10); // the monitor's store of the driver's report comes first
    // IsSwitchingDrv is stored twice before the flag: the flag's first
    // attempt is the third store.
    machine->faults().failNth("RegSetValueExA", 3, ERROR_CANTWRITE);
    command(ghChangeMicrosoftDriverEvent);
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueDriverSwitchFlag), 1u);
    EXPECT_EQ(flagWrites(), (std::vector<DWORD>{1, 1}));
    EXPECT_EQ(countTraced("WriteDriverSwitchFlag : beign to Write 1 now"), 2);
}

TEST_F(OperatorTest, AfterAToolWhoseEndWasNotSeenTheFlagFollowsTheBinding) {
    // The tool rebinds all the same, after more than an SD-bus check's time:
    // the standard driver, with the card on its bus.
    reader->setDevconDuration(8000);
    reader->insert(sim::Card::Sdio);
    machine->faults().failNth("WaitForSingleObject", 1, ERROR_INVALID_HANDLE);
    command(ghChangeMicrosoftDriverEvent);
    EXPECT_TRUE(traced("ThreadOperateDriver:Change driver failed!"));
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueDriverSwitchFlag), 1u);

    // The tool fails in its own work: the standard driver stays, whatever the flag said.
    reader->remove();
    reader->setDevconMode(sim::DevconMode::EndsWithoutRebinding);
    machine->registry().setDword(kParamsPath, kValueDriverSwitchFlag, 0);
    machine->faults().failNth("WaitForSingleObject", 1, ERROR_INVALID_HANDLE);
    command(ghChangeHXDriverEvent);
    EXPECT_EQ(toolRuns(), 2u);
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueDriverSwitchFlag), 1u);

    // The tool is seen to end, so the switch counts as done and its flag is
    // stored; but it rebound nothing: the flag still follows the driver bound.
    auto writes = flagWrites().size();
    command(ghChangeHXDriverEvent);
    EXPECT_EQ(toolRuns(), 3u);
    EXPECT_TRUE(traced("ThreadOperateDriver:Change driver ok!"));
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    auto after = flagWrites();
    EXPECT_EQ(std::vector<DWORD>(after.begin() + writes, after.end()), (std::vector<DWORD>{0, 1}));
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueDriverSwitchFlag), 1u);
}

TEST_F(OperatorTest, StopDuringASwitchCompletesThatSwitchFirst) {
    reader->setDevconDuration(5000);
    auto t0 = machine->now();
    SetEvent(ghChangeMicrosoftDriverEvent);
    machine->advance(1000); // the tool is running
    ASSERT_EQ(toolRuns(), 1u);
    SvcStop();
    SvcCleanup();
    // The whole command ran: the switch, its flag, the bus check and the way back.
    EXPECT_EQ(toolRuns(), 2u);
    EXPECT_EQ(flagWrites(), (std::vector<DWORD>{1, 0}));
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
    EXPECT_GE(machine->now() - t0, 5000u + 1700u + 5000u);
    EXPECT_TRUE(traced("ThreadOperateDriver:WAIT_OBJECT_0 Event signaled!"));
}

TEST_F(OperatorTest, HungToolBlocksOnlyTheOperator) {
    reader->setDevconMode(sim::DevconMode::Hangs);
    SetEvent(ghChangeMicrosoftDriverEvent);
    machine->advance(600000);
    EXPECT_EQ(toolRuns(), 1u);
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 1u);
    // The other workers still answer the stop request; the operator cannot
    // until the tool ends. Let it end, so the fixture can stop the service.
    SetEvent(ghSvcStopEvent);
    HANDLE others[] = {ghSvcStopThreadEvent[kStoppedMonitor], ghSvcStopThreadEvent[kStoppedFilter]};
    EXPECT_EQ(WaitForMultipleObjects(2, others, TRUE, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ghSvcStopThreadEvent[kStoppedOperator], 1000), WAIT_TIMEOUT);
    reader.reset(); // the tool's thread ends with the machine
    SvcForgetProcessState();
    start({});
}

} // namespace
