// The simulated file, device-control and heap functions of kernel32.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

using sim::describe;
using sim::Machine;

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                          DWORD flags, HANDLE templateFile) {
    Machine& m = Machine::current();
    sim::TimedCall timed(m);
    if (auto e = m.enter("CreateFileA", describe(path, access, share, sa, disposition, flags, templateFile))) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    return m.files().create(path, access, share, disposition);
}

BOOL WINAPI DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                            LPOVERLAPPED overlapped) {
    Machine& m = Machine::current();
    sim::TimedCall timed(m);
    if (auto e = m.enter("DeviceIoControl", describe(h, code, inSize, outSize))) {
        if (returned)
            *returned = 0;
        SetLastError(*e);
        return FALSE;
    }
    return m.files().control(h, code, in, inSize, out, outSize, returned, overlapped);
}

// Reads the process's own record on Windows: it cannot fail, and is no
// call worth a record either.
HANDLE WINAPI GetProcessHeap() {
    return Machine::current().heap().handle();
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    Machine& m = Machine::current();
    sim::TimedCall timed(m);
    if (m.enter("HeapAlloc", describe(heap, flags, bytes)))
        return nullptr;
    return m.heap().allocate(heap, flags, bytes);
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    Machine& m = Machine::current();
    sim::TimedCall timed(m);
    if (auto e = m.enter("HeapFree", describe(heap, flags, block))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.heap().free(heap, flags, block);
}
