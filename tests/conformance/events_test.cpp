// Events and waits: what a set, a reset and a satisfied wait do to an event,
// and how a wait on several objects chooses and consumes.
#include "platform/win32.h"

#include "harness.h"

#include <cstring>

namespace {

// Not a handle this process can have: far beyond any handle table.
const HANDLE kBogusHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x0dead000u));
// Generous for a wait that should end at once; a hang fails instead of blocking the run.
const DWORD kPatience = 5000;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

DWORD poll(HANDLE h) {
    return WaitForSingleObject(h, 0);
}

DWORD WINAPI waitOnEvent(LPVOID arg) {
    return WaitForSingleObject(static_cast<HANDLE>(arg), kPatience);
}

} // namespace

CONFORMANCE_TEST(event_state_sequences) {
    // Each script is run against a fresh event, one character a step:
    //   s SetEvent, r ResetEvent, o a zero wait that must succeed,
    //   t a zero wait that must time out.
    struct Row {
        BOOL manual;
        BOOL initial;
        const char* script;
    };
    static const Row rows[] = {
        {TRUE, FALSE, "tsooortt"},  // manual reset: stays set across waits until reset
        {TRUE, TRUE, "oortso"},     // manual reset, created set
        {FALSE, FALSE, "tsotssot"}, // auto reset: one wait takes it; two sets make one signal
        {FALSE, TRUE, "ot"},        // auto reset, created set: the first wait takes it
        {FALSE, FALSE, "srt"},      // a reset takes back a signal nobody waited for
        {TRUE, FALSE, "rrtssoo"},   // resets and sets do not count
    };
    for (std::size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        const Row& row = rows[i];
        HANDLE e = CreateEventA(NULL, row.manual, row.initial, NULL);
        ok(e != NULL, "row %u: CreateEventA failed, error %u\n", (unsigned)i, u(GetLastError()));
        if (!e)
            continue;
        for (std::size_t step = 0; row.script[step]; ++step) {
            char op = row.script[step];
            if (op == 's') {
                ok(SetEvent(e), "row %u step %u: SetEvent failed, error %u\n", (unsigned)i, (unsigned)step,
                   u(GetLastError()));
            } else if (op == 'r') {
                ok(ResetEvent(e), "row %u step %u: ResetEvent failed, error %u\n", (unsigned)i, (unsigned)step,
                   u(GetLastError()));
            } else {
                DWORD want = op == 'o' ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
                DWORD got = poll(e);
                ok(got == want, "row %u (%s) step %u: wait answered %#x, expected %#x\n", (unsigned)i, row.script,
                   (unsigned)step, u(got), u(want));
            }
        }
        ok(CloseHandle(e), "row %u: CloseHandle failed, error %u\n", (unsigned)i, u(GetLastError()));
    }
}

CONFORMANCE_TEST(event_names_are_shared) {
    SetLastError(0xdeadbeef);
    HANDLE unnamed = CreateEventA(NULL, TRUE, FALSE, NULL);
    ok(unnamed != NULL && GetLastError() == 0, "unnamed CreateEventA: last error %u\n", u(GetLastError()));

    // A second create of the same name opens the first event, keeps its kind
    // and state, and says so through the last error.
    SetLastError(0xdeadbeef);
    HANDLE first = CreateEventA(NULL, TRUE, FALSE, "CardwellConformanceEvent");
    ok(first != NULL && GetLastError() == 0, "first named CreateEventA: last error %u\n", u(GetLastError()));
    SetLastError(0xdeadbeef);
    HANDLE second = CreateEventA(NULL, FALSE, TRUE, "CardwellConformanceEvent");
    ok(second != NULL && second != first, "second named CreateEventA: %p (first %p)\n", second, first);
    todo_on(on_sim(), "the simulation ignores event names") {
        ok(GetLastError() == ERROR_ALREADY_EXISTS, "second named CreateEventA: last error %u\n", u(GetLastError()));
        ok(poll(second) == WAIT_TIMEOUT, "the second create made a new event, set as it asked\n");
    }
    SetEvent(first);
    todo_on(on_sim(), "the simulation ignores event names") {
        ok(poll(second) == WAIT_OBJECT_0, "a set through one name's handle is not seen through the other\n");
    }
    CloseHandle(second);
    CloseHandle(first);
    CloseHandle(unnamed);
}

CONFORMANCE_TEST(event_manual_reset_releases_every_waiter) {
    HANDLE e = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE threads[3];
    for (HANDLE& t : threads) {
        t = CreateThread(NULL, 0, waitOnEvent, e, 0, NULL);
        ok(t != NULL, "CreateThread failed, error %u\n", u(GetLastError()));
    }
    // Let them block on the event first; the outcome is the same if they have not.
    Sleep(10);
    ok(SetEvent(e), "SetEvent failed\n");
    DWORD r = WaitForMultipleObjects(3, threads, TRUE, kPatience);
    ok(r == WAIT_OBJECT_0, "the waiters did not all wake: %#x\n", u(r));
    for (HANDLE t : threads) {
        DWORD code = 0xdeadbeef;
        ok(GetExitCodeThread(t, &code) && code == WAIT_OBJECT_0, "a waiter's wait answered %#x\n", u(code));
        CloseHandle(t);
    }
    ok(poll(e) == WAIT_OBJECT_0, "a manual-reset event was consumed by its waiters\n");
    CloseHandle(e);
}

CONFORMANCE_TEST(event_auto_reset_releases_one_waiter) {
    HANDLE e = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE threads[2];
    for (HANDLE& t : threads)
        t = CreateThread(NULL, 0, waitOnEvent, e, 0, NULL);
    Sleep(10);
    ok(SetEvent(e), "SetEvent failed\n");
    DWORD first = WaitForMultipleObjects(2, threads, FALSE, kPatience);
    ok(first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1, "no waiter woke: %#x\n", u(first));
    if (first <= WAIT_OBJECT_0 + 1) {
        HANDLE other = threads[1 - (first - WAIT_OBJECT_0)];
        DWORD r = WaitForSingleObject(other, 30);
        ok(r == WAIT_TIMEOUT, "one set of an auto-reset event woke both waiters: %#x\n", u(r));
        ok(poll(e) == WAIT_TIMEOUT, "the event stayed set after releasing a waiter\n");
        ok(SetEvent(e), "SetEvent failed\n");
        r = WaitForSingleObject(other, kPatience);
        ok(r == WAIT_OBJECT_0, "the second set did not release the other waiter: %#x\n", u(r));
    }
    for (HANDLE t : threads) {
        DWORD code = 0xdeadbeef;
        ok(GetExitCodeThread(t, &code) && code == WAIT_OBJECT_0, "a waiter's wait answered %#x\n", u(code));
        CloseHandle(t);
    }
    CloseHandle(e);
}

CONFORMANCE_TEST(event_calls_on_bad_handles) {
    HANDLE thread = CreateThread(NULL, 0, waitOnEvent, NULL, 0, NULL); // ends at once: NULL is no handle
    WaitForSingleObject(thread, kPatience);
    // Closed last: Windows hands a freed handle value to the next object made.
    HANDLE closed = CreateEventA(NULL, TRUE, TRUE, NULL);
    ok(CloseHandle(closed), "CloseHandle of a fresh event failed, error %u\n", u(GetLastError()));

    struct Row {
        const char* what;
        HANDLE handle;
        bool isThread; // a real handle, of the wrong kind for the event calls
    };
    const Row rows[] = {
        {"NULL", NULL, false},
        {"a handle never issued", kBogusHandle, false},
        {"a closed handle", closed, false},
        {"a thread handle", thread, true},
    };
    for (const Row& row : rows) {
        SetLastError(0xdeadbeef);
        ok(!SetEvent(row.handle) && GetLastError() == ERROR_INVALID_HANDLE, "SetEvent(%s): error %u\n", row.what,
           u(GetLastError()));
        SetLastError(0xdeadbeef);
        ok(!ResetEvent(row.handle) && GetLastError() == ERROR_INVALID_HANDLE, "ResetEvent(%s): error %u\n", row.what,
           u(GetLastError()));
        if (row.isThread)
            continue;
        SetLastError(0xdeadbeef);
        DWORD r = WaitForSingleObject(row.handle, 0);
        ok(r == WAIT_FAILED && GetLastError() == ERROR_INVALID_HANDLE,
           "WaitForSingleObject(%s) answered %#x, error %u\n", row.what, u(r), u(GetLastError()));
        SetLastError(0xdeadbeef);
        ok(!CloseHandle(row.handle) && GetLastError() == ERROR_INVALID_HANDLE, "CloseHandle(%s): error %u\n", row.what,
           u(GetLastError()));
    }
    CloseHandle(thread);
}

CONFORMANCE_TEST(wait_any_reports_lowest_signalled_index) {
    // Three auto-reset events, set as the mask says (bit i for event i). A
    // wait for any answers the lowest set one and takes only that one.
    static const unsigned masks[] = {0x0, 0x1, 0x2, 0x4, 0x3, 0x5, 0x6, 0x7};
    for (unsigned mask : masks) {
        HANDLE e[3];
        for (int i = 0; i < 3; ++i)
            e[i] = CreateEventA(NULL, FALSE, (mask >> i) & 1, NULL);
        DWORD want = WAIT_TIMEOUT;
        for (int i = 2; i >= 0; --i)
            if ((mask >> i) & 1)
                want = WAIT_OBJECT_0 + i;
        DWORD got = WaitForMultipleObjects(3, e, FALSE, 0);
        ok(got == want, "mask %#x: wait for any answered %#x, expected %#x\n", mask, u(got), u(want));
        unsigned left = want == WAIT_TIMEOUT ? mask : mask & ~(1u << (want - WAIT_OBJECT_0));
        for (int i = 0; i < 3; ++i) {
            DWORD r = poll(e[i]);
            ok(r == (((left >> i) & 1) ? WAIT_OBJECT_0 : WAIT_TIMEOUT), "mask %#x: event %d afterwards: %#x\n", mask, i,
               u(r));
            CloseHandle(e[i]);
        }
    }
}

CONFORMANCE_TEST(wait_all_needs_every_object_and_takes_them_together) {
    // Event 1 is manual reset, 0 and 2 auto reset. Until every one is set, a
    // wait for all takes nothing; once it succeeds, the auto-reset ones are
    // taken and the manual one stays set.
    static const unsigned masks[] = {0x0, 0x1, 0x3, 0x5, 0x6, 0x7};
    for (unsigned mask : masks) {
        HANDLE e[3];
        for (int i = 0; i < 3; ++i)
            e[i] = CreateEventA(NULL, i == 1, (mask >> i) & 1, NULL);
        DWORD want = mask == 0x7 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        DWORD got = WaitForMultipleObjects(3, e, TRUE, 0);
        ok(got == want, "mask %#x: wait for all answered %#x, expected %#x\n", mask, u(got), u(want));
        unsigned left = got == WAIT_OBJECT_0 ? 0x2 : mask;
        for (int i = 0; i < 3; ++i) {
            DWORD r = poll(e[i]);
            ok(r == (((left >> i) & 1) ? WAIT_OBJECT_0 : WAIT_TIMEOUT), "mask %#x: event %d afterwards: %#x\n", mask, i,
               u(r));
            CloseHandle(e[i]);
        }
    }
}

namespace {
struct SetLater {
    HANDLE events[3];
    unsigned order[3];
    unsigned count;
};

DWORD WINAPI setOneByOne(LPVOID arg) {
    auto* s = static_cast<SetLater*>(arg);
    for (unsigned i = 0; i < s->count; ++i) {
        Sleep(10);
        SetEvent(s->events[s->order[i]]);
    }
    return 0;
}
} // namespace

CONFORMANCE_TEST(wait_multiple_woken_by_another_thread) {
    // Wait for all: satisfied only by the last of three sets, made one by one.
    SetLater all = {{}, {2, 0, 1}, 3};
    for (HANDLE& e : all.events)
        e = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE t = CreateThread(NULL, 0, setOneByOne, &all, 0, NULL);
    DWORD r = WaitForMultipleObjects(3, all.events, TRUE, kPatience);
    ok(r == WAIT_OBJECT_0, "wait for all answered %#x\n", u(r));
    ok(WaitForSingleObject(t, kPatience) == WAIT_OBJECT_0, "the setting thread did not end\n");
    for (int i = 0; i < 3; ++i)
        ok(poll(all.events[i]) == WAIT_TIMEOUT, "auto-reset event %d was not taken by the wait for all\n", i);
    CloseHandle(t);

    // Wait for any: woken by a set of the last object alone.
    SetLater any = {{all.events[0], all.events[1], all.events[2]}, {2}, 1};
    t = CreateThread(NULL, 0, setOneByOne, &any, 0, NULL);
    r = WaitForMultipleObjects(3, any.events, FALSE, kPatience);
    ok(r == WAIT_OBJECT_0 + 2, "wait for any answered %#x\n", u(r));
    WaitForSingleObject(t, kPatience);
    CloseHandle(t);
    for (HANDLE e : all.events)
        CloseHandle(e);
}

CONFORMANCE_TEST(wait_multiple_argument_errors) {
    HANDLE set = CreateEventA(NULL, FALSE, TRUE, NULL);
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE& h : many)
        h = set;

    struct Row {
        const char* what;
        DWORD count;
        HANDLE second; // the handle after the set event, when count >= 2
        BOOL all;
        DWORD error;
    };
    const Row rows[] = {
        {"no handles (any)", 0, NULL, FALSE, ERROR_INVALID_PARAMETER},
        {"no handles (all)", 0, NULL, TRUE, ERROR_INVALID_PARAMETER},
        {"one more than the maximum", MAXIMUM_WAIT_OBJECTS + 1, set, FALSE, ERROR_INVALID_PARAMETER},
        {"a bogus handle after a set event (any)", 2, kBogusHandle, FALSE, ERROR_INVALID_HANDLE},
        {"a bogus handle after a set event (all)", 2, kBogusHandle, TRUE, ERROR_INVALID_HANDLE},
        {"NULL after a set event", 2, NULL, FALSE, ERROR_INVALID_HANDLE},
    };
    for (const Row& row : rows) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS + 1];
        std::memcpy(handles, many, sizeof(handles));
        if (row.count == 2)
            handles[1] = row.second;
        SetLastError(0xdeadbeef);
        DWORD r = WaitForMultipleObjects(row.count, handles, row.all, 0);
        ok(r == WAIT_FAILED, "%s: answered %#x\n", row.what, u(r));
        ok(GetLastError() == row.error, "%s: error %u, expected %u\n", row.what, u(GetLastError()), u(row.error));
        // A failed wait takes nothing.
        ok(poll(set) == WAIT_OBJECT_0, "%s: the failed wait took the set event\n", row.what);
        SetEvent(set);
    }
    CloseHandle(set);
}
