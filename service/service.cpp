#include "service/service.h"

#include "service/device_change_listener.h"
#include "service/driver_changer.h"
#include "service/parameters.h"
#include "service/trace.h"
#include "service/workers.h"

#include <initializer_list>

HANDLE ghSvcStopEvent;
HANDLE ghSvcStopThreadEvent[kWorkerCount];
HANDLE ghSDIORegChangeEvent;
HANDLE ghChangeMicrosoftDriverEvent;
HANDLE ghChangeHXDriverEvent;
HANDLE ghChangeHXDriverRequestEvent;
HANDLE ghChangeMicrosoftRequestEvent;

HANDLE ghThreadMonitorSDIORegister;
HANDLE ghThreadOperateDriver;
HANDLE ghThreadRequestFilter;
HANDLE ghThreadDialog;

CRITICAL_SECTION gcsDeviceLock;
DWORD gdwDeviceId;

namespace {

bool gRunning;
bool gLockReady;

struct EventSlot {
    HANDLE* handle;
    const char* failureTrace;
};

// Creation order.
const EventSlot kEvents[] = {
    {&ghSvcStopEvent, "SvcInit:Error(%X) in CreateEvent ghSvcStopEvent."},
    {&ghSvcStopThreadEvent[0], "SvcInit:Error(%X) in CreateEvent ghSvcStopThreadEvent[0]."},
    {&ghSvcStopThreadEvent[1], "SvcInit:Error(%X) in CreateEvent ghSvcStopThreadEvent[1]."},
    {&ghSvcStopThreadEvent[2], "SvcInit:Error(%X) in CreateEvent ghSvcStopThreadEvent[2]."},
    {&ghSDIORegChangeEvent, "SvcInit:Error(%X) in CreateEvent ghSDIORegChangeEvent."},
    {&ghChangeMicrosoftDriverEvent, "SvcInit:Error(%X) in CreateEvent ghChangeMicrosoftDriverEvent."},
    {&ghChangeHXDriverEvent, "SvcInit:Error(%X) in CreateEvent ghChangeHXDriverEvent."},
    {&ghChangeHXDriverRequestEvent, "SvcInit:Error(%X) in CreateEvent ghChangeHXDriverRequestEvent."},
    {&ghChangeMicrosoftRequestEvent, "SvcInit:Error(%X) in CreateEvent ghChangeMicrosoftRequestEvent."},
};

struct ThreadSlot {
    HANDLE* handle;
    LPTHREAD_START_ROUTINE routine;
    int stoppedIndex; // -1: the listener, which has no stopped event
    const char* failureTrace;
};

// Start order. The listener comes last, so it never runs during an unwinding.
const ThreadSlot kThreads[] = {
    {&ghThreadMonitorSDIORegister, ThreadMonitorSDIORegister, kStoppedMonitor,
     "SvcInit:Error(%X) in CreateThread ghThreadMonitorSDIORegister."},
    {&ghThreadOperateDriver, ThreadOperateDriver, kStoppedOperator,
     "SvcInit:Error(%X) in CreateThread ghThreadOperateDriver."},
    {&ghThreadRequestFilter, ThreadRequestFilter, kStoppedFilter,
     "SvcInit:Error(%X) in CreateThread ghThreadRequestFilter."},
    {&ghThreadDialog, DialogThread, -1, "SvcInit:Error(%X) in CreateThread ghThreadDialog."},
};

void closeAndClear(HANDLE* handle) {
    if (*handle) {
        CloseHandle(*handle);
        *handle = nullptr;
    }
}

// Release order of everything SvcInit may have made.
void releaseAll() {
    for (HANDLE* h : {&ghThreadDialog, &ghThreadOperateDriver, &ghThreadMonitorSDIORegister, &ghThreadRequestFilter})
        closeAndClear(h);
    for (HANDLE* h : {&ghChangeHXDriverRequestEvent, &ghChangeMicrosoftRequestEvent, &ghChangeMicrosoftDriverEvent,
                      &ghChangeHXDriverEvent, &ghSDIORegChangeEvent, &ghSvcStopThreadEvent[2],
                      &ghSvcStopThreadEvent[1], &ghSvcStopThreadEvent[0], &ghSvcStopEvent})
        closeAndClear(h);
    if (gLockReady) {
        DeleteCriticalSection(&gcsDeviceLock);
        gLockReady = false;
    }
    gdwDeviceId = 0;
}

DWORD waitForWorkers(DWORD timeoutMs) {
    return WaitForMultipleObjects(kWorkerCount, ghSvcStopThreadEvent, TRUE, timeoutMs);
}

// A thread failed to start: stop the workers that did start, wait until all
// three stopped events are signalled, then release everything.
void unwind(int started) {
    for (int i = started; i < kWorkerCount; ++i)
        SetEvent(ghSvcStopThreadEvent[kThreads[i].stoppedIndex]);
    if (started > 0)
        SetEvent(ghSvcStopEvent);
    SvcTrace("SvcInit:WaitForMultipleObjects service stop event");
    // Workers that were only just started end at once: no bound needed.
    if (waitForWorkers(INFINITE) != WAIT_OBJECT_0) {
        // Closing what a running worker may still wait on would be worse
        // than keeping it: leave the objects to the process's end.
        SvcTrace("SvcInit:Error(%X) WaitForMultipleObjects, service objects kept.", GetLastError());
        return;
    }
    releaseAll();
}

// Only a running Cardwell switches, and none does before this start: a
// switching value still set was left by a run that ended mid-switch, and
// would tell the driver of a switch in progress for ever. Its return to 0
// follows the rule of a switch's end.
void clearStaleSwitching() {
    DWORD switching = 0;
    if (ReadDriverSwitching(&switching) != ERROR_SUCCESS || switching == 0)
        return;
    SvcTrace("SvcInit: IsSwitchingDrv is %x, left by a switch that never ended: set to 0.", switching);
    switchFlagRetry([] { return WriteDriverSwitchingForTimerbar(0); });
}

} // namespace

bool SvcIsRunning() { return gRunning; }

void SvcForgetProcessState() {
    for (const EventSlot& slot : kEvents)
        *slot.handle = nullptr;
    for (const ThreadSlot& slot : kThreads)
        *slot.handle = nullptr;
    gcsDeviceLock = CRITICAL_SECTION{};
    gdwDeviceId = 0;
    gRunning = false;
    gLockReady = false;
    // The modules that keep state of their own reset it themselves.
    DriverChangerForgetProcessState();
    ListenerForgetProcessState();
}

void SvcInit(WPARAM, LPARAM) {
    if (gRunning)
        return; // started at most once
    if (!supportSDIO()) {
        SvcTrace("SvcInit: Not support SDIO, cound not start service.");
        return;
    }
    clearStaleSwitching();
    // The device-setup DLLs come from the system folder only; without them
    // the service has nothing to work with and does not start, as above.
    LPCSTR missing = nullptr;
    if (!PlatformLoadSystemDlls(&missing)) {
        SvcTrace("SvcInit:Error(%X) in loading %s from the system folder, could not start service.", GetLastError(),
                 missing ? missing : "a system DLL");
        return;
    }
    gdwDeviceId = ReadDeviceID();
    InitializeCriticalSection(&gcsDeviceLock);
    gLockReady = true;

    for (const EventSlot& slot : kEvents) {
        *slot.handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!*slot.handle) {
            SvcTrace(slot.failureTrace, GetLastError());
            releaseAll();
            return;
        }
    }

    int started = 0;
    for (const ThreadSlot& slot : kThreads) {
        *slot.handle = CreateThread(nullptr, 0, slot.routine, nullptr, 0, nullptr);
        if (!*slot.handle) {
            SvcTrace(slot.failureTrace, GetLastError());
            unwind(started < kWorkerCount ? started : kWorkerCount);
            return;
        }
        ++started;
    }

    Sleep(kStartSettleMs);
    // The monitor's first look at IsSDIOPresent, as if the key had changed.
    SetEvent(ghSDIORegChangeEvent);
    gRunning = true;
}

void SvcStop() {
    if (ghSvcStopEvent)
        SetEvent(ghSvcStopEvent);
}

void SvcCleanup() {
    if (!gRunning)
        return;
    DWORD waited = waitForWorkers(kCleanupWaitMs);
    if (waited != WAIT_OBJECT_0) {
        // A worker is still running (a device-console run that does not end)
        // or the wait failed: everything a worker may still use stays
        // allocated until the process ends. The service counts as stopped.
        if (waited == WAIT_TIMEOUT)
            SvcTrace("SvcCleanup: workers still running after %u ms, service objects kept.",
                     static_cast<unsigned>(kCleanupWaitMs));
        else
            SvcTrace("SvcCleanup:Error(%X) WaitForMultipleObjects, service objects kept.", GetLastError());
        gRunning = false;
        return;
    }
    for (HANDLE* h : {&ghThreadMonitorSDIORegister, &ghThreadOperateDriver, &ghThreadRequestFilter, &ghThreadDialog})
        closeAndClear(h);
    // ghChangeHXDriverRequestEvent stays: the listener runs until the process
    // ends and may still signal it.
    for (HANDLE* h : {&ghChangeMicrosoftDriverEvent, &ghChangeHXDriverEvent, &ghSDIORegChangeEvent,
                      &ghSvcStopThreadEvent[2], &ghSvcStopThreadEvent[1], &ghSvcStopThreadEvent[0],
                      &ghChangeMicrosoftRequestEvent, &ghSvcStopEvent})
        closeAndClear(h);
    DeleteCriticalSection(&gcsDeviceLock);
    gLockReady = false;
    gdwDeviceId = 0;
    gRunning = false;
}
