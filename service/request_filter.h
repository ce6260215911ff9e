// The request filter's decisions, apart from its thread: one pending
// request, a quiet period, then a decision from the actual situation.
// Tests drive it with tick values of their choosing; the thread drives it
// with GetTickCount.
#pragma once

#include "platform/win32.h"

constexpr DWORD NoRequest = 0;
constexpr DWORD ChangeMicrosoftRequest = 1;
constexpr DWORD ChangeHXDriverRequest = 2;

constexpr DWORD kFilterWaitMs = 1000;    // the wait that drives evaluations
constexpr DWORD kQuietPeriodMs = 1500;   // a request settles after more than this
constexpr DWORD kRepeatWindowMs = 2000;  // a repeat of the last settled request within this is discarded

// What the filter asks of, and does to, the rest of the service.
class FilterWorld {
public:
    virtual ~FilterWorld() = default;
    virtual bool sdBusEmpty() = 0;            // the SD-bus check, under the device lock
    virtual bool makerDriverBound() = 0;      // FindHalvexDriver, under the device lock
    virtual bool readSwitchFlag(DWORD* flag) = 0; // DriverSwitchFlag with the retry rule
    virtual void commandStandardDriver() = 0; // reset the maker's command, signal the standard one
    virtual void commandMakerDriver() = 0;    // signal the maker's command
    virtual void resetStandardCommand() = 0;
};

class RequestFilter {
public:
    explicit RequestFilter(DWORD startTick) : curRequestTime(startTick) {}

    // A request event was taken at tick `now`.
    void request(DWORD kind, DWORD now);
    // The wait timed out at tick `now`.
    void timeout(DWORD now, FilterWorld& world);
    // How long the thread's next wait may last: kFilterWaitMs while a
    // request is pending or the last one settled has yet to age out,
    // INFINITE once nothing is pending and the last settle was of nothing.
    // A time-out in that state would only settle nothing again, so an idle
    // service sleeps until a request (or the stop) comes, and a request then
    // starts the 1000 ms waits afresh, just as its wake-up always did.
    DWORD waitMs() const;

    DWORD curRequest = NoRequest;
    DWORD curRequestTime;
    DWORD lastRequest = NoRequest;
    DWORD lastRequestTime = 0;
    DWORD dwSwitchFlag = 0;

private:
    void settle(DWORD now);
};
