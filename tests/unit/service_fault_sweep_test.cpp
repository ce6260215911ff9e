// Every entry point of the service with each platform call it makes failing
// in turn: the entry point gives one of the answers documented for a
// failure, and the machine's counters (handles, keys, device lists, heap
// blocks, threads) end where they started. The calls come from the record of
// a clean run, so a platform call added to the service is swept without a
// new test.
//
// Not swept: releases (a failed release leaves what it was to release,
// whoever calls it), calls that cannot fail (Sleep and the critical
// sections), and the signalling of the service's own events, which Windows
// refuses only for a handle that is not an event: a consumer that cannot
// reset its event would take the same request again and again.
#include "platform/sim/card_reader.h"
#include "platform/sim/machine.h"
#include "service/device_enumeration.h"
#include "service/driver_changer.h"
#include "service/parameters.h"
#include "service/registry_monitor.h"
#include "service/service.h"
#include "service/workers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace {

constexpr DWORD kInjected = ERROR_GEN_FAILURE;
constexpr DWORD kLetThreadsEndMs = 20000;

bool swept(const std::string& function) {
    static const std::set<std::string> notSwept = {"CloseHandle",
                                                   "RegCloseKey",
                                                   "SetupDiDestroyDeviceInfoList",
                                                   "HeapFree",
                                                   "Sleep",
                                                   "InitializeCriticalSection",
                                                   "DeleteCriticalSection",
                                                   "SetEvent",
                                                   "ResetEvent",
                                                   "GetSystemInfo",
                                                   "GetNativeSystemInfo"};
    return !notSwept.count(function);
}

class ServiceFaultSweep;

struct EntryPoint {
    const char* name;
    std::function<void(ServiceFaultSweep&)> arrange;
    std::function<long(ServiceFaultSweep&)> call;
    long clean;                                        // the answer when nothing fails
    std::set<long> failed;                             // the answers a failure gives
    std::map<std::string, std::set<long>> except = {}; // calls whose failure may give others
    bool threadOfItsOwn = false;                       // sweep the calls of the thread it starts, not the caller's
    std::function<void(ServiceFaultSweep&)> release = nullptr; // what arrange took, after the counters
};

// A fresh machine for every run: the reader installed on the maker's
// driver, the parameters key with its gate and device identifier, the
// service's process state as at load. No resources: no entry point swept
// here opens a window.
class ServiceFaultSweep : public ::testing::Test {
  public:
    void SetUp() override {
        SvcForgetProcessState();
        machine = std::make_unique<sim::Machine>();
        reader = std::make_unique<sim::CardReader>(*machine);
        reader->install();
    }
    void TearDown() override {
        EXPECT_EQ(machine->deadlockReport(), "");
        reader.reset();
        machine.reset();
        SvcForgetProcessState();
    }

    struct Counters {
        std::size_t handles, keys, lists, heap, threads;
        bool operator==(const Counters& o) const {
            return handles == o.handles && keys == o.keys && lists == o.lists && heap == o.heap && threads == o.threads;
        }
    };
    Counters counters() const {
        return {machine->openHandles(), machine->openKeys(), machine->openDeviceLists(), machine->heapBlocks(),
                machine->threads()};
    }
    void setValue(const char* name, DWORD value) {
        machine->registry().setDword(sim::CardReader::kParametersPath, name, value);
    }
    sim::CardReader& cardReader() { return *reader; }

    // The service's nine events, as SvcInit makes them, for a worker run alone.
    void makeEvents() {
        for (HANDLE* e : {&ghSvcStopEvent, &ghSvcStopThreadEvent[0], &ghSvcStopThreadEvent[1], &ghSvcStopThreadEvent[2],
                          &ghSDIORegChangeEvent, &ghChangeMicrosoftDriverEvent, &ghChangeHXDriverEvent,
                          &ghChangeHXDriverRequestEvent, &ghChangeMicrosoftRequestEvent})
            *e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        InitializeCriticalSection(&gcsDeviceLock);
    }
    // Starts `routine`, lets it settle, raises `event`, lets `ms` pass; then
    // answers whether `signalled` was raised (1) and whether the worker had
    // ended before the stop request (2), and stops it.
    long runWorker(LPTHREAD_START_ROUTINE routine, HANDLE event, DWORD ms, HANDLE signalled) {
        HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
        machine->advance(1); // waiting now: arming a notification resets its event
        SetEvent(event);
        machine->advance(ms);
        long answer = signalled && WaitForSingleObject(signalled, 0) == WAIT_OBJECT_0 ? 1 : 0;
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0)
            answer += 2;
        SetEvent(ghSvcStopEvent);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return answer;
    }

    struct Swept {
        int made = 0;     // platform calls of the clean run (on the thread swept)
        int injected = 0; // of those, failed once each
    };

    // Runs the entry point clean, then once per platform call it made with
    // that call failing.
    Swept sweep(const EntryPoint& e) {
        SCOPED_TRACE(e.name);
        const std::vector<sim::CallRecord> made = run(e, nullptr, 0);
        std::map<std::string, unsigned> seen;
        Swept counts;
        for (const sim::CallRecord& c : made) {
            const unsigned nth = ++seen[c.function];
            if ((c.thread == mainThread_) == e.threadOfItsOwn)
                continue;
            ++counts.made;
            if (!swept(c.function))
                continue;
            run(e, c.function.c_str(), nth);
            ++counts.injected;
        }
        return counts;
    }

  private:
    std::vector<sim::CallRecord> run(const EntryPoint& e, const char* failing, unsigned nth) {
        const std::string what = failing ? std::string(failing) + " #" + std::to_string(nth) : "clean";
        SCOPED_TRACE(what);
        TearDown();
        SetUp();
        e.arrange(*this);
        mainThread_ = sim::Kernel::self()->id;
        machine->records().clear();
        const Counters before = counters();
        if (failing)
            machine->faults().failNth(failing, nth, kInjected);
        // Only the clean run's calls are read: the others keep no log.
        machine->records().setCallLogging(!failing);
        machine->records().setDebugKeeping(false);
        const long answer = e.call(*this);
        machine->advance(kLetThreadsEndMs);
        std::vector<sim::CallRecord> made = machine->records().calls();
        if (!failing) {
            EXPECT_EQ(answer, e.clean);
        } else {
            auto other = e.except.find(failing);
            const std::set<long>& allowed = other == e.except.end() ? e.failed : other->second;
            EXPECT_TRUE(allowed.count(answer)) << answer;
        }
        EXPECT_TRUE(counters() == before)
            << "handles " << counters().handles << "/" << before.handles << ", keys " << counters().keys << "/"
            << before.keys << ", lists " << counters().lists << "/" << before.lists << ", heap " << counters().heap
            << "/" << before.heap << ", threads " << counters().threads << "/" << before.threads;
        if (e.release)
            e.release(*this);
        return made;
    }

    std::unique_ptr<sim::Machine> machine;
    std::unique_ptr<sim::CardReader> reader;
    DWORD mainThread_ = 0;
};

using S = ServiceFaultSweep;
const std::set<long> kBoth = {0, 1};
HKEY gKey;
DWORD gRead;

const EntryPoint kEntryPoints[] = {
    // The parameters store: readers answer their safe default, writers and
    // the flag reader the failing step's status.
    {"supportSDIO", [](S&) {}, [](S&) -> long { return supportSDIO(); }, 1, {0}},
    {"ReadDeviceID", [](S&) {}, [](S&) -> long { return ReadDeviceID(); }, 0x1234, {0}},
    {"ReadDriverSwitchFlag",
     [](S& s) { s.setValue(kValueDriverSwitchFlag, 1); },
     [](S&) -> long {
         gRead = 7;
         const LONG status = ReadDriverSwitchFlag(&gRead);
         return status == ERROR_SUCCESS ? static_cast<long>(gRead) : gRead == 7 ? status : -1;
     },
     1,
     {kInjected}},
    {"WriteDriverSwitchFlag", [](S&) {}, [](S&) -> long { return WriteDriverSwitchFlag(1); }, 0, {kInjected}},
    {"WriteDriverSwitchingForTimerbar",
     [](S&) {},
     [](S&) -> long { return WriteDriverSwitchingForTimerbar(kSwitchingToMaker); },
     0,
     {kInjected}},
    // The monitor's consumer, with the key the monitor holds.
    {"RestoreRegisterKey",
     [](S& s) {
         s.setValue(kValueIsSDIOPresent, 1);
         ASSERT_EQ(CreateParametersKey(&gKey), ERROR_SUCCESS);
     },
     [](S&) -> long { return RestoreRegisterKey(gKey); },
     kRestoreConsumed,
     {kRestoreFailed},
     {},
     false,
     [](S&) { RegCloseKey(gKey); }},

    // Device enumeration: a failed walk is the negative answer; an
    // identifier or description that cannot be read is a device passed over,
    // which matters only when it is the one looked for.
    {"EnumerateDevicesStatus",
     [](S&) {},
     [](S&) -> long { return EnumerateDevicesStatus("pci\\ven_1b2c&dev_1234"); },
     1,
     {0},
     {{"CM_Get_Device_ID_ExA", kBoth}}},
    {"EnumerateDevices",
     [](S& s) {
         s.cardReader().bind(sim::Binding::Standard);
         s.cardReader().insert(sim::Card::Sdio);
     },
     [](S&) -> long { return EnumerateDevices(kSdBusPattern); },
     0,
     {2},
     {{"CM_Get_Device_ID_ExA", {0, 2}}}},
    {"FindHalvexDriver",
     [](S&) {},
     [](S&) -> long { return FindHalvexDriver(); },
     1,
     {0},
     {{"SetupDiGetDeviceRegistryPropertyA", kBoth}}},
    {"FindMicrosoftDriver",
     [](S& s) { s.cardReader().bind(sim::Binding::Standard); },
     [](S&) -> long { return FindMicrosoftDriver(); },
     1,
     {0},
     {{"SetupDiGetDeviceRegistryPropertyA", kBoth}}},
    // The SD-bus check: one failed walk is one absent sample, which delays a
    // decision and never turns it.
    {"Check_SDBUSHasNotDevice_afterRemoveMessage, a card on the bus",
     [](S& s) {
         s.cardReader().bind(sim::Binding::Standard);
         s.cardReader().insert(sim::Card::Sdio);
     },
     [](S&) -> long { return Check_SDBUSHasNotDevice_afterRemoveMessage(0); },
     0,
     {0}},
    {"Check_SDBUSHasNotDevice_afterRemoveMessage, the bus empty",
     [](S&) {},
     [](S&) -> long { return Check_SDBUSHasNotDevice_afterRemoveMessage(0); },
     1,
     {1}},

    // The changer refuses on any failure on its way to the tool, and takes
    // no notice of the timer bar's writes (a failed open is either: the
    // identifier's service key, or the timer bar's key). A failed look-up of
    // GetNativeSystemInfo leaves GetSystemInfo, which on this machine tells
    // the same.
    {"ChangeDriver(1)",
     [](S&) { gdwDeviceId = 0; },
     [](S&) -> long { return ChangeDriver(kBindStandardDriver); },
     1,
     {0},
     {{"CM_Get_Device_ID_ExA", kBoth},
      {"RegOpenKeyExA", kBoth},
      {"RegSetValueExA", {1}},
      {"GetModuleHandleA", {1}},
      {"GetProcAddress", {1}}}},
    {"ChangeDriver(2)",
     [](S& s) {
         s.cardReader().bind(sim::Binding::Standard);
         gdwDeviceId = 0;
     },
     [](S&) -> long { return ChangeDriver(kBindMakerDriver); },
     1,
     {0},
     {{"CM_Get_Device_ID_ExA", kBoth},
      {"RegOpenKeyExA", kBoth},
      {"RegSetValueExA", {1}},
      {"GetModuleHandleA", {1}},
      {"GetProcAddress", {1}}}},

    // The workers, each alone on its thread. The monitor ends at any failure
    // (2 = it had ended before the stop request), after its first look
    // consumed the driver's report (1) or before.
    {"ThreadMonitorSDIORegister",
     [](S& s) {
         s.setValue(kValueIsSDIOPresent, 1);
         s.makeEvents();
     },
     [](S& s) -> long {
         return s.runWorker(ThreadMonitorSDIORegister, ghSDIORegChangeEvent, 100, ghChangeMicrosoftRequestEvent);
     },
     1,
     {2, 3},
     {},
     true},
    // The filter, with a device change to evaluate: the bus settles empty
    // and the flag says the standard driver is the service's doing, so it
    // commands the maker's (1). Failed walks and reads are absent samples and
    // retries; a failed wait ends it (2), before or after its command.
    {"ThreadRequestFilter",
     [](S& s) {
         s.setValue(kValueDriverSwitchFlag, 1);
         s.makeEvents();
     },
     [](S& s) -> long {
         return s.runWorker(ThreadRequestFilter, ghChangeHXDriverRequestEvent, 6000, ghChangeHXDriverEvent);
     },
     1,
     {1},
     {{"WaitForMultipleObjects", {2, 3}}},
     true},
    // The operator, commanded back to the maker's driver with the bus empty:
    // it switches (1), unless a failure refuses the switch; a failed wait
    // ends it (2).
    {"ThreadOperateDriver",
     [](S& s) {
         s.cardReader().bind(sim::Binding::Standard);
         s.setValue(kValueDriverSwitchFlag, 1);
         s.makeEvents();
     },
     [](S& s) -> long {
         const long answer = s.runWorker(ThreadOperateDriver, ghChangeHXDriverEvent, 15000, nullptr);
         return answer + (s.cardReader().binding() == sim::Binding::Maker ? 1 : 0);
     },
     1,
     kBoth,
     {{"WaitForMultipleObjects", {2, 3}}},
     true},
};

TEST_F(ServiceFaultSweep, EveryEntryPointWithEachPlatformCallFailing) {
    Swept all;
    for (const EntryPoint& e : kEntryPoints) {
        const Swept one = sweep(e);
        std::printf("[ sweep    ] %-62s %4d of %4d calls failed\n", e.name, one.injected, one.made);
        all.made += one.made;
        all.injected += one.injected;
    }
    EXPECT_GE(all.injected, 1000);
    std::printf("[ sweep    ] %d of the %d platform calls of %zu service entry points failed in turn\n", all.injected,
                all.made, sizeof kEntryPoints / sizeof kEntryPoints[0]);
}

} // namespace
