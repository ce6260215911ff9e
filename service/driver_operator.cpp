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

// What one command did to the controller: whether it ran a switch, and the
// DriverSwitchFlag it stored last.
struct CommandRecord {
    bool switched = false;
    bool flagStored = false;
    DWORD flag = 0;
};

void recordDirection(CommandRecord& done, DWORD flag) {
    if (switchFlagRetry([flag] { return WriteDriverSwitchFlag(flag); }) == ERROR_SUCCESS) {
        done.flagStored = true;
        done.flag = flag;
    }
}

// Switch, trace, and on success record `flag`.
bool switchTo(CommandRecord& done, int type, DWORD flag, const char* okTrace, const char* failedTrace) {
    done.switched = true;
    if (ChangeDriver(type)) {
        SvcTrace("%s", okTrace);
        recordDirection(done, flag);
        return true;
    }
    SvcTrace("%s", failedTrace);
    return false;
}

// However its switches ended, a command leaves DriverSwitchFlag telling the
// driver the enumeration sees bound: a tool whose end could not be waited for
// may have rebound the controller all the same, and one that ended may have
// failed in its own work. Nothing is stored when the flag already says so, or
// when neither driver (or both) is seen.
void matchFlagToBinding(CommandRecord& done) {
    if (!done.switched)
        return;
    EnterCriticalSection(&gcsDeviceLock);
    bool standard = FindMicrosoftDriver() != 0;
    bool maker = FindHalvexDriver() != 0;
    LeaveCriticalSection(&gcsDeviceLock);
    if (standard == maker)
        return;
    DWORD bound = standard ? 1 : 0;
    if (done.flagStored && done.flag == bound)
        return;
    DWORD stored = 0; // unreadable counts as 0, as for the request filter before its first read
    ReadDriverSwitchFlag(&stored);
    if (stored == bound)
        return;
    SvcTrace("ThreadOperateDriver: DriverSwitchFlag follows the driver bound, %u.", static_cast<unsigned>(bound));
    recordDirection(done, bound);
}

bool sdBusEmpty() { return underDeviceLock([] { return Check_SDBUSHasNotDevice_afterRemoveMessage(0); }) != 0; }

void bindStandardDriver(CommandRecord& done) {
    ResetEvent(ghChangeMicrosoftDriverEvent);
    SvcTrace("ThreadOperateDriver: WAIT_OBJECT_0 + 1 Event signaled!");
    if (underDeviceLock(FindMicrosoftDriver))
        return; // bound already
    switchTo(done, kBindStandardDriver, 1, "ThreadOperateDriver:Change driver ok!",
             "ThreadOperateDriver:Change driver failed!");
    if (!sdBusEmpty())
        return; // an SDIO card is on the bus: the standard driver stays
    if (underDeviceLock(FindHalvexDriver)) {
        SvcTrace("ThreadOperateDriver: Currenct driver is HX driver, not change again!");
        return;
    }
    // Nothing on the bus needs the standard driver: back to the maker's.
    switchTo(done, kBindMakerDriver, 0, "ThreadOperateDriver:Change driver ok!",
             "ThreadOperateDriver:Change driver failed!");
}

void bindMakerDriver(CommandRecord& done) {
    ResetEvent(ghChangeHXDriverEvent);
    SvcTrace("ThreadOperateDriver: WAIT_OBJECT_0 + 2 Event signaled!");
    if (!sdBusEmpty())
        return; // a device on the SD bus still needs the standard driver
    if (underDeviceLock(FindHalvexDriver)) {
        SvcTrace("ThreadOperateDriver: Currenct driver is \"%s\", not do again!", kMakerDriverDescription);
    } else {
        switchTo(done, kBindMakerDriver, 0, "ThreadOperateDriver:Change driver ok!",
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
    switchTo(done, kBindStandardDriver, 1,
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
        if (r == WAIT_OBJECT_0 + 1 || r == WAIT_OBJECT_0 + 2) {
            CommandRecord done;
            if (r == WAIT_OBJECT_0 + 1)
                bindStandardDriver(done);
            else
                bindMakerDriver(done);
            matchFlagToBinding(done);
        } else if (r == WAIT_FAILED) {
            SvcTrace("ThreadOperateDriver:Error(%X) in WaitForMultipleObjects.", GetLastError());
            SetEvent(ghSvcStopThreadEvent[kStoppedOperator]);
            return 1;
        } else {
            SvcTrace("ThreadOperateDriver:Event not signaled!");
        }
    }
}
