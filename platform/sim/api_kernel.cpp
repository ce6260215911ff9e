// The simulated kernel32 functions.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

using sim::Machine;
using sim::describe;

namespace {
thread_local DWORD tlsLastError = 0;

Machine& M() { return Machine::current(); }
} // namespace

DWORD WINAPI GetLastError() { return tlsLastError; }

void WINAPI SetLastError(DWORD error) { tlsLastError = error; }

DWORD WINAPI GetCurrentThreadId() {
    sim::SimThread* self = sim::Kernel::self();
    return self ? self->id : 0;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCSTR name) {
    Machine& m = M();
    if (auto e = m.enter("CreateEventA", describe(sa, manualReset, initialState, name))) {
        SetLastError(*e);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m.kernel().lock());
    auto event = std::make_shared<sim::EventObject>(manualReset != FALSE, initialState != FALSE);
    SetLastError(ERROR_SUCCESS);
    return m.kernel().addHandle(event, manualReset ? "manual-reset event" : "auto-reset event", sim::HandleSpace::Kernel);
}

namespace {
BOOL setEventState(const char* function, HANDLE h, bool state) {
    Machine& m = M();
    if (auto e = m.enter(function, describe(h))) {
        SetLastError(*e);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(m.kernel().lock());
    auto event = std::dynamic_pointer_cast<sim::EventObject>(m.kernel().lookupObject(h));
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->state = state;
    if (state)
        m.kernel().objectsChanged();
    return TRUE;
}
} // namespace

BOOL WINAPI SetEvent(HANDLE h) { return setEventState("SetEvent", h, true); }

BOOL WINAPI ResetEvent(HANDLE h) { return setEventState("ResetEvent", h, false); }

BOOL WINAPI CloseHandle(HANDLE h) {
    Machine& m = M();
    if (auto e = m.enter("CloseHandle", describe(h))) {
        SetLastError(*e);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(m.kernel().lock());
    if (!m.kernel().closeHandle(h, sim::HandleSpace::Kernel)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID arg,
                           DWORD flags, LPDWORD id) {
    Machine& m = M();
    if (auto e = m.enter("CreateThread", describe(sa, stack, reinterpret_cast<void*>(start), arg, flags))) {
        SetLastError(*e);
        return nullptr;
    }
    if (!start || (flags & CREATE_SUSPENDED)) {
        // Nothing here starts a thread suspended; refuse rather than pretend.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return m.kernel().createThread(start, arg, id);
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code) {
    Machine& m = M();
    if (auto e = m.enter("GetExitCodeThread", describe(h))) {
        SetLastError(*e);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(m.kernel().lock());
    auto thread = std::dynamic_pointer_cast<sim::ThreadObject>(m.kernel().lookupObject(h));
    if (!thread || !code) {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *code = thread->exitCode;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    Machine& m = M();
    if (auto e = m.enter("WaitForSingleObject", describe(h, ms))) {
        SetLastError(*e);
        return WAIT_FAILED;
    }
    return m.kernel().wait(&h, 1, false, ms, "WaitForSingleObject");
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
    Machine& m = M();
    if (auto e = m.enter("WaitForMultipleObjects", describe(count, all, ms))) {
        SetLastError(*e);
        return WAIT_FAILED;
    }
    return m.kernel().wait(handles, count, all != FALSE, ms, "WaitForMultipleObjects");
}

void WINAPI Sleep(DWORD ms) {
    Machine& m = M();
    m.enter("Sleep", describe(ms));
    m.kernel().sleep(ms);
}

DWORD WINAPI GetTickCount() { return M().kernel().tickCount(); }

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    Machine& m = M();
    m.enter("InitializeCriticalSection", describe(static_cast<void*>(cs)));
    m.kernel().initializeCriticalSection(cs);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) { M().kernel().enterCriticalSection(cs); }

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return M().kernel().tryEnterCriticalSection(cs) ? TRUE : FALSE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) { M().kernel().leaveCriticalSection(cs); }

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    Machine& m = M();
    m.enter("DeleteCriticalSection", describe(static_cast<void*>(cs)));
    m.kernel().deleteCriticalSection(cs);
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    Machine& m = M();
    sim::SimThread* self = sim::Kernel::self();
    m.records().debug(m.kernel().now(), self ? self->id : 0, text ? text : "");
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
    // Counted and logged, but never failed: an atomic exchange cannot fail.
    M().enter("InterlockedExchange", describe(const_cast<const LONG*>(target), value));
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
