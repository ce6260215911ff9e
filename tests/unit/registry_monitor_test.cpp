// The registry monitor on the running service: the driver's SDIO report
// consumed and turned into a request, at start and while running, and each
// way the monitor ends.
#include "device_fixture.h"
#include "platform/sim/describe.h"
#include "service/registry_monitor.h"

#include <string>
#include <vector>

namespace {

class MonitorTest : public DeviceTest {
protected:
    void startService() {
        SvcInit(0, 0);
        ASSERT_TRUE(SvcIsRunning());
    }
    void TearDown() override {
        SvcStop();
        SvcCleanup();
        DeviceTest::TearDown();
    }
    int consumed() { return countTraced("ThreadMonitorSDIORegister:Restore serivce register key value ok!"); }
    int requestsTaken() { return countTraced("ThreadRequestFilter: WAIT_OBJECT_0 + 2 Event signaled!"); }
    bool monitorEnded() { return WaitForSingleObject(ghSvcStopThreadEvent[kStoppedMonitor], 0) == WAIT_OBJECT_0; }
    void setPresent(DWORD v) { machine->registry().setDword(kParamsPath, kValueIsSDIOPresent, v); }
    std::optional<DWORD> present() { return machine->registry().dword(kParamsPath, kValueIsSDIOPresent); }
};

TEST_F(MonitorTest, ReportLeftFromBeforeTheStartIsConsumedHalfASecondIn) {
    setPresent(1);
    reader->setDevconMode(sim::DevconMode::Missing); // keep the switch itself out of the way
    startService();
    machine->advance(1);
    EXPECT_EQ(present(), 0u);
    EXPECT_EQ(consumed(), 1);
    EXPECT_EQ(requestsTaken(), 1);
    auto writes = machine->records().calls("RegSetValueExA");
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0].time, kStartSettleMs);
}

TEST_F(MonitorTest, EachReportWhileRunningRaisesOneRequest) {
    reader->setDevconMode(sim::DevconMode::Missing);
    startService();
    for (int i = 1; i <= 3; ++i) {
        setPresent(1);
        machine->advance(10);
        EXPECT_EQ(present(), 0u);
        EXPECT_EQ(consumed(), i);
        machine->advance(20000);
    }
    EXPECT_EQ(requestsTaken(), 3);
}

TEST_F(MonitorTest, OtherValuesAreLeftAlone) {
    startService();
    setPresent(2);
    machine->advance(100);
    EXPECT_EQ(present(), 2u);
    EXPECT_EQ(consumed(), 0);
    EXPECT_FALSE(monitorEnded());
}

TEST_F(MonitorTest, MissingValueIsNothingToConsumeAndTheMonitorWatchesOn) {
    startService();
    machine->advance(5000);
    EXPECT_FALSE(monitorEnded());
    EXPECT_TRUE(traced("RestoreRegisterKey:IsSDIOPresent does not exist yet."));
    reader->setDevconMode(sim::DevconMode::Missing);
    setPresent(1);
    machine->advance(10);
    EXPECT_EQ(consumed(), 1);
}

TEST_F(MonitorTest, UnreadableValueEndsTheMonitorOnly) {
    // The key's one four-byte rule: longer does not fit, shorter is refused.
    const struct {
        std::vector<BYTE> data;
        const char* trace;
    } cases[] = {
        {{1, 0, 0, 0, 0, 0, 0, 0}, "RestoreRegisterKey:failed in RegQueryValueEx(EA)."},
        {{1, 0}, "RestoreRegisterKey:failed in RegQueryValueEx(D)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        restart({});
        machine->registry().setValue(kParamsPath, kValueIsSDIOPresent, REG_BINARY, c.data);
        startService();
        machine->advance(1);
        EXPECT_TRUE(traced(c.trace));
        EXPECT_TRUE(traced("ThreadMonitorSDIORegister:Restore serivce register key value failed!"));
        EXPECT_TRUE(monitorEnded());
        EXPECT_EQ(machine->openKeys(), 0u) << "the key is closed on the way out";
        EXPECT_EQ(WaitForSingleObject(ghSvcStopThreadEvent[kStoppedFilter], 0), WAIT_TIMEOUT);
        EXPECT_EQ(WaitForSingleObject(ghSvcStopThreadEvent[kStoppedOperator], 0), WAIT_TIMEOUT);
        SvcStop();
        SvcCleanup();
    }
}

TEST_F(MonitorTest, EachFailingStepEndsTheMonitorWithItsTrace) {
    const struct {
        const char* function;
        unsigned nth;
        LONG error;
        const char* trace;
    } cases[] = {
        {"RegNotifyChangeKeyValue", 2, ERROR_NOT_ENOUGH_MEMORY, "ThreadMonitorSDIORegister:Error(8) in RegNotifyChangeKeyValue."},
        {"RegSetValueExA", 1, ERROR_CANTWRITE, "RestoreRegisterKey:failed in RegSetValueEx(3F5)."},
        // The seventh close: the start's gate and identifier reads close two
        // keys each first (the driver's service key and theirs), its look at
        // the switching value one, and the monitor the service key it opened
        // its own from.
        {"RegCloseKey", 7, ERROR_INVALID_HANDLE, "ThreadMonitorSDIORegister:Error in RegCloseKey."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        restart({});
        setPresent(1);
        reader->setDevconMode(sim::DevconMode::Missing);
        machine->faults().failNth(c.function, c.nth, static_cast<DWORD>(c.error));
        startService();
        machine->advance(1);
        EXPECT_TRUE(traced(c.trace));
        EXPECT_TRUE(monitorEnded());
        SvcStop();
        SvcCleanup();
    }
}

TEST_F(MonitorTest, ChangeInASubkeyWakesTheMonitor) {
    startService();
    machine->advance(100);
    int before = countTraced("ThreadMonitorSDIORegister:WAIT_OBJECT_0 + 1 Event signaled!");
    machine->registry().setDword(kParamsPath + "\\Sub", "Anything", 5);
    machine->advance(10);
    EXPECT_EQ(countTraced("ThreadMonitorSDIORegister:WAIT_OBJECT_0 + 1 Event signaled!"), before + 1);
    // Subtree, and every kind of change: names, attributes, values, security.
    auto armed = machine->records().calls("RegNotifyChangeKeyValue");
    ASSERT_FALSE(armed.empty());
    EXPECT_NE(armed.back().arguments.find(sim::describe(TRUE, DWORD{0xF})), std::string::npos)
        << armed.back().arguments;
}

TEST_F(MonitorTest, StartUpPromptDoesNotSpin) {
    startService();
    machine->advance(60000);
    // After the prompt at start the monitor closes a key whose request is
    // still armed, which signals the event; arming the next request resets
    // it. One examination in a quiet minute, not one after another.
    EXPECT_EQ(countTraced("ThreadMonitorSDIORegister:WAIT_OBJECT_0 + 1 Event signaled!"), 1);
    EXPECT_LT(machine->faults().calls("RegCreateKeyExA"), 10u);
}

TEST_F(MonitorTest, StopClosesTheKey) {
    startService();
    EXPECT_EQ(machine->openKeys(), 1u);
    SvcStop();
    SvcCleanup();
    EXPECT_EQ(machine->openKeys(), 0u);
    EXPECT_TRUE(traced("ThreadMonitorSDIORegister:WAIT_OBJECT_0 Event signaled!"));
}

} // namespace
