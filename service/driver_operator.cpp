// The driver operator: the one thread that changes which driver the
// controller has. It carries out the request filter's two commands, looks at
// the device tree before and after each switch, undoes a switch that went
// wrong, and records the direction in DriverSwitchFlag.
#include "service/device_enumeration.h"
#include "service/device_lock.h"
#include "service/driver_changer.h"
#include "service/parameters.h"
#include "service/service.h"
#include "service/trace.h"
#include "service/workers.h"

namespace {

void recordDirection(DWORD flag) {
    switchFlagRetry([flag] { return WriteDriverSwitchFlag(flag); });
}

// Switch, trace, and on success record `flag`.
bool switchTo(int type, DWORD flag, const char* okTrace, const char* failedTrace) {
    if (ChangeDriver(type)) {
        SvcTrace("%s", okTrace);
        recordDirection(flag);
        return true;
    }
    SvcTrace("%s", failedTrace);
    return false;
}

bool sdBusEmpty() { return underDeviceLock([] { return Check_SDBUSHasNotDevice_afterRemoveMessage(0); }) != 0; }

void bindStandardDriver() {
    ResetEvent(ghChangeMicrosoftDriverEvent);
    SvcTrace("ThreadOperateDriver: WAIT_OBJECT_0 + 1 Event signaled!");
    if (underDeviceLock(FindMicrosoftDriver))
        return; // bound already
    switchTo(kBindStandardDriver, 1, "ThreadOperateDriver:Change driver ok!", "ThreadOperateDriver:Change driver failed!");
    if (!sdBusEmpty())
        return; // an SDIO card is on the bus: the standard driver stays
    if (underDeviceLock(FindHalvexDriver)) {
        SvcTrace("ThreadOperateDriver: Currenct driver is HX driver, not change again!");
        return;
    }
    // Nothing on the bus needs the standard driver: back to the maker's.
    switchTo(kBindMakerDriver, 0, "ThreadOperateDriver:Change driver ok!", "ThreadOperateDriver:Change driver failed!");
}

void bindMakerDriver() {
    ResetEvent(ghChangeHXDriverEvent);
    SvcTrace("ThreadOperateDriver: WAIT_OBJECT_0 + 2 Event signaled!");
    if (!sdBusEmpty())
        return; // a device on the SD bus still needs the standard driver
    if (underDeviceLock(FindHalvexDriver)) {
        SvcTrace("ThreadOperateDriver: Currenct driver is \"%s\", not do again!", kMakerDriverDescription);
    } else {
        switchTo(kBindMakerDriver, 0, "ThreadOperateDriver:Change driver ok!",
                 "ThreadOperateDriver:Change driver failed!");
    }
    // Verify within one holding of the lock: is the maker's driver bound
    // while the SD bus still holds a device?
    EnterCriticalSection(&gcsDeviceLock);
    bool empty = Check_SDBUSHasNotDevice_afterRemoveMessage(0) != 0;
    bool makerBound = FindHalvexDriver() != 0;
    LeaveCriticalSection(&gcsDeviceLock);
    if (!makerBound || empty)
        return;
    switchTo(kBindStandardDriver, 1,
             "ThreadOperateDriver:Found error after change to halvex, Change driver back to Microsoft OK!",
             "ThreadOperateDriver:Found error after change to halvex, Change driver back to Microsoft failed!");
}

} // namespace

DWORD WINAPI ThreadOperateDriver(LPVOID) {
    const HANDLE events[] = {ghSvcStopEvent, ghChangeMicrosoftDriverEvent, ghChangeHXDriverEvent};
    for (;;) {
        DWORD r = WaitForMultipleObjects(3, events, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0) {
            SvcTrace("ThreadOperateDriver:WAIT_OBJECT_0 Event signaled!");
            SetEvent(ghSvcStopThreadEvent[kStoppedOperator]);
            return 0;
        }
        if (r == WAIT_OBJECT_0 + 1) {
            bindStandardDriver();
        } else if (r == WAIT_OBJECT_0 + 2) {
            bindMakerDriver();
        } else if (r == WAIT_FAILED) {
            SvcTrace("ThreadOperateDriver:Error(%X) in WaitForMultipleObjects.", GetLastError());
            SetEvent(ghSvcStopThreadEvent[kStoppedOperator]);
            return 1;
        } else {
            SvcTrace("ThreadOperateDriver:Event not signaled!");
        }
    }
}
