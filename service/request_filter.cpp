// The request filter: turns bursts of requests from the registry monitor and
// the device-change listener into single, settled commands for the driver
// operator.
#include "service/request_filter.h"

#include "service/device_enumeration.h"
#include "service/device_lock.h"
#include "service/parameters.h"
#include "service/service.h"
#include "service/trace.h"
#include "service/workers.h"

void RequestFilter::request(DWORD kind, DWORD now) {
    curRequest = kind;
    curRequestTime = now;
}

void RequestFilter::settle(DWORD now) {
    lastRequest = curRequest;
    lastRequestTime = curRequestTime;
    curRequest = NoRequest;
    curRequestTime = now;
}

void RequestFilter::timeout(DWORD now, FilterWorld& world) {
    // Differences are unsigned 32-bit, so they survive the tick counter's wrap.
    if (lastRequest == curRequest && lastRequest != NoRequest && curRequestTime - lastRequestTime < kRepeatWindowMs) {
        settle(now);
        return;
    }
    if (now - curRequestTime <= kQuietPeriodMs)
        return;
    switch (curRequest) {
    case ChangeMicrosoftRequest:
        SvcTrace("ThreadRequestFilter: WAIT_TIMEOUT set ghChangeMicrosoftDriverEvent");
        world.commandStandardDriver();
        settle(now);
        return;
    case ChangeHXDriverRequest:
        SvcTrace("ThreadRequestFilter: WAIT_TIMEOUT set ghChangeHXDriverEvent");
        if (world.sdBusEmpty()) {
            world.resetStandardCommand();
            world.readSwitchFlag(&dwSwitchFlag);
            // Back to the maker's driver only if this service put the
            // controller on the standard one.
            if (dwSwitchFlag == 1)
                world.commandMakerDriver();
            settle(now);
            return;
        }
        if (world.makerDriverBound()) {
            // A device on the SD bus while the maker's driver is bound: it
            // needs the standard driver. The request stays pending and is
            // evaluated again after the next quiet period.
            world.commandStandardDriver();
            curRequestTime = now;
            return;
        }
        settle(now);
        return;
    default:
        settle(now);
        return;
    }
}

DWORD RequestFilter::waitMs() const {
    return curRequest == NoRequest && lastRequest == NoRequest ? INFINITE : kFilterWaitMs;
}

namespace {

// The filter's world on the running service.
class ServiceWorld : public FilterWorld {
public:
    bool sdBusEmpty() override {
        return underDeviceLock([] { return Check_SDBUSHasNotDevice_afterRemoveMessage(0); }) != 0;
    }
    bool makerDriverBound() override { return underDeviceLock(FindHalvexDriver) != 0; }
    bool readSwitchFlag(DWORD* flag) override {
        return switchFlagRetry([flag] { return ReadDriverSwitchFlag(flag); }) == ERROR_SUCCESS;
    }
    void commandStandardDriver() override {
        ResetEvent(ghChangeHXDriverEvent);
        SetEvent(ghChangeMicrosoftDriverEvent);
    }
    void commandMakerDriver() override { SetEvent(ghChangeHXDriverEvent); }
    void resetStandardCommand() override { ResetEvent(ghChangeMicrosoftDriverEvent); }
};

} // namespace

DWORD WINAPI ThreadRequestFilter(LPVOID) {
    const HANDLE events[] = {ghSvcStopEvent, ghChangeHXDriverRequestEvent, ghChangeMicrosoftRequestEvent};
    ServiceWorld world;
    RequestFilter filter(GetTickCount());
    for (;;) {
        DWORD r = WaitForMultipleObjects(3, events, FALSE, filter.waitMs());
        switch (r) {
        case WAIT_OBJECT_0:
            SvcTrace("ThreadRequestFilter:WAIT_OBJECT_0 Event signaled!");
            SetEvent(ghSvcStopThreadEvent[kStoppedFilter]);
            return 0;
        case WAIT_FAILED:
            SvcTrace("ThreadRequestFilter:Error(%X) in WaitForMultipleObjects.", GetLastError());
            SetEvent(ghSvcStopThreadEvent[kStoppedFilter]);
            return 1;
        case WAIT_OBJECT_0 + 1:
            ResetEvent(ghChangeHXDriverRequestEvent);
            SvcTrace("ThreadRequestFilter: WAIT_OBJECT_0 + 1 Event signaled!");
            filter.request(ChangeHXDriverRequest, GetTickCount());
            break;
        case WAIT_OBJECT_0 + 2:
            ResetEvent(ghChangeMicrosoftRequestEvent);
            SvcTrace("ThreadRequestFilter: WAIT_OBJECT_0 + 2 Event signaled!");
            filter.request(ChangeMicrosoftRequest, GetTickCount());
            break;
        case WAIT_TIMEOUT:
            filter.timeout(GetTickCount(), world);
            break;
        default:
            SvcTrace("ThreadRequestFilter:Event not signaled!");
            break;
        }
    }
}
