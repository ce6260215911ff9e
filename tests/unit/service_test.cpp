// The service spine on the simulated machine: the gate, a clean start and
// stop, and every failure path of the start with its unwinding.
#include "device_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char* const kMonitorStopped = "ThreadMonitorSDIORegister:WAIT_OBJECT_0 Event signaled!";
const char* const kOperatorStopped = "ThreadOperateDriver:WAIT_OBJECT_0 Event signaled!";
const char* const kFilterStopped = "ThreadRequestFilter:WAIT_OBJECT_0 Event signaled!";

class ServiceTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        openGate();
    }
    void openGate() {
        registry().setDword(kParamsPath, kValueIsSupportSDIO, 1);
        registry().setDword(kParamsPath, kValueDeviceId, 0x1234);
    }
    // Nothing of the service is left: no handle, key or lock, no worker.
    void expectNothingLeft() {
        settle();
        EXPECT_EQ(machine->openHandles(), 0u);
        EXPECT_EQ(machine->openKeys(), 0u);
        EXPECT_EQ(machine->liveCriticalSections(), 0u);
        EXPECT_EQ(machine->threads(), 1u) << "only the test's own thread";
        EXPECT_FALSE(SvcIsRunning());
        EXPECT_EQ(ghSvcStopEvent, nullptr);
        EXPECT_EQ(gdwDeviceId, 0u);
    }
    // A worker that has signalled its stopped event still has to return; let
    // it, by letting a moment of virtual time pass.
    void settle() { machine->advance(1); }
    unsigned calls(const char* function) { return machine->faults().calls(function); }
};

TEST_F(ServiceTest, ClosedGateCreatesNothing) {
    const struct {
        const char* name;
        bool present;
        DWORD value;
    } cases[] = {{"absent", false, 0}, {"zero", true, 0}, {"two", true, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({});
        if (c.present)
            registry().setDword(kParamsPath, kValueIsSupportSDIO, c.value);
        SvcInit(0, 0);
        EXPECT_TRUE(traced("SvcInit: Not support SDIO, cound not start service."));
        EXPECT_EQ(calls("CreateEventA"), 0u);
        EXPECT_EQ(calls("InitializeCriticalSection"), 0u);
        SvcStop();
        SvcCleanup();
        EXPECT_EQ(calls("SetEvent") + calls("WaitForMultipleObjects"), 0u);
        expectNothingLeft();
    }
}

// A system DLL that cannot be loaded from the system folder stops the start
// as the closed gate does.
TEST_F(ServiceTest, AMissingSystemDllCreatesNothing) {
    machine->faults().failAlways("PlatformLoadSystemDlls", ERROR_MOD_NOT_FOUND);
    SvcInit(0, 0);
    EXPECT_TRUE(traced("SvcInit:Error(7E) in loading setupapi.dll from the system folder, could not start service."));
    EXPECT_EQ(calls("CreateEventA") + calls("InitializeCriticalSection"), 0u);
    SvcStop();
    SvcCleanup();
    expectNothingLeft();
}

TEST_F(ServiceTest, StartsStopsAndReleasesEverything) {
    SvcInit(0, 0);
    ASSERT_TRUE(SvcIsRunning());
    EXPECT_EQ(gdwDeviceId, 0x1234u);
    EXPECT_EQ(machine->now(), kStartSettleMs);
    EXPECT_EQ(machine->openHandles(), 9u + 4u);
    EXPECT_EQ(machine->liveCriticalSections(), 1u);
    EXPECT_EQ(machine->openKeys(), 1u) << "the registry monitor's";
    EXPECT_EQ(machine->threads(), 1u + 4u);
    for (const auto& c : machine->records().calls("CreateEventA"))
        EXPECT_EQ(c.arguments, "NULL,1,0,NULL") << "unnamed, manual-reset, non-signalled";

    machine->advance(10000); // the service idles in virtual time
    SvcStop();
    SvcCleanup();
    EXPECT_TRUE(traced(kMonitorStopped));
    EXPECT_TRUE(traced("ThreadOperateDriver:WAIT_OBJECT_0 Event signaled!"));
    EXPECT_TRUE(traced(kFilterStopped));
    // The listener runs until the process ends, and keeps the one event it
    // signals; everything else is gone.
    settle();
    EXPECT_EQ(machine->openHandles(), 1u);
    EXPECT_NE(ghChangeHXDriverRequestEvent, nullptr);
    EXPECT_EQ(machine->threads(), 1u + 1u);
    EXPECT_EQ(machine->openKeys(), 0u);
    EXPECT_EQ(machine->liveCriticalSections(), 0u);
    EXPECT_EQ(ghSvcStopEvent, nullptr);
    EXPECT_EQ(ghThreadDialog, nullptr);

    // A second cleanup, or a stop after it, does nothing.
    auto waits = calls("WaitForMultipleObjects");
    SvcStop();
    SvcCleanup();
    EXPECT_EQ(calls("WaitForMultipleObjects"), waits);
}

TEST_F(ServiceTest, StartsWithoutDeviceIdAndWithAnyFourByteGate) {
    start({});
    registry().setValue(kParamsPath, kValueIsSupportSDIO, REG_BINARY, {1, 0, 0, 0});
    SvcInit(0, 0);
    EXPECT_TRUE(SvcIsRunning());
    EXPECT_EQ(gdwDeviceId, 0u);
    SvcStop();
    SvcCleanup();
}

// A switching value left set by a run that ended mid-switch goes back to 0 at
// start, before any worker runs; 0, or no value, is left alone.
TEST_F(ServiceTest, StaleSwitchingValueIsClearedBeforeTheWorkersStart) {
    const struct {
        const char* name;
        std::optional<DWORD> left;
        const char* trace;
    } cases[] = {
        {"absent", std::nullopt, nullptr},
        {"zero", 0u, nullptr},
        {"towards the standard driver", 1u,
         "SvcInit: IsSwitchingDrv is 1, left by a switch that never ended: set to 0."},
        {"towards the maker's", 0x81u, "SvcInit: IsSwitchingDrv is 81, left by a switch that never ended: set to 0."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({});
        openGate();
        if (c.left)
            registry().setDword(kParamsPath, kValueIsSwitchingDrv, *c.left);
        SvcInit(0, 0);
        ASSERT_TRUE(SvcIsRunning());
        EXPECT_EQ(registry().dword(kParamsPath, kValueIsSwitchingDrv), c.left ? std::optional<DWORD>(0) : std::nullopt);
        EXPECT_EQ(writesOf(*machine, kValueIsSwitchingDrv), c.trace ? std::vector<DWORD>{0} : std::vector<DWORD>{});
        if (c.trace) {
            EXPECT_TRUE(traced(c.trace));
            auto log = machine->records().calls();
            auto at = [&](const char* function) {
                return std::find_if(log.begin(), log.end(), [&](const auto& r) { return r.function == function; });
            };
            EXPECT_LT(at("RegSetValueExA"), at("CreateThread")) << "before the workers start";
        }
        SvcStop();
        SvcCleanup();
    }
}

TEST_F(ServiceTest, EachEventCreationFailureReleasesWhatWasMade) {
    const char* const traces[] = {
        "SvcInit:Error(8) in CreateEvent ghSvcStopEvent.",
        "SvcInit:Error(8) in CreateEvent ghSvcStopThreadEvent[0].",
        "SvcInit:Error(8) in CreateEvent ghSvcStopThreadEvent[1].",
        "SvcInit:Error(8) in CreateEvent ghSvcStopThreadEvent[2].",
        "SvcInit:Error(8) in CreateEvent ghSDIORegChangeEvent.",
        "SvcInit:Error(8) in CreateEvent ghChangeMicrosoftDriverEvent.",
        "SvcInit:Error(8) in CreateEvent ghChangeHXDriverEvent.",
        "SvcInit:Error(8) in CreateEvent ghChangeHXDriverRequestEvent.",
        "SvcInit:Error(8) in CreateEvent ghChangeMicrosoftRequestEvent.",
    };
    for (unsigned n = 1; n <= 9; ++n) {
        SCOPED_TRACE(traces[n - 1]);
        start({});
        openGate();
        machine->faults().failNth("CreateEventA", n, ERROR_NOT_ENOUGH_MEMORY);
        SvcInit(0, 0);
        EXPECT_TRUE(traced(traces[n - 1]));
        EXPECT_EQ(calls("CreateEventA"), n);
        EXPECT_EQ(calls("CloseHandle"), n - 1);
        EXPECT_EQ(calls("CreateThread"), 0u);
        EXPECT_EQ(calls("DeleteCriticalSection"), 1u);
        expectNothingLeft();
        SvcCleanup(); // after a failed start: nothing to do
        EXPECT_EQ(calls("WaitForMultipleObjects"), 0u);
    }
}

TEST_F(ServiceTest, EachThreadStartFailureStopsAndWaitsForTheStartedWorkers) {
    const struct {
        const char* trace;
        std::vector<const char*> stopped; // what the workers that saw the stop request traced
    } cases[] = {
        {"SvcInit:Error(5AA) in CreateThread ghThreadMonitorSDIORegister.", {}},
        {"SvcInit:Error(5AA) in CreateThread ghThreadOperateDriver.", {kMonitorStopped}},
        {"SvcInit:Error(5AA) in CreateThread ghThreadRequestFilter.", {kMonitorStopped, kOperatorStopped}},
        {"SvcInit:Error(5AA) in CreateThread ghThreadDialog.", {kMonitorStopped, kOperatorStopped, kFilterStopped}},
    };
    for (unsigned n = 1; n <= 4; ++n) {
        const auto& c = cases[n - 1];
        SCOPED_TRACE(c.trace);
        start({});
        openGate();
        machine->faults().failNth("CreateThread", n, ERROR_NO_SYSTEM_RESOURCES);
        SvcInit(0, 0);
        EXPECT_TRUE(traced(c.trace));
        EXPECT_TRUE(traced("SvcInit:WaitForMultipleObjects service stop event"));
        for (const char* stopTrace : c.stopped)
            EXPECT_TRUE(traced(stopTrace)) << stopTrace;
        EXPECT_EQ(calls("SetEvent"), (3u - c.stopped.size()) + (c.stopped.empty() ? 0u : 1u) + c.stopped.size())
            << "stopped events signalled on behalf of the workers not started, the stop request, the workers' own";
        EXPECT_EQ(calls("Sleep"), 0u) << "no settling pause after a failed start";
        expectNothingLeft();
    }
}

TEST_F(ServiceTest, WorkerThatEndedEarlyDoesNotDelayCleanup) {
    // The first worker to wait fails its wait and leaves at once, signalling
    // its stopped event; which worker that is, the thread scheduling decides.
    machine->faults().failNth("WaitForMultipleObjects", 1, ERROR_INVALID_HANDLE);
    SvcInit(0, 0);
    ASSERT_TRUE(SvcIsRunning());
    int failures = 0;
    for (const auto& line : machine->records().debugOutput())
        failures += line.text.find(":Error(6) in WaitForMultipleObjects.") != std::string::npos;
    EXPECT_EQ(failures, 1);
    settle();
    EXPECT_EQ(machine->threads(), 1u + 3u);
    SvcStop();
    SvcCleanup();
    EXPECT_FALSE(SvcIsRunning());
    EXPECT_EQ(machine->openHandles(), 1u);
}

TEST_F(ServiceTest, MonitorIsPromptedOnceAtStart) {
    SvcInit(0, 0);
    auto sets = machine->records().calls("SetEvent");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].time, kStartSettleMs);
    machine->advance(1);
    // The monitor took the prompt: the event is reset again.
    EXPECT_EQ(WaitForSingleObject(ghSDIORegChangeEvent, 0), WAIT_TIMEOUT);
    SvcStop();
    SvcCleanup();
}

} // namespace

namespace {

class BoundedCleanupTest : public DeviceTest {};

TEST_F(BoundedCleanupTest, HungToolDoesNotHangTheStopButKeepsWhatTheOperatorUses) {
    reader->setDevconMode(sim::DevconMode::Hangs);
    SvcInit(0, 0);
    SetEvent(ghChangeMicrosoftDriverEvent);
    machine->advance(1000); // the operator waits for the tool
    auto stopAt = machine->now();
    SvcStop();
    SvcCleanup();
    EXPECT_EQ(machine->now() - stopAt, kCleanupWaitMs);
    EXPECT_TRUE(traced("SvcCleanup: workers still running after 60000 ms, service objects kept."));
    EXPECT_FALSE(SvcIsRunning());
    // The operator still waits on its process handle and will use the lock
    // and its events when the tool ends: none of them is closed.
    EXPECT_EQ(machine->liveCriticalSections(), 1u);
    EXPECT_NE(ghSvcStopThreadEvent[kStoppedOperator], nullptr);
    EXPECT_EQ(WaitForSingleObject(ghSvcStopThreadEvent[kStoppedMonitor], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ghSvcStopThreadEvent[kStoppedFilter], 0), WAIT_OBJECT_0);
    auto waits = machine->faults().calls("WaitForMultipleObjects");
    SvcCleanup(); // a second call does not wait again
    EXPECT_EQ(machine->faults().calls("WaitForMultipleObjects"), waits);
    // The process ends here: the machine goes, with the hung tool.
    reader.reset();
    start({});
}

} // namespace
