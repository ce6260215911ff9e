// Opening devices by name, control requests on handles that are not open,
// and the process heap.
#include "platform/win32.h"

#include "harness.h"

#include <cstring>

namespace {

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

HANDLE openDevice(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

} // namespace

CONFORMANCE_TEST(file_open_of_a_missing_device) {
    const char* const missing[] = {
        "\\\\.\\FerrocardNoSuchDevice",
        "\\\\?\\pci#ven_1b2c&dev_ffff&subsys_00000000&rev_00#0&0&0&0#{2accfe60-c130-11d2-b082-00a0c91efb8b}",
    };
    for (const char* path : missing) {
        SetLastError(0xdeadbeef);
        HANDLE h = openDevice(path);
        ok(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND, "%s: handle %p, error %u\n", path, h,
           u(GetLastError()));
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
}

CONFORMANCE_TEST(file_control_request_on_a_bad_handle) {
    BYTE packet[64];
    std::memset(packet, 0, sizeof packet);
    const HANDLE bad[] = {NULL, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x0dead000u))};
    for (HANDLE h : bad) {
        DWORD returned = 0x55;
        SetLastError(0xdeadbeef);
        BOOL r = DeviceIoControl(h, IOCTL_SCSI_MINIPORT, packet, 32, packet, 32, &returned, NULL);
        ok(!r && GetLastError() == ERROR_INVALID_HANDLE, "handle %p: %d, error %u\n", h, r, u(GetLastError()));
    }
}

CONFORMANCE_TEST(heap_blocks) {
    HANDLE heap = GetProcessHeap();
    ok(heap != NULL, "no process heap\n");

    // Zeroed on request, whatever the heap held before.
    const SIZE_T big = 4u << 20;
    BYTE* dirty = static_cast<BYTE*>(HeapAlloc(heap, 0, big));
    ok(dirty != NULL, "no %u bytes\n", u(static_cast<DWORD>(big)));
    if (dirty) {
        std::memset(dirty, 0xA5, big);
        ok(HeapFree(heap, 0, dirty), "free, error %u\n", u(GetLastError()));
    }
    BYTE* zeroed = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, big));
    ok(zeroed != NULL, "no zeroed block\n");
    if (zeroed) {
        SIZE_T nonzero = 0;
        for (SIZE_T i = 0; i < big; ++i)
            nonzero += zeroed[i] != 0;
        ok(nonzero == 0, "%u bytes not zero\n", u(static_cast<DWORD>(nonzero)));
        HeapFree(heap, 0, zeroed);
    }

    // A block of no bytes is a block; freeing nothing succeeds.
    void* empty = HeapAlloc(heap, 0, 0);
    ok(empty != NULL, "no block of no bytes\n");
    ok(HeapFree(heap, 0, empty), "free of the empty block, error %u\n", u(GetLastError()));
    ok(HeapFree(heap, 0, NULL), "free of nothing, error %u\n", u(GetLastError()));

    // More than the address space can hold is refused with no block.
    ok(HeapAlloc(heap, 0, ~static_cast<SIZE_T>(0) - 4096) == NULL, "an impossible block was given\n");
}
