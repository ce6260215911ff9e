// Sleep, GetTickCount and wait time-outs.
//
// Windows' tick advances in steps of about 15.6 ms, so an interval read with
// GetTickCount may look up to one step shorter than it was. The upper bounds
// only catch a wait that never ends; a loaded machine may run late.
#include "platform/win32.h"

#include "harness.h"

namespace {

const DWORD kTick = 16;
const DWORD kLate = 1000;
const DWORD kPatience = 5000;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

bool lasted(DWORD elapsed, DWORD ms) {
    return elapsed + kTick >= ms && elapsed < ms + kLate;
}

struct Delayed {
    HANDLE event;
    DWORD delay;
};

DWORD WINAPI setAfterDelay(LPVOID arg) {
    auto* d = static_cast<Delayed*>(arg);
    Sleep(d->delay);
    SetEvent(d->event);
    return 0;
}

} // namespace

CONFORMANCE_TEST(sleep_lasts_as_asked) {
    static const DWORD sleeps[] = {0, 1, 20, 50, 100};
    for (DWORD ms : sleeps) {
        DWORD start = GetTickCount();
        Sleep(ms);
        DWORD elapsed = GetTickCount() - start;
        ok(lasted(elapsed, ms), "Sleep(%u) took %u ms by the tick count\n", u(ms), u(elapsed));
    }
}

CONFORMANCE_TEST(tick_count_moves_forward) {
    DWORD previous = GetTickCount();
    DWORD first = previous;
    for (int i = 0; i < 5; ++i) {
        Sleep(20);
        DWORD now = GetTickCount();
        // Unsigned difference: right across the 49.7-day wrap as well.
        ok(now - previous < kLate, "the tick count went from %u to %u\n", u(previous), u(now));
        previous = now;
    }
    ok(lasted(previous - first, 100), "five sleeps of 20 ms took %u ms\n", u(previous - first));
}

CONFORMANCE_TEST(wait_time_outs) {
    HANDLE clear[2] = {CreateEventA(NULL, FALSE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE mixed[2] = {CreateEventA(NULL, FALSE, TRUE, NULL), clear[0]};

    struct Row {
        const char* what;
        DWORD count;
        HANDLE* handles;
        BOOL all;
        DWORD ms;
    };
    const Row rows[] = {
        {"single, 0 ms", 1, clear, FALSE, 0},
        {"single, 30 ms", 1, clear, FALSE, 30},
        {"any of two, 0 ms", 2, clear, FALSE, 0},
        {"any of two, 30 ms", 2, clear, FALSE, 30},
        {"all of two, one set, 0 ms", 2, mixed, TRUE, 0},
        {"all of two, one set, 50 ms", 2, mixed, TRUE, 50},
    };
    for (const Row& row : rows) {
        DWORD start = GetTickCount();
        DWORD r = row.count == 1 ? WaitForSingleObject(row.handles[0], row.ms)
                                 : WaitForMultipleObjects(row.count, row.handles, row.all, row.ms);
        DWORD elapsed = GetTickCount() - start;
        ok(r == WAIT_TIMEOUT, "%s: answered %#x\n", row.what, u(r));
        ok(lasted(elapsed, row.ms), "%s: took %u ms\n", row.what, u(elapsed));
    }
    // The waits for all timed out, so they took nothing from the set event.
    ok(WaitForSingleObject(mixed[0], 0) == WAIT_OBJECT_0, "a timed-out wait for all took an auto-reset event\n");
    CloseHandle(mixed[0]);
    CloseHandle(clear[0]);
    CloseHandle(clear[1]);
}

CONFORMANCE_TEST(wait_ends_when_signalled_before_its_time_out) {
    Delayed d = {CreateEventA(NULL, FALSE, FALSE, NULL), 40};
    DWORD start = GetTickCount();
    HANDLE t = CreateThread(NULL, 0, setAfterDelay, &d, 0, NULL);
    DWORD r = WaitForSingleObject(d.event, kPatience);
    DWORD elapsed = GetTickCount() - start;
    ok(r == WAIT_OBJECT_0, "answered %#x\n", u(r));
    ok(lasted(elapsed, d.delay), "woke after %u ms for a set made after %u ms\n", u(elapsed), u(d.delay));
    WaitForSingleObject(t, kPatience);
    CloseHandle(t);
    CloseHandle(d.event);
}
