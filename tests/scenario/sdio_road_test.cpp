// Both roads of an SDIO card, end to end, and the ways they can go wrong:
// the running service against the simulated card reader, in virtual time.
#include "device_fixture.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

class RoadTest : public DeviceTest {
protected:
    void startService() {
        SvcInit(0, 0);
        ASSERT_TRUE(SvcIsRunning());
        machine->advance(1000);
    }
    void TearDown() override {
        SvcStop();
        SvcCleanup();
        DeviceTest::TearDown();
    }
    std::vector<sim::DevconCommand> tool() { return reader->devconCommands(); }
    std::optional<DWORD> value(const char* name) { return machine->registry().dword(kParamsPath, name); }
    int traces(const char* text) { return countTraced(text); }
};

const char* const kToStandard = "update C:\\WINDOWS\\inf\\sdbus.inf \"pci\\ven_1b2c&dev_1234\"";
const char* const kToMaker = "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcw7x64.inf \"pci\\ven_1b2c&dev_1234\"";
const char* const kStandardCommand = "ThreadRequestFilter: WAIT_TIMEOUT set ghChangeMicrosoftDriverEvent";
const char* const kMakerEvaluation = "ThreadRequestFilter: WAIT_TIMEOUT set ghChangeHXDriverEvent";

TEST_F(RoadTest, SdioCardGoesToTheStandardDriverAndBack) {
    startService();
    auto inserted = machine->now();
    reader->insert(sim::Card::Sdio);
    machine->advance(20000);

    // The report is consumed, and the standard driver bound about two seconds later.
    EXPECT_EQ(value(kValueIsSDIOPresent), 0u);
    ASSERT_EQ(tool().size(), 1u);
    EXPECT_EQ(tool()[0].parameters, kToStandard);
    EXPECT_EQ(tool()[0].time - inserted, 2000u);
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(value(kValueDriverSwitchFlag), 1u);
    EXPECT_EQ(value(kValueIsSwitchingDrv), 0u);
    EXPECT_EQ(writesOf(*machine, kValueIsSwitchingDrv), (std::vector<DWORD>{1, 0}));

    auto removed = machine->now();
    reader->remove();
    machine->advance(20000);
    ASSERT_EQ(tool().size(), 2u);
    EXPECT_EQ(tool()[1].parameters, kToMaker);
    // Quiet period, the filter's SD-bus check, the operator's own check.
    EXPECT_EQ(tool()[1].time - removed, 2000u + 1700u + 1700u);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
    EXPECT_EQ(value(kValueDriverSwitchFlag), 0u);
    EXPECT_EQ(writesOf(*machine, kValueIsSwitchingDrv), (std::vector<DWORD>{1, 0, 0x81, 0}));

    // And it stays there.
    machine->advance(60000);
    EXPECT_EQ(tool().size(), 2u);
}

TEST_F(RoadTest, BurstOfDeviceChangesGivesOneEvaluation) {
    machine->registry().setDword(kParamsPath, kValueDriverSwitchFlag, 0);
    startService();
    sim::VirtualTime last = 0;
    for (int i = 0; i < 5; ++i) {
        last = machine->now();
        machine->devices().announceChange();
        machine->advance(300);
    }
    machine->advance(10000);
    EXPECT_EQ(traces(kMakerEvaluation), 1);
    auto lines = machine->records().debugOutput();
    for (const auto& l : lines) {
        if (l.text == kMakerEvaluation) {
            EXPECT_EQ(l.time - last, 2000u);
        }
    }
    EXPECT_EQ(tool().size(), 0u) << "the bus is empty but the service never left the maker's driver";
}

TEST_F(RoadTest, TenThousandBroadcastsAreOneRequest) {
    startService();
    machine->records().setDebugKeeping(false);
    machine->records().setCallLogging(false);
    for (int i = 0; i < 10000; ++i)
        machine->windows().broadcast(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    machine->records().setDebugKeeping(true);
    machine->advance(10000);
    EXPECT_EQ(traces(kMakerEvaluation), 1);
}

TEST_F(RoadTest, BothRequestsAtOnceTheSdioRequestWins) {
    startService();
    SetEvent(ghChangeHXDriverRequestEvent);
    SetEvent(ghChangeMicrosoftRequestEvent);
    machine->advance(20000);
    EXPECT_EQ(traces(kStandardCommand), 1);
    ASSERT_GE(tool().size(), 1u);
    EXPECT_EQ(tool()[0].parameters, kToStandard);
}

TEST_F(RoadTest, MemoryCardSwitchesNothing) {
    startService();
    reader->insert(sim::Card::Memory);
    machine->advance(30000);
    reader->remove();
    machine->advance(30000);
    EXPECT_EQ(tool().size(), 0u);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
}

TEST_F(RoadTest, SwitchThatCannotStartLeavesTheMakerDriver) {
    reader->setDevconMode(sim::DevconMode::Missing);
    startService();
    reader->insert(sim::Card::Sdio);
    machine->advance(20000);
    EXPECT_TRUE(traced("ChangeDriver: UpdateDriver Failed"));
    EXPECT_TRUE(traced("ThreadOperateDriver: Currenct driver is HX driver, not change again!"));
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
    EXPECT_FALSE(value(kValueDriverSwitchFlag));
    EXPECT_EQ(value(kValueIsSwitchingDrv), 0u);
}

TEST_F(RoadTest, MakerDriverWithADeviceOnTheBusRepeatsTheStandardCommand) {
    // The tool "succeeds" without rebinding, and a device sits on an SD bus.
    reader->setDevconMode(sim::DevconMode::EndsWithoutRebinding);
    machine->devices().add("SD\\VID_02D0&PID_4329\\9&1", std::string("SDIO Device"));
    startService();
    machine->devices().announceChange();
    machine->advance(30000);
    EXPECT_GE(traces(kMakerEvaluation), 3) << "the request stays pending, evaluated again and again";
    EXPECT_GE(tool().size(), 3u);
    for (const auto& c : tool())
        EXPECT_EQ(c.parameters, kToStandard);
}

TEST_F(RoadTest, StopDuringASwitchCompletesItFirst) {
    reader->setDevconDuration(8000);
    startService();
    reader->insert(sim::Card::Sdio);
    machine->advance(3000); // the tool has been running for a second
    ASSERT_EQ(tool().size(), 1u);
    auto stopAt = machine->now();
    SvcStop();
    SvcCleanup();
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(value(kValueDriverSwitchFlag), 1u);
    EXPECT_EQ(value(kValueIsSwitchingDrv), 0u);
    EXPECT_GE(machine->now() - stopAt, 7000u + 1700u) << "the rest of the tool's run and the SD-bus check";
}

TEST_F(RoadTest, ThousandCardsKeepTheHandleCountFlat) {
    machine->records().setCallLogging(false);
    machine->records().setDebugKeeping(false);
    reader->setDevconDuration(1000);
    startService();
    auto realStart = std::chrono::steady_clock::now();
    std::size_t handlesAfterFirst = 0;
    const int cycles = 1000;
    for (int i = 0; i < cycles; ++i) {
        reader->insert(sim::Card::Sdio);
        machine->advance(8000);
        reader->remove();
        machine->advance(10000);
        if (i == 0)
            handlesAfterFirst = machine->openHandles();
    }
    EXPECT_EQ(tool().size(), 2u * cycles);
    EXPECT_EQ(machine->openHandles(), handlesAfterFirst);
    EXPECT_EQ(machine->openKeys(), 1u) << "the monitor's";
    EXPECT_EQ(machine->openDeviceLists(), 0u);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
    std::printf("1000 insert-and-remove cycles: %lld ms real, %llu s virtual\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - realStart)
                                           .count()),
                static_cast<unsigned long long>(machine->now() / 1000));
}

} // namespace

namespace {

TEST_F(RoadTest, IdleServiceNeverWakesYetAnswersOnTime) {
    startService();
    machine->advance(10000);
    auto before = machine->kernel().workerWakeups();
    machine->advance(3600000); // an idle hour
    EXPECT_EQ(machine->kernel().workerWakeups() - before, 0u) << "no thread of the service woke";
    // The first report after it is evaluated as any other.
    auto inserted = machine->now();
    reader->insert(sim::Card::Sdio);
    machine->advance(10000);
    ASSERT_EQ(tool().size(), 1u);
    EXPECT_EQ(tool()[0].time - inserted, 2000u);
}

} // namespace
