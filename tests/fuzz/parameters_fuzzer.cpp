// The parameters store and the registry monitor against a parameters key the
// fuzzer fills: each value absent or of any type and size, the key missing,
// persistent, volatile or closed to a process without rights; then the
// monitor's thread watching while the driver writes, rewrites and deletes
// IsSDIOPresent. Every answer is checked against the store's one rule (a
// value is read when it has exactly four bytes) and the monitor's (it
// consumes a 1, leaves other numbers, ends on an unreadable value).
#include "support/byte_source.h"
#include "support/service_world.h"

#include "service/registry_monitor.h"
#include "service/workers.h"

#include <cstdint>
#include <optional>
#include <string>

namespace {

constexpr std::size_t kLongestValue = 600;
constexpr std::uint32_t kUntouched = 0xA5A5A5A5;
constexpr std::size_t kMostSteps = 12;
constexpr DWORD kLongestPauseMs = 5000;

const char* const kValues[] = {kValueIsSupportSDIO, kValueDeviceId, kValueDriverSwitchFlag, kValueIsSwitchingDrv,
                               kValueIsSDIOPresent};

struct Fixture {
    fuzz::ByteSource& input;
    fuzz::ServiceWorld& world;
    bool administrator;

    sim::Registry& registry() { return world.machine.registry(); }
    std::optional<sim::RegValue> value(const char* name) { return registry().value(fuzz::kParametersPath, name); }
    bool keyExists() { return registry().keyExists(fuzz::kParametersPath); }
    bool keyOpens() { return administrator && keyExists(); }

    // Absent, a DWORD, or any type and size.
    void fill(const char* name) {
        switch (input.choice(3)) {
        case 0:
            registry().deleteValue(fuzz::kParametersPath, name);
            break;
        case 1:
            registry().setDword(fuzz::kParametersPath, name, input.flag() ? 1 : input.u32());
            break;
        default: {
            const DWORD type = input.u32();
            const std::string data = input.text(kLongestValue);
            registry().setValue(fuzz::kParametersPath, name, type, std::vector<BYTE>(data.begin(), data.end()));
        }
        }
    }

    void requireWritten(const char* name, DWORD number) {
        const auto v = value(name);
        fuzz::require(v && v->type == REG_DWORD && fuzz::readable(v) && fuzz::numberOf(*v) == number,
                      "a DWORD of four bytes is written");
    }

    void accessors() {
        // The two readers that create the key: missing, it is made empty,
        // only beneath the driver's own service key, which is never made.
        const bool driverInstalled = registry().keyExists(fuzz::kDriverServicePath);
        const bool existed = keyExists();
        const bool creates = administrator && driverInstalled;
        const bool gate = supportSDIO();
        fuzz::require(keyExists() == (existed || creates), "the key exists once asked for, where it can be made");
        fuzz::require(registry().keyExists(fuzz::kDriverServicePath) == driverInstalled,
                      "the driver's service key is never made");
        auto v = value(kValueIsSupportSDIO);
        fuzz::require(gate == (creates && fuzz::readable(v) && fuzz::numberOf(*v) == 1), "supportSDIO's answer");
        v = value(kValueDeviceId);
        fuzz::require(ReadDeviceID() == (creates && fuzz::readable(v) ? fuzz::numberOf(*v) : 0u), "ReadDeviceID");

        DWORD flag = kUntouched;
        v = value(kValueDriverSwitchFlag);
        const LONG read = ReadDriverSwitchFlag(&flag);
        const bool readOk = keyOpens() && fuzz::readable(v);
        fuzz::require((read == ERROR_SUCCESS) == readOk, "ReadDriverSwitchFlag's status");
        fuzz::require(flag == (readOk ? fuzz::numberOf(*v) : kUntouched), "the flag, or left as it was");

        if (input.flag()) {
            const DWORD number = input.u32();
            fuzz::require((WriteDriverSwitchFlag(number) == ERROR_SUCCESS) == keyOpens(), "WriteDriverSwitchFlag");
            if (keyOpens())
                requireWritten(kValueDriverSwitchFlag, number);
        }
        if (input.flag()) {
            const DWORD number = input.u32();
            const LONG wrote = WriteDriverSwitchingForTimerbar(number);
            fuzz::require((wrote == ERROR_SUCCESS) == keyOpens(), "WriteDriverSwitchingForTimerbar");
            if (keyOpens())
                requireWritten(kValueIsSwitchingDrv, number);
        }
    }

    // What RestoreRegisterKey must make of IsSDIOPresent as it stands.
    static LONG restoreOf(const std::optional<sim::RegValue>& v) {
        if (!v)
            return kRestoreNothing; // the driver has not made it yet
        if (!fuzz::readable(v))
            return kRestoreFailed;
        return fuzz::numberOf(*v) == 1 ? kRestoreConsumed : kRestoreNothing;
    }

    void restore() {
        HKEY key = nullptr;
        if (CreateParametersKey(&key) != ERROR_SUCCESS)
            return;
        const LONG expected = restoreOf(value(kValueIsSDIOPresent));
        fuzz::require(RestoreRegisterKey(key) == expected, "RestoreRegisterKey's answer");
        if (expected == kRestoreConsumed)
            requireWritten(kValueIsSDIOPresent, 0);
        RegCloseKey(key);
    }

    // What the driver (or anyone) does to the key while the monitor waits.
    // Answers what the monitor must make of it: decided here, before the
    // change, since the monitor acts on it at once and in parallel.
    LONG change() {
        const LONG unchanged = restoreOf(value(kValueIsSDIOPresent));
        switch (input.choice(5)) {
        case 0: {
            const DWORD number = input.flag() ? 1 : input.u32();
            registry().setDword(fuzz::kParametersPath, kValueIsSDIOPresent, number);
            return number == 1 ? kRestoreConsumed : kRestoreNothing;
        }
        case 1: {
            const DWORD type = input.u32();
            const std::string data = input.text(kLongestValue);
            registry().setValue(fuzz::kParametersPath, kValueIsSDIOPresent, type,
                                std::vector<BYTE>(data.begin(), data.end()));
            return restoreOf(sim::RegValue{kValueIsSDIOPresent, type, std::vector<BYTE>(data.begin(), data.end())});
        }
        case 2:
            registry().deleteValue(fuzz::kParametersPath, kValueIsSDIOPresent);
            return kRestoreNothing;
        case 3:
            registry().setDword(fuzz::kParametersPath, kValueDriverSwitchFlag, input.u32());
            return unchanged;
        default:
            registry().setDword(fuzz::kParametersPath + "\\Sub", "Value", input.u32());
            return unchanged;
        }
    }

    static bool signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

    // The monitor's thread, from its first look at start to its stop.
    void monitor() {
        for (HANDLE* event : {&ghSvcStopEvent, &ghSvcStopThreadEvent[kStoppedMonitor], &ghSDIORegChangeEvent,
                              &ghChangeMicrosoftRequestEvent})
            *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, ThreadMonitorSDIORegister, nullptr, 0, nullptr);
        // It cannot watch a key it cannot open with full access, or that
        // could not be made.
        bool watching = keyOpens();
        LONG pending = restoreOf(value(kValueIsSDIOPresent));
        // The first look, as at the service's start: once the monitor waits,
        // for arming the notification resets the event.
        world.machine.advance(1);
        SetEvent(ghSDIORegChangeEvent);
        for (std::size_t step = 0; step <= kMostSteps; ++step) {
            world.machine.advance(1 + static_cast<DWORD>(input.upTo(kLongestPauseMs)));
            if (watching) {
                const bool consumed = pending == kRestoreConsumed;
                fuzz::require(signalled(ghChangeMicrosoftRequestEvent) == consumed, "a request for each 1 consumed");
                if (consumed)
                    requireWritten(kValueIsSDIOPresent, 0);
                watching = pending != kRestoreFailed;
            }
            fuzz::require(signalled(ghSvcStopThreadEvent[kStoppedMonitor]) == !watching,
                          "the monitor ends on an unreadable value, and only then");
            ResetEvent(ghChangeMicrosoftRequestEvent);
            if (input.empty())
                break;
            pending = change();
        }
        SetEvent(ghSvcStopEvent);
        fuzz::require(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0, "the monitor ends on the stop request");
        CloseHandle(thread);
        for (HANDLE* event : {&ghSvcStopEvent, &ghSvcStopThreadEvent[kStoppedMonitor], &ghSDIORegChangeEvent,
                              &ghChangeMicrosoftRequestEvent}) {
            CloseHandle(*event);
            *event = nullptr;
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteSource input(data, size);
    fuzz::ServiceWorld world;
    const fuzz::Counters before = fuzz::Counters::of(world.machine);
    Fixture f{input, world, true};
    switch (input.choice(4)) {
    case 0: // missing: the service makes it, where the driver is installed
        if (input.flag())
            world.machine.registry().createKey(fuzz::kDriverServicePath, false);
        break;
    case 1:
        world.machine.registry().createKey(fuzz::kParametersPath, false);
        break;
    case 2:
        world.machine.registry().createKey(fuzz::kParametersPath, true);
        break;
    default: // there, but this process may not write to it
        world.machine.registry().createKey(fuzz::kParametersPath, false);
        world.machine.registry().setAdministrator(false);
        f.administrator = false;
        break;
    }
    if (f.keyExists())
        for (const char* name : kValues)
            f.fill(name);
    f.accessors();
    f.restore();
    f.monitor();
    fuzz::requireUnchanged(before, world.machine);
    return 0;
}
