// The registry monitor: how the service learns that the card-reader driver
// saw an SDIO card. It watches the parameters key, consumes IsSDIOPresent = 1
// by writing 0 back, and raises the request for the standard driver.
#include "service/parameters.h"
#include "service/registry_monitor.h"
#include "service/service.h"
#include "service/trace.h"
#include "service/workers.h"

namespace {

constexpr DWORD kAllChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET |
                              REG_NOTIFY_CHANGE_SECURITY;

} // namespace

LONG RestoreRegisterKey(HKEY key) {
    DWORD value = 0;
    LONG status = ReadFourByteValue(key, kValueIsSDIOPresent, &value);
    SvcTrace("RestoreRegisterKey:RegQueryValueEx lRet = %x.", static_cast<unsigned>(status));
    if (status == ERROR_FILE_NOT_FOUND) {
        // The driver creates the value only when it first sees an SDIO card:
        // until then there is simply nothing to consume.
        SvcTrace("RestoreRegisterKey:IsSDIOPresent does not exist yet.");
        return kRestoreNothing;
    }
    if (status != ERROR_SUCCESS) {
        SvcTrace("RestoreRegisterKey:failed in RegQueryValueEx(%X).", errorCodeOf(status));
        return kRestoreFailed;
    }
    SvcTrace("RestoreRegisterKey:successed in RegQueryValueEx dwValue = %d.", static_cast<int>(value));
    if (value != 1)
        return kRestoreNothing;
    DWORD zero = 0;
    status = RegSetValueExA(key, kValueIsSDIOPresent, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    if (status != ERROR_SUCCESS) {
        SvcTrace("RestoreRegisterKey:failed in RegSetValueEx(%X).", errorCodeOf(status));
        return kRestoreFailed;
    }
    SvcTrace("RestoreRegisterKey:successed in RegSetValueEx.");
    return kRestoreConsumed;
}

namespace {

// One open, arm, wait, examine cycle. False when the monitor must end.
bool watchOnce(const HANDLE (&events)[2], HKEY& key) {
    LONG status = CreateParametersKey(&key);
    if (status != ERROR_SUCCESS) {
        key = nullptr;
        SvcTrace("ThreadMonitorSDIORegister:Error(%x) in RegCreateKeyEx.", errorCodeOf(status));
        return false;
    }
    SvcTrace("ThreadMonitorSDIORegister:OK in RegCreateKeyEx.");
    status = RegNotifyChangeKeyValue(key, TRUE, kAllChanges, ghSDIORegChangeEvent, TRUE);
    if (status != ERROR_SUCCESS) {
        SvcTrace("ThreadMonitorSDIORegister:Error(%x) in RegNotifyChangeKeyValue.", errorCodeOf(status));
        return false;
    }
    SvcTrace("ThreadMonitorSDIORegister:OK in RegNotifyChangeKeyValue.");
    SvcTrace("ThreadMonitorSDIORegister:Waiting for Regiter Changed Event signaled...");
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0) {
            SvcTrace("ThreadMonitorSDIORegister:WAIT_OBJECT_0 Event signaled!");
            return false;
        }
        if (r == WAIT_FAILED) {
            SvcTrace("ThreadMonitorSDIORegister:Error(%X) in WaitForMultipleObjects.", GetLastError());
            return false;
        }
        if (r == WAIT_OBJECT_0 + 1)
            break;
        SvcTrace("ThreadMonitorSDIORegister:Event not signaled!");
    }
    SvcTrace("ThreadMonitorSDIORegister:WAIT_OBJECT_0 + 1 Event signaled!");
    ResetEvent(ghSDIORegChangeEvent);
    switch (RestoreRegisterKey(key)) {
    case kRestoreConsumed:
        SvcTrace("ThreadMonitorSDIORegister:Restore serivce register key value ok!");
        SetEvent(ghChangeMicrosoftRequestEvent);
        break;
    case kRestoreFailed:
        SvcTrace("ThreadMonitorSDIORegister:Restore serivce register key value failed!");
        return false;
    default:
        break;
    }
    if (RegCloseKey(key) != ERROR_SUCCESS) {
        // Still open, as far as anyone knows: the way out tries once more.
        SvcTrace("ThreadMonitorSDIORegister:Error in RegCloseKey.");
        return false;
    }
    key = nullptr;
    return true;
}

} // namespace

DWORD WINAPI ThreadMonitorSDIORegister(LPVOID) {
    const HANDLE events[2] = {ghSvcStopEvent, ghSDIORegChangeEvent};
    HKEY key = nullptr;
    while (watchOnce(events, key)) {
    }
    if (key)
        RegCloseKey(key);
    SetEvent(ghSvcStopThreadEvent[kStoppedMonitor]);
    return 1;
}
