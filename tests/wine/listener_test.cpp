// The device-change listener on Wine: DialogThread's hidden dialog hears a
// device-change broadcast from another process and raises the request for
// the maker's driver for the device-tree change only.
#include "service/device_change_listener.h"
#include "service/service.h"
#include "service/workers.h"

#include "../conformance/harness.h"
#include "listener_window.h"
#include "wine_support.h"

#include <cstdio>
#include <string>

namespace {

using namespace winetest;

constexpr DWORD kListeningLimitMs = 5000; // for the dialog to come up
constexpr DWORD kBroadcasterLimitMs = 10000;
constexpr DWORD kSignalLimitMs = 3000; // for a broadcast to raise the request
constexpr DWORD kQuietMs = 300;        // a broadcast that raises nothing, given time to arrive

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

} // namespace

CONFORMANCE_TEST(listener_hears_device_tree_changes) {
    ghSvcStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ghChangeHXDriverRequestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ok(ghSvcStopEvent && ghChangeHXDriverRequestEvent, "CreateEventA: error %u\n", u(GetLastError()));
    ok(makeDesktop(), "no desktop window%s\n", displayHint());
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, DialogThread, nullptr, 0, &threadId);
    ok(thread != nullptr, "CreateThread: error %u\n", u(GetLastError()));
    if (!thread)
        return;

    long long start = nowUs();
    HWND listener = waitForListener(threadId, kListeningLimitMs);
    ok(listener != nullptr, "no listening dialog after %u ms%s\n", u(kListeningLimitMs), displayHint());
    if (!listener)
        return;
    trace("listening %.1f ms after the thread started\n", static_cast<double>(nowUs() - start) / 1000.0);

    struct Row {
        const char* method;
        WPARAM code;
        bool raises;
    };
    // Codes that raise nothing first, so that a late arrival shows in the
    // rows after them.
    const Row rows[] = {
        {"send", 0x0017, false},
        {"post", 0x0017, false},
        {"system", 0x0017, false},
        {"send", DBT_CONFIGCHANGED, false},
        {"send", DBT_DEVNODES_CHANGED, true},
        {"post", DBT_DEVNODES_CHANGED, true},
        {"system", DBT_DEVNODES_CHANGED, true},
    };
    const std::string broadcaster = programFolder() + "devchange_broadcaster.exe";
    for (const Row& row : rows) {
        ResetEvent(ghChangeHXDriverRequestEvent);
        clearProbe();
        char command[MAX_PATH + 32];
        std::snprintf(command, sizeof command, "\"%s\" %s %#x", broadcaster.c_str(), row.method,
                      static_cast<unsigned>(row.code));
        HANDLE process = startProgram(command);
        ok(process != nullptr, "cannot start %s: error %u\n", command, u(GetLastError()));
        if (!row.raises) {
            long exitCode = finishProgram(process, kBroadcasterLimitMs);
            ok(exitCode == 0, "%s %#x: the broadcaster ended with %ld\n", row.method, u(row.code), exitCode);
            ok(WaitForSingleObject(ghChangeHXDriverRequestEvent, kQuietMs) == WAIT_TIMEOUT,
               "%s %#x: the request was raised\n", row.method, u(row.code));
            continue;
        }
        DWORD waited = WaitForSingleObject(ghChangeHXDriverRequestEvent, kSignalLimitMs);
        long long raisedAt = nowUs();
        long exitCode = finishProgram(process, kBroadcasterLimitMs);
        ok(exitCode == 0, "%s %#x: the broadcaster ended with %ld\n", row.method, u(row.code), exitCode);
        ok(waited == WAIT_OBJECT_0, "%s %#x: the request was not raised within %u ms\n", row.method, u(row.code),
           u(kSignalLimitMs));
        long long broadcastAt = 0;
        if (waited == WAIT_OBJECT_0 && readQword(HKEY_CURRENT_USER, kProbeKey, kProbeBroadcastAt, &broadcastAt))
            trace("%s %#x: request raised %.2f ms after the broadcast\n", row.method, u(row.code),
                  static_cast<double>(raisedAt - broadcastAt) / 1000.0);
    }
    // The listener's thread stays in its dialog until the process ends, as it
    // does in the tray program.
    SetEvent(ghSvcStopEvent);
    CloseHandle(thread);
}
