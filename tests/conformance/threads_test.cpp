// Threads, the per-thread last error, and critical sections.
#include "platform/win32.h"

#include "harness.h"

namespace {

const DWORD kPatience = 5000;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

struct Work {
    int input;
    int output;
    DWORD threadId;
};

DWORD WINAPI doubleInput(LPVOID arg) {
    auto* w = static_cast<Work*>(arg);
    w->output = w->input * 2;
    w->threadId = GetCurrentThreadId();
    return static_cast<DWORD>(w->input) + 100;
}

DWORD WINAPI returnArgument(LPVOID arg) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(arg));
}

struct Gate {
    HANDLE open;
    DWORD code;
};

DWORD WINAPI waitForGate(LPVOID arg) {
    auto* g = static_cast<Gate*>(arg);
    WaitForSingleObject(g->open, kPatience);
    return g->code;
}

} // namespace

CONFORMANCE_TEST(thread_runs_routine_with_argument) {
    Work work = {21, 0, 0};
    DWORD id = 0;
    HANDLE t = CreateThread(NULL, 0, doubleInput, &work, 0, &id);
    ok(t != NULL, "CreateThread failed, error %u\n", u(GetLastError()));
    if (!t)
        return;
    ok(id != 0 && id != GetCurrentThreadId(), "thread id %u (caller %u)\n", u(id), u(GetCurrentThreadId()));
    DWORD r = WaitForSingleObject(t, kPatience);
    ok(r == WAIT_OBJECT_0, "the thread handle was not signalled at exit: %#x\n", u(r));
    ok(work.output == 42, "the routine saw input %d, wrote %d\n", work.input, work.output);
    ok(work.threadId == id, "GetCurrentThreadId in the thread %u, CreateThread reported %u\n", u(work.threadId), u(id));
    DWORD code = 0xdeadbeef;
    ok(GetExitCodeThread(t, &code), "GetExitCodeThread failed, error %u\n", u(GetLastError()));
    ok(code == 121, "exit code %u, expected the routine's result 121\n", u(code));
    // An ended thread stays signalled: every later wait succeeds at once.
    for (int i = 0; i < 2; ++i)
        ok(WaitForSingleObject(t, 0) == WAIT_OBJECT_0, "wait %d on an ended thread did not succeed\n", i);
    ok(CloseHandle(t), "CloseHandle of the thread failed, error %u\n", u(GetLastError()));
}

CONFORMANCE_TEST(thread_exit_codes) {
    static const DWORD codes[] = {0, 1, 42, 0x7fffffff, 0xc0000005, 0xffffffff};
    const unsigned n = sizeof(codes) / sizeof(codes[0]);
    HANDLE threads[n];
    for (unsigned i = 0; i < n; ++i)
        threads[i] =
            CreateThread(NULL, 0, returnArgument, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(codes[i])), 0, NULL);
    DWORD r = WaitForMultipleObjects(n, threads, TRUE, kPatience);
    ok(r == WAIT_OBJECT_0, "the threads did not all end: %#x\n", u(r));
    for (unsigned i = 0; i < n; ++i) {
        DWORD code = 0xdeadbeef;
        ok(GetExitCodeThread(threads[i], &code) && code == codes[i], "thread %u: exit code %#x, expected %#x\n", i,
           u(code), u(codes[i]));
        CloseHandle(threads[i]);
    }
}

CONFORMANCE_TEST(thread_still_active_until_it_returns) {
    Gate gate = {CreateEventA(NULL, TRUE, FALSE, NULL), 7};
    HANDLE t = CreateThread(NULL, 0, waitForGate, &gate, 0, NULL);
    DWORD code = 0xdeadbeef;
    ok(GetExitCodeThread(t, &code), "GetExitCodeThread failed, error %u\n", u(GetLastError()));
    ok(code == STILL_ACTIVE, "exit code %#x while running, expected STILL_ACTIVE\n", u(code));
    ok(WaitForSingleObject(t, 0) == WAIT_TIMEOUT, "a running thread's handle is signalled\n");
    SetEvent(gate.open);
    ok(WaitForSingleObject(t, kPatience) == WAIT_OBJECT_0, "the thread did not end\n");
    code = 0xdeadbeef;
    ok(GetExitCodeThread(t, &code) && code == 7, "exit code %#x after the end, expected 7\n", u(code));
    CloseHandle(t);
    CloseHandle(gate.open);
}

namespace {
struct Relay {
    HANDLE in;
    HANDLE out;
};

DWORD WINAPI relayEvent(LPVOID arg) {
    auto* r = static_cast<Relay*>(arg);
    WaitForSingleObject(r->in, kPatience);
    SetEvent(r->out);
    return 0;
}
} // namespace

CONFORMANCE_TEST(thread_outlives_its_closed_handle) {
    Relay relay = {CreateEventA(NULL, TRUE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE t = CreateThread(NULL, 0, relayEvent, &relay, 0, NULL);
    ok(CloseHandle(t), "CloseHandle of a running thread failed, error %u\n", u(GetLastError()));
    SetEvent(relay.in);
    ok(WaitForSingleObject(relay.out, kPatience) == WAIT_OBJECT_0, "the thread stopped when its handle was closed\n");
    // Give it time to return before its events go.
    Sleep(20);
    CloseHandle(relay.out);
    CloseHandle(relay.in);
}

CONFORMANCE_TEST(thread_calls_on_bad_handles) {
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    const struct {
        const char* what;
        HANDLE handle;
    } rows[] = {
        {"NULL", NULL},
        {"a handle never issued", reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x0dead000u))},
        {"an event", event},
    };
    for (const auto& row : rows) {
        DWORD code = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        ok(!GetExitCodeThread(row.handle, &code), "GetExitCodeThread(%s) succeeded\n", row.what);
        ok(GetLastError() == ERROR_INVALID_HANDLE, "GetExitCodeThread(%s): error %u\n", row.what, u(GetLastError()));
    }
    CloseHandle(event);
}

namespace {
struct LastErrors {
    HANDLE ready;
    HANDLE go;
    DWORD initial;
    DWORD afterOwnSet;
    DWORD afterMainSet;
};

DWORD WINAPI keepOwnLastError(LPVOID arg) {
    auto* s = static_cast<LastErrors*>(arg);
    s->initial = GetLastError();
    SetLastError(0x5678);
    s->afterOwnSet = GetLastError();
    SetEvent(s->ready);
    WaitForSingleObject(s->go, kPatience);
    s->afterMainSet = GetLastError();
    SetLastError(0x9999);
    return 0;
}
} // namespace

CONFORMANCE_TEST(last_error_is_per_thread) {
    LastErrors s = {CreateEventA(NULL, FALSE, FALSE, NULL), CreateEventA(NULL, FALSE, FALSE, NULL), 0xdeadbeef,
                    0xdeadbeef, 0xdeadbeef};
    SetLastError(0x1234);
    HANDLE t = CreateThread(NULL, 0, keepOwnLastError, &s, 0, NULL);
    WaitForSingleObject(s.ready, kPatience);
    SetLastError(0x4321);
    SetEvent(s.go);
    WaitForSingleObject(t, kPatience);
    ok(GetLastError() == 0x4321, "the caller's last error became %#x\n", u(GetLastError()));
    ok(s.initial == 0, "a new thread starts with last error %#x\n", u(s.initial));
    ok(s.afterOwnSet == 0x5678, "the thread read back %#x\n", u(s.afterOwnSet));
    ok(s.afterMainSet == 0x5678, "the caller's SetLastError reached the thread: %#x\n", u(s.afterMainSet));
    SetLastError(0);
    ok(GetLastError() == 0, "SetLastError(0) did not hold\n");
    CloseHandle(t);
    CloseHandle(s.ready);
    CloseHandle(s.go);
}

namespace {
struct Counter {
    CRITICAL_SECTION lock;
    int inside;
    int overlaps;
    int total;
};

const int kWorkers = 3;
const int kRounds = 40;

DWORD WINAPI countUnderLock(LPVOID arg) {
    auto* c = static_cast<Counter*>(arg);
    for (int i = 0; i < kRounds; ++i) {
        EnterCriticalSection(&c->lock);
        if (c->inside)
            ++c->overlaps;
        c->inside = 1;
        int seen = c->total;
        // Now and then hold the lock across a real wait, so the others queue on it.
        if (i % 10 == 0)
            Sleep(1);
        c->total = seen + 1;
        c->inside = 0;
        LeaveCriticalSection(&c->lock);
    }
    return 0;
}

// From another thread: can it take the lock right now? Leaves it as found.
DWORD WINAPI tryFromElsewhere(LPVOID arg) {
    auto* cs = static_cast<CRITICAL_SECTION*>(arg);
    if (!TryEnterCriticalSection(cs))
        return 0;
    LeaveCriticalSection(cs);
    return 1;
}

DWORD tryOnAnotherThread(CRITICAL_SECTION* cs) {
    HANDLE t = CreateThread(NULL, 0, tryFromElsewhere, cs, 0, NULL);
    DWORD code = 0xdeadbeef;
    if (WaitForSingleObject(t, kPatience) != WAIT_OBJECT_0 || !GetExitCodeThread(t, &code))
        code = 0xdeadbeef;
    CloseHandle(t);
    return code;
}

struct Blocked {
    CRITICAL_SECTION* cs;
    HANDLE entered;
};

DWORD WINAPI enterAndSignal(LPVOID arg) {
    auto* b = static_cast<Blocked*>(arg);
    EnterCriticalSection(b->cs);
    SetEvent(b->entered);
    LeaveCriticalSection(b->cs);
    return 0;
}
} // namespace

CONFORMANCE_TEST(critical_section_mutual_exclusion) {
    Counter c = {};
    InitializeCriticalSection(&c.lock);
    HANDLE threads[kWorkers];
    for (HANDLE& t : threads)
        t = CreateThread(NULL, 0, countUnderLock, &c, 0, NULL);
    DWORD r = WaitForMultipleObjects(kWorkers, threads, TRUE, kPatience);
    ok(r == WAIT_OBJECT_0, "the workers did not all end: %#x\n", u(r));
    ok(c.overlaps == 0, "%d times two threads were inside together\n", c.overlaps);
    ok(c.total == kWorkers * kRounds, "total %d, expected %d: updates were lost\n", c.total, kWorkers * kRounds);
    for (HANDLE t : threads)
        CloseHandle(t);
    DeleteCriticalSection(&c.lock);
}

CONFORMANCE_TEST(critical_section_recursion_and_try_enter) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    ok(tryOnAnotherThread(&cs) == 1, "another thread could not take a free lock\n");

    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    ok(TryEnterCriticalSection(&cs), "the owner could not take its own lock again\n");
    // Held three times: free only after the third leave.
    for (int held = 3; held > 0; --held) {
        ok(tryOnAnotherThread(&cs) == 0, "another thread took the lock held %d times by this one\n", held);
        LeaveCriticalSection(&cs);
    }
    ok(tryOnAnotherThread(&cs) == 1, "the lock stayed held after as many leaves as enters\n");

    // A blocked EnterCriticalSection goes on once the owner leaves.
    EnterCriticalSection(&cs);
    Blocked b = {&cs, CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE t = CreateThread(NULL, 0, enterAndSignal, &b, 0, NULL);
    ok(WaitForSingleObject(b.entered, 30) == WAIT_TIMEOUT, "another thread entered a held lock\n");
    LeaveCriticalSection(&cs);
    ok(WaitForSingleObject(b.entered, kPatience) == WAIT_OBJECT_0, "the waiting thread never entered\n");
    ok(WaitForSingleObject(t, kPatience) == WAIT_OBJECT_0, "the waiting thread did not end\n");
    CloseHandle(t);
    CloseHandle(b.entered);
    DeleteCriticalSection(&cs);
}
