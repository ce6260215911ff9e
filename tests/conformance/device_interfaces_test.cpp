// Device interfaces: the walk of an interface class and the two-call fetch of
// an interface's path, with the record sizes and errors of the platform.
//
// The display adapter interface class is on every machine (and in Wine); the
// storage-port class has no interface on a machine without a storage
// controller driver, which is the case here.
#include "platform/win32.h"

#include "harness.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

const GUID kDisplayAdapter = {0x5b45201d, 0xf2f2, 0x4f3b, {0x85, 0xbb, 0x30, 0xff, 0x1f, 0x95, 0x35, 0x99}};
const GUID kStoragePort = {0x2accfe60, 0xc130, 0x11d2, {0xb0, 0x82, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

bool endsWithIgnoringCase(const char* text, std::size_t length, const char* tail) {
    std::size_t n = std::strlen(tail);
    if (length < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char a = text[length - n + i], b = tail[i];
        if ((a >= 'A' && a <= 'Z' ? a + 32 : a) != b)
            return false;
    }
    return true;
}

// A call's result and the error it left, taken in that order.
struct Outcome {
    BOOL result;
    DWORD error;
};
template <class Call> Outcome attempt(Call call) {
    SetLastError(0xdeadbeef);
    BOOL result = call();
    return Outcome{result, GetLastError()};
}
bool failsWith(Outcome o, DWORD error) {
    return !o.result && o.error == error;
}

SP_DEVICE_INTERFACE_DATA interfaceRecord() {
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    return data;
}

} // namespace

CONFORMANCE_TEST(interface_walk_ends_with_no_more_items) {
    HDEVINFO set = SetupDiGetClassDevsA(&kDisplayAdapter, NULL, NULL, kPresentInterfaces);
    ok(set != INVALID_HANDLE_VALUE, "no set, error %u\n", u(GetLastError()));
    if (set == INVALID_HANDLE_VALUE)
        return;
    DWORD interfaces = 0;
    for (;; ++interfaces) {
        SP_DEVICE_INTERFACE_DATA data = interfaceRecord();
        SetLastError(0xdeadbeef);
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &kDisplayAdapter, interfaces, &data)) {
            ok(GetLastError() == ERROR_NO_MORE_ITEMS, "walk ended with error %u\n", u(GetLastError()));
            break;
        }
        ok(data.Flags & SPINT_ACTIVE, "interface %u not active: flags %#x\n", u(interfaces), u(data.Flags));
        ok(std::memcmp(&data.InterfaceClassGuid, &kDisplayAdapter, sizeof(GUID)) == 0, "another class\n");
    }
    ok(interfaces >= 1, "no display adapter interface\n");

    // The devices of an interface list are the devices that expose one.
    DWORD devices = 0;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    while (SetupDiEnumDeviceInfo(set, devices, &device))
        ++devices;
    ok(devices >= 1 && devices <= interfaces, "%u devices for %u interfaces\n", u(devices), u(interfaces));

    // With the device as filter, the index counts that device's interfaces.
    ok(SetupDiEnumDeviceInfo(set, 0, &device), "first device, error %u\n", u(GetLastError()));
    SP_DEVICE_INTERFACE_DATA data = interfaceRecord();
    ok(SetupDiEnumDeviceInterfaces(set, &device, &kDisplayAdapter, 0, &data), "device's first interface, error %u\n",
       u(GetLastError()));

    data = interfaceRecord();
    data.cbSize = sizeof data + 1;
    Outcome o = attempt([&] { return SetupDiEnumDeviceInterfaces(set, NULL, &kDisplayAdapter, 0, &data); });
    ok(failsWith(o, ERROR_INVALID_PARAMETER), "a record of another size: %d, error %u\n", o.result, u(o.error));
    ok(SetupDiDestroyDeviceInfoList(set), "destroy, error %u\n", u(GetLastError()));
}

CONFORMANCE_TEST(interface_walk_of_an_absent_class_is_empty) {
    HDEVINFO set = SetupDiGetClassDevsA(&kStoragePort, NULL, NULL, kPresentInterfaces);
    ok(set != INVALID_HANDLE_VALUE, "no set, error %u\n", u(GetLastError()));
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVICE_INTERFACE_DATA data = interfaceRecord();
    Outcome o = attempt([&] { return SetupDiEnumDeviceInterfaces(set, NULL, &kStoragePort, 0, &data); });
    ok(failsWith(o, ERROR_NO_MORE_ITEMS), "first interface: error %u\n", u(o.error));
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    o = attempt([&] { return SetupDiEnumDeviceInfo(set, 0, &device); });
    ok(failsWith(o, ERROR_NO_MORE_ITEMS), "first device: error %u\n", u(o.error));
    SetupDiDestroyDeviceInfoList(set);
}

CONFORMANCE_TEST(interface_detail_sizes) {
    HDEVINFO set = SetupDiGetClassDevsA(&kDisplayAdapter, NULL, NULL, kPresentInterfaces);
    SP_DEVICE_INTERFACE_DATA data = interfaceRecord();
    if (!ok(set != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInterfaces(set, NULL, &kDisplayAdapter, 0, &data),
            "no display adapter interface, error %u\n", u(GetLastError())))
        return;
    const DWORD pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    ok(pathOffset == 4, "path at %u\n", u(pathOffset));
    ok(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 4 ? 5u : 8u), "record of %u bytes\n",
       u(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));

    // The size-only call.
    DWORD required = 0;
    Outcome o = attempt([&] { return SetupDiGetDeviceInterfaceDetailA(set, &data, NULL, 0, &required, NULL); });
    ok(failsWith(o, ERROR_INSUFFICIENT_BUFFER), "size only: error %u\n", u(o.error));
    ok(required > pathOffset + 1 && required < 4096, "required %u\n", u(required));

    std::vector<char> bytes(required + 16, 'x');
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(bytes.data());

    // Only the platform's own record size is taken: 5 is the 32-bit one.
    for (DWORD cb : {DWORD(5), DWORD(6), DWORD(8), DWORD(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + 1)}) {
        if (cb == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            continue;
        detail->cbSize = cb;
        Outcome refused =
            attempt([&] { return SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, NULL, NULL); });
        ok(failsWith(refused, ERROR_INVALID_USER_BUFFER), "cbSize %u: error %u\n", u(cb), u(refused.error));
    }
    o = attempt([&] { return SetupDiGetDeviceInterfaceDetailA(set, &data, NULL, required, NULL, NULL); });
    ok(failsWith(o, ERROR_INVALID_USER_BUFFER), "a size without a record: error %u\n", u(o.error));

    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    o = attempt([&] { return SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, NULL, NULL); });
    ok(failsWith(o, ERROR_INSUFFICIENT_BUFFER), "one byte short: error %u\n", u(o.error));

    SP_DEVINFO_DATA first;
    first.cbSize = sizeof first;
    ok(SetupDiEnumDeviceInfo(set, 0, &first), "first device, error %u\n", u(GetLastError()));
    DWORD again = 0;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    device.DevInst = first.DevInst + 0x77;
    ok(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, &again, &device), "fetch, error %u\n",
       u(GetLastError()));
    std::size_t length = strnlen(detail->DevicePath, required - pathOffset);
    ok(required == pathOffset + length + 1 && again == required, "path of %u characters, required %u then %u\n",
       u(static_cast<DWORD>(length)), u(required), u(again));
    ok(std::strncmp(detail->DevicePath, "\\\\?\\", 4) == 0, "path %s\n", detail->DevicePath);
    ok(endsWithIgnoringCase(detail->DevicePath, length, "#{5b45201d-f2f2-4f3b-85bb-30ff1f953599}"),
       "path %s does not end in the class\n", detail->DevicePath);
    ok(device.DevInst == first.DevInst, "the interface's device not given back\n");
    SetupDiDestroyDeviceInfoList(set);
}
