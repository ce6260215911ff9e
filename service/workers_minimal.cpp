// The worker loops as the spine runs them: each waits for its work or for the
// stop request, takes (resets) what it was signalled for, and on every way out
// signals its stopped event. The decisions they make on that work are built
// on this frame.
#include "service/service.h"
#include "service/trace.h"
#include "service/workers.h"

namespace {

// Waits on the stop event followed by `work`; resets each work event that
// fires. Leaves on the stop request or when the wait itself fails.
void serveUntilStopped(const char* name, HANDLE* work, DWORD workCount, DWORD timeoutMs) {
    HANDLE waitSet[4] = {ghSvcStopEvent};
    for (DWORD i = 0; i < workCount; ++i)
        waitSet[1 + i] = work[i];
    for (;;) {
        DWORD r = WaitForMultipleObjects(1 + workCount, waitSet, FALSE, timeoutMs);
        if (r == WAIT_OBJECT_0) {
            SvcTrace("%s: service stop event.", name);
            return;
        }
        if (r == WAIT_TIMEOUT)
            continue;
        if (r > WAIT_OBJECT_0 && r <= WAIT_OBJECT_0 + workCount) {
            ResetEvent(waitSet[r - WAIT_OBJECT_0]);
            continue;
        }
        SvcTrace("%s:Error(%X) in WaitForMultipleObjects.", name, GetLastError());
        return;
    }
}

} // namespace

DWORD WINAPI ThreadMonitorSDIORegister(LPVOID) {
    HANDLE work[] = {ghSDIORegChangeEvent};
    serveUntilStopped("ThreadMonitorSDIORegister", work, 1, INFINITE);
    SetEvent(ghSvcStopThreadEvent[kStoppedMonitor]);
    return 0;
}

DWORD WINAPI ThreadRequestFilter(LPVOID) {
    HANDLE work[] = {ghChangeHXDriverRequestEvent, ghChangeMicrosoftRequestEvent};
    serveUntilStopped("ThreadRequestFilter", work, 2, INFINITE);
    SetEvent(ghSvcStopThreadEvent[kStoppedFilter]);
    return 0;
}

DWORD WINAPI DialogThread(LPVOID) {
    // The device-change listener's dialog runs here until the process ends.
    Sleep(INFINITE);
    return 0;
}
